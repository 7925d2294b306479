#include "AssetDatabaseWriter.h"

#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/strings/StringInterner.h"
#include "quern/strings/Hashes.h"

#include <cstring>

namespace quern::assetbuild {
namespace {

using serialize::PODComponent;
using serialize::PODKind;
using serialize::PODTypeDescriptor;

// The record as the reader keeps it.
struct AssetRecord {
    char name[kAssetNameCapacity];
    u64 assetId;
    u64 typeId;
    u64 further[3];
    u32 gameValue;
    u32 reserved;
};
static_assert(sizeof(AssetRecord) == 304);

constexpr PODComponent kRecordComponents[] = {
    {256, PODKind::Signed, 8}, {5, PODKind::Unsigned, 64}, {1, PODKind::Unsigned, 32}, {1, PODKind::Unsigned, 32}};
constexpr PODTypeDescriptor kRecordDescriptor{4, kRecordComponents};
static_assert(kRecordDescriptor.byteSize() == 304);

constexpr PODComponent kPairComponents[] = {{2, PODKind::Unsigned, 64}};
constexpr PODTypeDescriptor kPairDescriptor{1, kPairComponents};

void writeCount(serialize::PODToken& token, std::ostream& out, u64 count, const char* name)
{
    const u32 value = static_cast<u32>(count);
    token.writePOD(out, &value, 1, &serialize::kU32Descriptor, name);
}

} // namespace

bool writeAssetDatabase(std::ostream& out, const std::string& databaseName, const std::vector<BuiltAsset>& assets,
                        const std::vector<std::string>& texts, std::string& error)
{
    if (databaseName.size() >= kAssetNameCapacity) {
        error = "the database name is longer than 255 bytes";
        return false;
    }
    std::vector<AssetRecord> records;
    std::vector<u64> pairs;
    for (const BuiltAsset& asset : assets) {
        if (asset.name.size() >= kAssetNameCapacity) {
            error = "asset name longer than 255 bytes: " + asset.name;
            return false;
        }
        AssetRecord record{};
        std::memcpy(record.name, asset.name.data(), asset.name.size());
        record.assetId = asset.assetId;
        record.typeId = asset.typeId;
        record.gameValue = asset.gameValue;
        records.push_back(record);
        for (u64 dependency : asset.dependencies) {
            pairs.push_back(asset.assetId);
            pairs.push_back(dependency);
        }
    }

    serialize::BinaryPODToken token;
    const u32 start = token.beginWriteChunk(out, kAssetDatabaseChunkId);
    writeCount(token, out, kAssetDatabaseVersion, "version");
    token.writeString(out, databaseName.c_str(), "name");
    writeCount(token, out, records.size(), "recordCount");
    token.writePOD(out, records.data(), records.size(), &kRecordDescriptor, "records");
    writeCount(token, out, pairs.size() / 2, "dependencyCount");
    token.writePOD(out, pairs.data(), pairs.size() / 2, &kPairDescriptor, "dependencies");
    writeCount(token, out, 0, "extraCount");
    strings::StringInterner interner;
    for (const std::string& text : texts)
        interner.internIndex(text.data(), text.size());
    serialize::writeStringInterner(out, token, interner);
    token.endWriteChunk(out, start);
    out.flush();
    if (!out) {
        error = "cannot write the asset database";
        return false;
    }
    return true;
}

} // namespace quern::assetbuild
