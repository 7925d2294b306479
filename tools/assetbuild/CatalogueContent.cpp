#include "CatalogueContent.h"

#include "ExternalProgram.h"

#include "quern/containers/Array.h"
#include "quern/strings/ImportMO.h"
#include "quern/strings/PackedName.h"
#include "quern/strings/StringInterner.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace quern::assetbuild {
namespace {

// The engine reads a catalogue strictly in msgfmt's layout, and a level that
// names one it cannot import stops the game; a catalogue that ends early is
// fatal there, so the whole file is checked against its own tables first.
bool importable(const std::vector<u8>& mo)
{
    // What the importer reads, in its order: the header, both entry tables,
    // the hash table, then every text with its zero byte (the last zero byte
    // may be missing).
    const auto word = [&mo](u64 at) {
        return static_cast<u64>(mo[at]) | static_cast<u64>(mo[at + 1]) << 8 | static_cast<u64>(mo[at + 2]) << 16
            | static_cast<u64>(mo[at + 3]) << 24;
    };
    constexpr u64 kHeaderBytes = 28;
    if (mo.size() < kHeaderBytes)
        return false;
    const u64 count = word(8);
    u64 needed = kHeaderBytes + count * 16 + word(20) * 4;
    if (needed > mo.size())
        return false;
    for (u64 i = 0; i < 2 * count; ++i)
        needed += word(kHeaderBytes + i * 8) + 1;
    if (needed - 1 > mo.size())
        return false;
    strings::StringInterner interner;
    containers::Array keys(sizeof(strings::TranslationKeys), alignof(strings::TranslationKeys));
    std::istringstream check(std::string(mo.begin(), mo.end()));
    return strings::importMO(check, interner, keys);
}

} // namespace

bool convertCatalogueContent(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error)
{
    static const u64 kCatalogueType = packName("catalogue");
    if (packName(asset.type.c_str()) != kCatalogueType)
        return true;
    const std::string where = "line " + std::to_string(asset.line) + ": catalogue " + asset.name + " ";
    // A catalogue compiled already is stored as it is, once the engine's
    // importer takes it.
    u32 magic = 0;
    if (bytes.size() >= sizeof magic)
        std::memcpy(&magic, bytes.data(), sizeof magic);
    if (magic == strings::kMOMagic) {
        if (!importable(bytes)) {
            error = where + "is a compiled catalogue the engine cannot import";
            return false;
        }
        return true;
    }
    const ScratchFolder folder("assetbuild-catalogue");
    if (!folder.made()) {
        error = where + "cannot be built: no temporary folder";
        return false;
    }
    const std::string source = folder.file("messages.po");
    const std::string compiled = folder.file("messages.mo");
    {
        std::ofstream out(source, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            error = where + "cannot be built: the temporary source cannot be written";
            return false;
        }
    }
    // A translation whose format directives differ from its source's is
    // refused; msgfmt's own messages go to the tool's standard error.
    if (!runProgram({ "msgfmt", "--check-format", "-o", compiled, source })) {
        error = where + "is not a catalogue msgfmt compiles (see its messages above)";
        return false;
    }
    std::ifstream in(compiled, std::ios::binary);
    const std::vector<u8> mo((std::istreambuf_iterator<char>(in)), {});
    if (!importable(mo)) {
        error = where + "compiled into a file the engine cannot import";
        return false;
    }
    bytes = mo;
    return true;
}

} // namespace quern::assetbuild
