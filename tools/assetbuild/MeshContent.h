#pragma once
// Meshes for the content tool, from Wavefront OBJ sources.
//
// Read: "v x y z", "vt u v", "vn x y z" and "f" with vertices written as
// "v", "v/vt", "v//vn" or "v/vt/vn" (negative numbers count back from the
// last one defined); polygons are split into a fan of triangles. "o", "g" and
// "usemtl" start a new sub-mesh named by the rest of the line. The tool's own
// statement "form binary|text" chooses the POD-token form (default binary).
// Every other statement is ignored.
//
// Vertices are shared by their (v, vt, vn) triple. The vertex format is
// position, then normal when the file has normals, then texcoord0 when it has
// texture coordinates. Sub-meshes are triangle lists of 2-byte indices, or
// 4-byte ones above 65,535 vertices.

#include "AssetManifest.h"

#include "quern/Types.h"

#include <ostream>
#include <string>
#include <vector>

namespace quern::serialize {
class PODToken;
}

namespace quern::assetbuild {

struct MeshSubMeshDocument {
    std::string name;
    u8 indexSize = 2;
    std::vector<u32> indices;
    f32 radius = 0;
    f32 centre[3] = {};
};

struct MeshDocument {
    std::string name;
    std::string format; // as the engine prints vertex formats
    u32 vertexCount = 0;
    std::vector<f32> vertices; // vertexCount x the format's floats
    f32 radius = 0;
    f32 centre[3] = {};
    f32 boxCentre[3] = {};
    f32 boxHalfExtents[3] = {};
    std::vector<MeshSubMeshDocument> subMeshes;
    bool text = false;
};

// False with a message naming the line for a statement the tool cannot read:
// a bad number, a face of fewer than three vertices, an index of 0 or one
// naming nothing defined, or a file without faces.
bool parseObjMesh(const std::vector<u8>& bytes, const std::string& name, MeshDocument& mesh, std::string& error);

// The mesh chunk in the token's form, bone count 0.
void writeMeshFile(std::ostream& out, serialize::PODToken& token, const MeshDocument& mesh);

// Turns the OBJ source of a "mesh" asset into the engine's mesh file; other
// types are left as they are.
bool convertMeshContent(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild
