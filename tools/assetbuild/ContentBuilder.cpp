#include "ContentBuilder.h"
#include "MeshContent.h"

#include "AssetDatabaseWriter.h"
#include "CatalogueContent.h"
#include "GraphicsContent.h"
#include "KeyframeClipWriter.h"
#include "LevelListWriter.h"
#include "LevelSource.h"
#include "MaterialWriter.h"
#include "MediaContent.h"
#include "RunLengthCodec.h"
#include "ShaderProgramContent.h"
#include "SoundLibraryWriter.h"
#include "SoundRecipe.h"
#include "StringTableWriter.h"
#include "TextureContent.h"
#include "WorldWriter.h"

#include "quern/strings/Hashes.h"
#include "quern/strings/PackedName.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace quern::assetbuild {
namespace {

namespace fs = std::filesystem;

constexpr u32 kIndexMagic = 0x786f6c62; // "blox"
constexpr u32 kIndexVersion = 2;

void putU32(std::vector<u8>& out, u32 value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<u8>(value >> (i * 8)));
}

void putU64(std::vector<u8>& out, u64 value)
{
    putU32(out, static_cast<u32>(value));
    putU32(out, static_cast<u32>(value >> 32));
}

bool readWholeFile(const fs::path& path, std::vector<u8>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in || fs::is_directory(path))
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

bool writeWholeFile(const fs::path& path, const std::vector<u8>& bytes, std::string& error)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}

bool packWord(const std::string& word, const char* what, const ManifestAsset& asset, u64& id, std::string& error)
{
    if (!isValidPackedName(word.c_str())) {
        error = "line " + std::to_string(asset.line) + ": " + what + " \"" + word +
                "\" is not a name of up to 12 letters and digits starting with a letter";
        return false;
    }
    id = packName(word.c_str());
    return true;
}

std::string hexPath(u64 id)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (int i = 15; i >= 0; --i) {
        text.push_back(kDigits[(id >> (i * 4)) & 0xf]);
        if (i == 14)
            text.push_back('/');
    }
    return text;
}

std::string blobFileName(u64 blobId)
{
    if (blobId == 0)
        return "misc.blob";
    return unpackName(blobId).c_str() + std::string(".blob");
}

// World scripts are checked against the types of the assets they name and
// the level list that ends them, so they are built after everything else.
bool convertWorldScripts(const Manifest& manifest, const std::map<std::string, u64>& ids,
    std::vector<BuiltAsset>& assets, std::string& error)
{
    WorldScriptAssets known;
    for (size_t i = 0; i < manifest.assets.size(); ++i) {
        const ManifestAsset& entry = manifest.assets[i];
        known.typeWords[entry.name] = entry.type;
        if (entry.type == "levellist")
            known.levelListEntries[entry.name] = levelListWorldEntryCount(assets[i].bytes);
    }
    for (size_t i = 0; i < manifest.assets.size(); ++i)
        if (!convertWorldScriptContent(manifest.assets[i], ids, known, assets[i].bytes, error))
            return false;
    return true;
}

} // namespace

bool loadAssets(const Manifest& manifest, const std::string& sourceDirectory, std::vector<BuiltAsset>& assets,
                std::string& error)
{
    std::map<std::string, u64> ids;
    std::map<std::string, const ManifestAsset*> entries;
    std::set<u64> seenIds;
    for (const ManifestAsset& entry : manifest.assets) {
        const u64 id = strings::murmurHash64A(entry.name.data(), entry.name.size(), 0);
        if (ids.count(entry.name) || !seenIds.insert(id).second) {
            error = "line " + std::to_string(entry.line) + ": asset " + entry.name + " is listed twice";
            return false;
        }
        ids[entry.name] = id;
        entries[entry.name] = &entry;
    }
    for (const ManifestAsset& entry : manifest.assets) {
        BuiltAsset asset;
        asset.name = entry.name;
        asset.assetId = ids[entry.name];
        if (!packWord(entry.type, "type word", entry, asset.typeId, error))
            return false;
        if (!entry.blob.empty() && entry.blob != "misc" && !packWord(entry.blob, "blob name", entry, asset.blobId, error))
            return false;
        asset.runLength = entry.codec == "rle";
        asset.gameValue = entry.gameValue;
        for (const std::string& dependency : entry.dependencies) {
            auto found = ids.find(dependency);
            if (found == ids.end()) {
                error = "line " + std::to_string(entry.line) + ": dependency " + dependency + " of " + entry.name +
                        " is not in the manifest";
                return false;
            }
            asset.dependencies.push_back(found->second);
        }
        const fs::path file = fs::path(sourceDirectory) / entry.name;
        if (!readWholeFile(file, asset.bytes)) {
            error = "line " + std::to_string(entry.line) + ": cannot read " + file.string();
            return false;
        }
        if (!convertWorldContent(entry, asset.bytes, error))
            return false;
        if (!convertLevelListContent(entry, ids, asset.bytes, error))
            return false;
        if (!convertLevelContent(entry, asset.bytes, error))
            return false;
        if (!convertMaterialContent(entry, ids, entries, asset.bytes, error))
            return false;
        if (!convertShaderProgramContent(entry, asset.bytes, error))
            return false;
        if (!convertTextureContent(entry, sourceDirectory, asset.bytes, error))
            return false;
        if (!convertSoundRecipe(entry, asset.bytes, error))
            return false;
        if (!convertCatalogueContent(entry, asset.bytes, error))
            return false;
        if (!checkMediaContent(entry, asset.bytes, error))
            return false;
        if (!convertGraphicsContent(entry, sourceDirectory, ids, asset.bytes, error))
            return false;
        if (!convertSoundLibraryContent(entry, ids, asset.bytes, error))
            return false;
        if (!convertMeshContent(entry, asset.bytes, error))
            return false;
        if (!convertKeyframeClipContent(entry, asset.bytes, error))
            return false;
        assets.push_back(std::move(asset));
    }
    return convertWorldScripts(manifest, ids, assets, error);
}

bool writeFileSystemDepot(const std::vector<BuiltAsset>& assets, const std::string& outDirectory, std::string& error)
{
    for (const BuiltAsset& asset : assets) {
        const fs::path path = fs::path(outDirectory) / hexPath(asset.assetId);
        std::error_code code;
        fs::create_directories(path.parent_path(), code);
        if (code) {
            error = "cannot create " + path.parent_path().string() + ": " + code.message();
            return false;
        }
        if (!writeWholeFile(path, asset.bytes, error))
            return false;
    }
    return true;
}

bool writeBlobDepot(const std::vector<BuiltAsset>& assets, const std::string& outDirectory, std::string& error)
{
    if (assets.empty()) {
        error = "a blob index needs at least one asset";
        return false;
    }
    std::map<u64, std::vector<u8>> blobs;
    std::vector<u8> index;
    putU32(index, kIndexMagic);
    putU32(index, kIndexVersion);
    putU32(index, static_cast<u32>(assets.size()));
    for (const BuiltAsset& asset : assets) {
        std::vector<u8>& blob = blobs[asset.blobId];
        const std::vector<u8> stored =
            asset.runLength ? runLengthEncode(asset.bytes.data(), asset.bytes.size()) : asset.bytes;
        putU64(index, asset.assetId);
        putU64(index, blob.size());
        putU64(index, stored.size());
        putU64(index, asset.bytes.size());
        putU64(index, asset.blobId);
        putU64(index, 0);
        putU32(index, asset.runLength ? kRunLengthTag : 0);
        putU32(index, 0);
        blob.insert(blob.end(), stored.begin(), stored.end());
    }
    std::error_code code;
    fs::create_directories(outDirectory, code);
    if (!writeWholeFile(fs::path(outDirectory) / "assets.index", index, error))
        return false;
    for (const auto& [blobId, bytes] : blobs)
        if (!writeWholeFile(fs::path(outDirectory) / blobFileName(blobId), bytes, error))
            return false;
    return true;
}

bool buildContent(const BuildOptions& options, std::string& error)
{
    if (options.depotKind != "files" && options.depotKind != "blob") {
        error = "unknown depot kind " + options.depotKind + " (files or blob)";
        return false;
    }
    std::ifstream in(options.manifestPath, std::ios::binary);
    if (!in) {
        error = "cannot read the manifest " + options.manifestPath;
        return false;
    }
    const std::string text(std::istreambuf_iterator<char>(in), {});
    Manifest manifest;
    if (!parseManifest(text, manifest, error))
        return false;
    std::vector<BuiltAsset> assets;
    if (!loadAssets(manifest, options.sourceDirectory, assets, error))
        return false;
    std::error_code code;
    fs::create_directories(options.outDirectory, code);
    const bool depotWritten = options.depotKind == "files"
                                  ? writeFileSystemDepot(assets, options.outDirectory, error)
                                  : writeBlobDepot(assets, options.outDirectory, error);
    if (!depotWritten)
        return false;
    std::ofstream database(fs::path(options.outDirectory) / "assets.db", std::ios::binary | std::ios::trunc);
    if (!database) {
        error = "cannot write " + (fs::path(options.outDirectory) / "assets.db").string();
        return false;
    }
    if (!writeAssetDatabase(database, options.databaseName, assets, options.strings, error))
        return false;
    const fs::path texts = fs::path(options.outDirectory) / kStringTableFileName;
    return writeStringTableFile(options.localisedTextPath, texts.string(), error);
}

} // namespace quern::assetbuild
