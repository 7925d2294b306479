#include "CatalogueContent.h"

#include "ExternalProgram.h"

#include "quern/containers/Array.h"
#include "quern/strings/ImportMO.h"
#include "quern/strings/PackedName.h"
#include "quern/strings/StringInterner.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace quern::assetbuild {

bool convertCatalogueContent(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error)
{
    static const u64 kCatalogueType = packName("catalogue");
    if (packName(asset.type.c_str()) != kCatalogueType)
        return true;
    const std::string where = "line " + std::to_string(asset.line) + ": catalogue " + asset.name + " ";
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
    // The engine reads the catalogue strictly in msgfmt's layout; one it could
    // not import would stop every level that names it.
    strings::StringInterner interner;
    containers::Array keys(sizeof(strings::TranslationKeys), alignof(strings::TranslationKeys));
    std::istringstream check(std::string(mo.begin(), mo.end()));
    if (mo.empty() || !strings::importMO(check, interner, keys)) {
        error = where + "compiled into a file the engine cannot import";
        return false;
    }
    bytes = mo;
    return true;
}

} // namespace quern::assetbuild
