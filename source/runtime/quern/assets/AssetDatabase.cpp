#include "quern/assets/AssetDatabase.h"

#include "quern/io/ByteSource.h"
#include "quern/io/FilePath.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/PODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/strings/Format.h"
#include "quern/strings/Hashes.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <utility>
#include <vector>

namespace quern::assets {
namespace {

using serialize::PODComponent;
using serialize::PODKind;
using serialize::PODTypeDescriptor;

constexpr PODComponent kRecordComponents[] = {
    {256, PODKind::Signed, 8}, {5, PODKind::Unsigned, 64}, {1, PODKind::Unsigned, 32}, {1, PODKind::Unsigned, 32}};
constexpr PODTypeDescriptor kRecordDescriptor{4, kRecordComponents};
static_assert(kRecordDescriptor.byteSize() == sizeof(AssetRecord));

constexpr PODComponent kPairComponents[] = {{2, PODKind::Unsigned, 64}};
constexpr PODTypeDescriptor kPairDescriptor{1, kPairComponents};
static_assert(kPairDescriptor.byteSize() == sizeof(DependencyPair));

constexpr PODComponent kExtraComponents[] = {{3, PODKind::Unsigned, 64}};
constexpr PODTypeDescriptor kExtraDescriptor{1, kExtraComponents};
static_assert(kExtraDescriptor.byteSize() == sizeof(AssetExtraRecord));

[[noreturn]] void failDatabase(const char* fileName, const char* what)
{
    QUERN_FATAL(strings::format<512>("Invalid asset database %s: %s", fileName, what).c_str());
}

struct Reader {
    ByteSource& source;
    serialize::PODToken& token;
    const char* fileName;
    // Records take at least one byte each in the text form and their full
    // size in the binary form.
    bool binary;

    u32 readU32()
    {
        u32 value = 0;
        token.readPOD(source, &value, 1, &serialize::kU32Descriptor);
        return value;
    }

    // Reads a count and the records after it into `array`.
    void readRecords(containers::Array& array, const PODTypeDescriptor& descriptor, const char* what)
    {
        const u32 count = readU32();
        const u64 remaining = source.size() > source.position ? source.size() - source.position : 0;
        const u64 least = binary ? descriptor.byteSize() : 1;
        if (u64{count} * least > remaining)
            failDatabase(fileName, strings::format<128>("%u %s do not fit in the file", count, what).c_str());
        array.clear();
        array.expand(count);
        token.readPOD(source, array.data(), count, &descriptor);
    }
};

} // namespace

AssetDatabase::AssetDatabase(memory::Allocator* allocator)
    : m_name(allocator), m_records(sizeof(AssetRecord), 8, allocator),
      m_dependencies(sizeof(DependencyPair), 8, allocator), m_extraRecords(sizeof(AssetExtraRecord), 8, allocator)
{
}

void AssetDatabase::clear()
{
    m_name.assign("");
    m_idMap.clear();
    m_records.clear();
    m_dependencies.clear();
    m_extraRecords.clear();
    m_strings.clear();
}

void AssetDatabase::buildIndex()
{
    DependencyPair* pairs = m_dependencies.dataAs<DependencyPair>();
    std::stable_sort(pairs, pairs + m_dependencies.count(),
                     [](const DependencyPair& a, const DependencyPair& b) { return a.assetId < b.assetId; });
    m_idMap.clear();
    for (u64 i = 0; i < m_records.count(); ++i) {
        const u64 id = record(i).assetId;
        if (id != 0)
            m_idMap.try_emplace(id, i);
    }
}

bool readAssetDatabase(ByteSource& source, serialize::PODToken& token, AssetDatabase& database, const char* fileName)
{
    if (!fileName)
        fileName = "assets.db";
    u8 first = 0;
    const u64 start = source.position;
    if (start < source.size()) {
        source.read(&first, 1);
        source.position = start;
    }
    Reader reader{source, token, fileName, !serialize::isTextPODForm(first)};

    database.clear();
    const u32 chunk = serialize::expectChunk(source, token, kAssetDatabaseChunkId);
    if (reader.readU32() != kAssetDatabaseVersion)
        return false;

    char name[kAssetNameCapacity];
    token.readString(source, name, sizeof name);
    database.m_name.assign(name);

    reader.readRecords(database.m_records, kRecordDescriptor, "asset records");
    for (u64 i = 0; i < database.recordCount(); ++i) {
        const AssetRecord& record = database.record(i);
        if (std::memchr(record.name, 0, sizeof record.name) == nullptr)
            failDatabase(fileName,
                         strings::format<128>("the name of asset record %llu is not terminated",
                                              static_cast<unsigned long long>(i))
                             .c_str());
    }
    reader.readRecords(database.m_dependencies, kPairDescriptor, "dependency pairs");
    reader.readRecords(database.m_extraRecords, kExtraDescriptor, "extra records");
    serialize::readStringInterner(source, token, database.m_strings);
    token.endReadChunk(source, chunk);

    database.buildIndex();
    return true;
}

const AssetRecord* AssetDatabase::findAsset(u64 id) const
{
    auto it = m_idMap.find(id);
    return it == m_idMap.end() ? nullptr : &record(it->second);
}

const char* AssetDatabase::getAssetName(u64 id) const
{
    const AssetRecord* found = findAsset(id);
    return found ? found->name : nullptr;
}

void AssetDatabase::collectDependencies(u64 id, containers::Array& out) const
{
    out.reserve(out.count() + m_records.count());
    const DependencyPair* pairs = m_dependencies.dataAs<DependencyPair>();
    const DependencyPair* end = pairs + m_dependencies.count();
    auto runOf = [pairs, end](u64 asset) {
        const auto less = [](const DependencyPair& pair, u64 value) { return pair.assetId < value; };
        const DependencyPair* first = std::lower_bound(pairs, end, asset, less);
        const DependencyPair* last = first;
        while (last != end && last->assetId == asset)
            ++last;
        return std::pair{first, last};
    };

    // Depth-first with an explicit stack: a long chain of dependencies in a
    // file cannot exhaust the thread's stack.
    std::unordered_set<u64> collected;
    for (u64 i = 0; i < out.count(); ++i)
        collected.insert(out.at<u64>(i));
    std::vector<std::pair<const DependencyPair*, const DependencyPair*>> stack{runOf(id)};
    while (!stack.empty()) {
        auto& [next, last] = stack.back();
        if (next == last) {
            stack.pop_back();
            continue;
        }
        const u64 dependency = (next++)->dependencyId;
        if (!collected.insert(dependency).second)
            continue;
        out.append(dependency);
        stack.push_back(runOf(dependency));
    }

    containers::Array shrunk(out.count(), out.elementSize(), out.alignment(), out.allocator());
    if (out.count() != 0)
        std::memcpy(shrunk.data(), out.data(), out.usedBytes());
    out = std::move(shrunk);
}

u64 AssetDatabase::findWorldScript() const
{
    strings::String path;
    io::exportScenesListPath(m_name.c_str(), path);
    const u64 length = std::min<u64>(path.length(), kAssetNameCapacity - 1);
    const u64 id = strings::murmurHash64A(path.c_str(), length, 0);
    return m_idMap.count(id) != 0 ? id : 0;
}

} // namespace quern::assets
