#pragma once
// Mesh assets: a mesh chunk holding the visual's name, its vertex buffer
// chunk (format text, vertices, stored sphere and box), its sub-mesh chunks
// (each with an optional index buffer chunk and a stored sphere) and its bone
// matrices, in either POD-token form. The handler reads one into a MeshVisual
// built in the resource cache's memory.
//
// Mesh files are untrusted: every count is checked against the bytes left
// before anything is allocated, indices against the vertex count, and only
// 32-bit float and unsigned-byte vertex attributes are read. A bad file ends
// in the fatal path with a message naming the mesh.

#include "quern/Types.h"
#include "quern/assets/AssetHandler.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/serialize/PODTypeDescriptor.h"

#include <string>

namespace quern {
class ByteSource;
}
namespace quern::graphics {
class IndexBuffer;
class VertexBuffer;
} // namespace quern::graphics
namespace quern::serialize {
class PODToken;
}

namespace quern::visuals {

class MeshVisual;
class SubMesh;

inline constexpr u64 kMeshChunkId = 0x207777010fd8f91dull;
inline constexpr u64 kVertexBufferChunkId = 0x36aff7d6337425e0ull;
inline constexpr u64 kSubMeshChunkId = 0x30518efaed28e67full;
inline constexpr u64 kIndexBufferChunkId = 0x1729e66810c3b12aull;
// Bytes kept of names and format texts read from files, terminator included.
inline constexpr u64 kMeshTextCapacity = 1024;

// What the chunk readers below the mesh need to know of the file: its name
// for messages, whether it is the text form (where a value may take a single
// byte) and how many vertices indices may name.
struct MeshReadState {
    const char* meshName = "";
    bool text = false;
    u64 vertexCount = 0;
};

// The POD layout of one vertex of a format: one component per attribute, as
// the vertices lie in memory. Readers and writers of meshes share it so both
// token forms group the values the same way.
struct MeshVertexDescriptor {
    serialize::PODComponent components[graphics::VertexFormat::kMaxAttributes] = {};
    serialize::PODTypeDescriptor descriptor { 0, components };
    u64 values = 0; // values in one vertex
    MeshVertexDescriptor() = default;
    MeshVertexDescriptor(const MeshVertexDescriptor&) = delete;
    MeshVertexDescriptor& operator=(const MeshVertexDescriptor&) = delete;
};
// False, naming the attribute in `refused`, for an attribute that is neither
// 32-bit float nor unsigned byte.
bool describeMeshVertices(const graphics::VertexFormat& format, MeshVertexDescriptor& out, std::string& refused);

// Reads the whole mesh chunk into `mesh`, making its vertex buffer (static
// draw) through the display's device when it has none.
void readMesh(ByteSource& source, serialize::PODToken& token, MeshVisual& mesh);
// Sets the format and vertex count of `buffer`, reads the vertices and takes
// the stored bounds as current. Sets state.vertexCount.
void readVertexBuffer(
    ByteSource& source, serialize::PODToken& token, graphics::VertexBuffer& buffer, MeshReadState& state);
void readSubMesh(ByteSource& source, serialize::PODToken& token, SubMesh& subMesh, const MeshReadState& state);
void readIndexBuffer(
    ByteSource& source, serialize::PODToken& token, graphics::IndexBuffer& buffer, const MeshReadState& state);

class MeshHandler final : public assets::AssetHandler {
public:
    // Builds a MeshVisual in the cache's memory and reads it; a mesh the
    // cache already holds is left alone.
    void load(ByteSource& source, assets::AssetLoaderContext& context) override;
    void describe(assets::AssetHandlerInfo& info) override;
};

} // namespace quern::visuals
