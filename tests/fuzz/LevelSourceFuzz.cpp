// The content tool's level-source reader on arbitrary text: a source it
// accepts must write a world file that the engine loads with the game's model.

#include "FuzzSupport.h"

#include "LevelSource.h"
#include "SnapboxCheck.h"

#include "harmonize/components/ComponentTypes.h"

#include "quern/entity/World.h"
#include "quern/entity/WorldFile.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    fuzz::initialize();
    assetbuild::WorldDocument document;
    std::string error;
    if (!assetbuild::readLevelSource(std::string(reinterpret_cast<const char*>(data), size), "fuzz", document, error))
        return 0;
    std::ostringstream out;
    serialize::BinaryPODToken token;
    if (!assetbuild::writeWorldFile(out, token, document, error))
        return 0;
    const std::string file = out.str();
    // An accepted level that the engine refuses is a fault of the tool.
    if (!fuzz::runGuarded([&] {
            entity::World world;
            StringSource source(file.data(), file.size());
            serialize::BinaryPODToken reader;
            entity::loadWorld(source, reader, world, 0, nullptr, "fuzz");
            if (!harmonize::matchesComponentSizeTable(world))
                std::abort();
        }))
        std::abort();
    // The tool's snap-box check runs the game's pair search over whatever the
    // level holds; it may refuse the level or end in the fatal path, nothing else.
    std::string refusal;
    fuzz::runGuarded([&] {
        assetbuild::checkSnapboxClusters(std::vector<u8>(file.begin(), file.end()), "fuzz", refusal);
    });
    return 0;
}
