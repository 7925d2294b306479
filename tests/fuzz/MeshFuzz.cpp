// The mesh reader on arbitrary bytes, in whichever token form the first byte
// selects. What it accepts is then walked the way the renderer and picking
// walk it (triangles by index, bounds from positions, a ray pick), so an index or count
// that slipped past the reader shows as a read outside a buffer.

#include "FuzzSupport.h"

#include "quern/io/StringSource.h"
#include "quern/math/Ray.h"
#include "quern/serialize/PODUtility.h"
#include "quern/visuals/MeshSerialization.h"
#include "quern/visuals/MeshVisual.h"
#include "quern/visuals/SubMesh.h"

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    fuzz::initialize();
    fuzz::runGuarded([&] {
        Ref held(new visuals::MeshVisual);
        visuals::MeshVisual& mesh = *held.get<visuals::MeshVisual>();
        StringSource source(data, size);
        visuals::readMesh(source, serialize::selectPODToken(source), mesh);
        mesh.computeVolume();
        for (u64 i = 0; i < mesh.subMeshCount(); ++i)
            mesh.subMesh(i)->updateBounds(mesh.vertexBuffer());
        // Picking builds the triangle list and octree from whatever was read.
        math::Ray ray;
        ray.origin = { 0.25f, 0.125f, -100.0f };
        ray.direction = { 0.0f, 0.0f, 1.0f };
        mesh.raycast(ray, math::Matrix4());
    });
    return 0;
}
