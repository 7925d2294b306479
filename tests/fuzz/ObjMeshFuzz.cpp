// The content tool's OBJ reader on arbitrary text: a source it accepts must
// write a mesh file, in either token form, that the engine loads.

#include "FuzzSupport.h"

#include "MeshContent.h"

#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/visuals/MeshSerialization.h"
#include "quern/visuals/MeshVisual.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    fuzz::initialize();
    assetbuild::MeshDocument mesh;
    std::string error;
    if (!assetbuild::parseObjMesh(std::vector<u8>(data, data + size), "fuzz", mesh, error))
        return 0;
    std::ostringstream out;
    serialize::BinaryPODToken binary;
    serialize::TextPODToken text;
    assetbuild::writeMeshFile(out, mesh.text ? static_cast<serialize::PODToken&>(text) : binary, mesh);
    const std::string file = out.str();
    // An accepted source that the engine refuses is a fault of the tool.
    if (!fuzz::runGuarded([&] {
            Ref held(new visuals::MeshVisual);
            StringSource source(file.data(), file.size());
            visuals::readMesh(
                source, mesh.text ? static_cast<serialize::PODToken&>(text) : binary, *held.get<visuals::MeshVisual>());
        }))
        std::abort();
    return 0;
}
