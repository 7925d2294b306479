#include "quern/visuals/MeshSerialization.h"

#include "quern/assets/AssetLoaderContext.h"
#include "quern/assets/ResourceCache.h"
#include "quern/containers/Array.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/PrimitiveType.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/io/ByteSource.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/PODToken.h"
#include "quern/serialize/PODTypeDescriptor.h"
#include "quern/serialize/PODUtility.h"
#include "quern/strings/Format.h"
#include "quern/visuals/MeshVisual.h"
#include "quern/visuals/SubMesh.h"

#include <cstring>

namespace quern::visuals {
namespace {

using serialize::PODComponent;
using serialize::PODKind;
using serialize::PODTypeDescriptor;
using ull = unsigned long long;

constexpr u32 kStaticDraw = graphics::BufferUsage::Static | graphics::BufferUsage::Draw;
constexpr u16 kFloatsPerBone = 16;

template <class T> T readValue(ByteSource& source, serialize::PODToken& token, const PODTypeDescriptor& descriptor)
{
    T value {};
    token.readPOD(source, &value, 1, &descriptor);
    return value;
}

// `count` floats as one item.
void readFloats(ByteSource& source, serialize::PODToken& token, f32* values, u64 count)
{
    if (count == 1) {
        token.readPOD(source, values, 1, &serialize::kF32Descriptor);
        return;
    }
    const PODComponent floats { static_cast<u16>(count), PODKind::Float, 32 };
    const PODTypeDescriptor descriptor { 1, &floats };
    token.readPOD(source, values, 1, &descriptor);
}

[[noreturn]] void badMesh(const MeshReadState& state, const char* what)
{
    QUERN_FATAL(strings::format<1280>("Invalid mesh '%s': %s", state.meshName, what).c_str());
}

// Every value takes its full width in the binary form and at least one byte
// in the text form: a count the rest of the file cannot hold is refused
// before anything is allocated for it.
void checkRoom(ByteSource& source, const MeshReadState& state, u64 count, u64 binaryBytes, u64 values, const char* what)
{
    const u64 left = source.size() > source.position ? source.size() - source.position : 0;
    const u64 each = state.text ? values : binaryBytes;
    if (each != 0 && count > left / each)
        badMesh(state,
            strings::format<160>("%llu %s do not fit in the %llu bytes left", ull { count }, what, ull { left })
                .c_str());
}

template <class Index> u64 firstIndexAtOrAbove(const u8* data, u64 count, u64 limit)
{
    // One pass for the largest value keeps the common case a tight loop.
    Index largest = 0;
    for (u64 i = 0; i < count; ++i) {
        Index value;
        std::memcpy(&value, data + i * sizeof(Index), sizeof(Index));
        largest = value > largest ? value : largest;
    }
    if (largest < limit)
        return count;
    for (u64 i = 0;; ++i) {
        Index value;
        std::memcpy(&value, data + i * sizeof(Index), sizeof(Index));
        if (value >= limit)
            return i;
    }
}

// The buffer's indices are host-order values once the token has read them.
void checkIndices(const graphics::IndexBuffer& buffer, const MeshReadState& state)
{
    const u8* data = buffer.data();
    const u64 count = buffer.indexCount();
    const u64 limit = state.vertexCount;
    u64 bad = count;
    switch (buffer.indexSize()) {
    case 1:
        bad = firstIndexAtOrAbove<u8>(data, count, limit);
        break;
    case 2:
        bad = firstIndexAtOrAbove<u16>(data, count, limit);
        break;
    default:
        bad = firstIndexAtOrAbove<u32>(data, count, limit);
        break;
    }
    if (bad == count)
        return;
    u32 value = 0;
    std::memcpy(&value, data + bad * buffer.indexSize(), buffer.indexSize());
    badMesh(
        state, strings::format<160>("index %llu names vertex %u of %llu", ull { bad }, value, ull { limit }).c_str());
}

} // namespace

bool describeMeshVertices(const graphics::VertexFormat& format, MeshVertexDescriptor& out, std::string& refused)
{
    out.values = 0;
    for (u64 i = 0; i < format.count; ++i) {
        const graphics::VertexAttribute& attribute = format.attributes[i];
        PODKind kind;
        if (attribute.type == graphics::VertexAttribute::Float)
            kind = PODKind::Float;
        else if (attribute.type == graphics::VertexAttribute::UnsignedByte)
            kind = PODKind::Unsigned;
        else {
            refused = attribute.toString();
            return false;
        }
        const u32 bits = attribute.getSize() * 8 / attribute.count;
        out.components[i] = { attribute.count, kind, static_cast<u8>(bits) };
        out.values += attribute.count;
    }
    out.descriptor.componentCount = static_cast<u16>(format.count);
    return true;
}

void readVertexBuffer(
    ByteSource& source, serialize::PODToken& token, graphics::VertexBuffer& buffer, MeshReadState& state)
{
    const u32 start = serialize::expectChunk(source, token, kVertexBufferChunkId);
    char text[kMeshTextCapacity];
    token.readString(source, text, sizeof text);
    const graphics::VertexFormat format = graphics::vertexFormatFromString(text);
    MeshVertexDescriptor vertices;
    std::string refused;
    if (!describeMeshVertices(format, vertices, refused))
        badMesh(state, ("attribute " + refused + " is neither f32 nor unsigned byte").c_str());
    const u32 count = readValue<u32>(source, token, serialize::kU32Descriptor);
    checkRoom(source, state, count, format.stride, vertices.values, "vertices");
    buffer.setVertexFormat(format);
    buffer.resizeElements(count);
    if (count > 0) {
        u8* data = buffer.lockVertices(containers::BufferBase::Lock::Write, 0, count);
        token.readPOD(source, data, count, &vertices.descriptor);
        buffer.unlockVertices();
    }
    // Radius, sphere centre, box centre and half extents: four items.
    f32 bounds[10];
    readFloats(source, token, bounds, 1);
    for (int item = 0; item < 3; ++item)
        readFloats(source, token, bounds + 1 + 3 * item, 3);
    const f32* centre = bounds + 1;
    const f32* boxCentre = bounds + 4;
    const f32* half = bounds + 7;
    const f32 boxMin[3] = { boxCentre[0] - half[0], boxCentre[1] - half[1], boxCentre[2] - half[2] };
    const f32 boxMax[3] = { boxCentre[0] + half[0], boxCentre[1] + half[1], boxCentre[2] + half[2] };
    buffer.setStoredBounds(centre, bounds[0], boxMin, boxMax);
    state.vertexCount = count;
    token.endReadChunk(source, start);
}

void readIndexBuffer(
    ByteSource& source, serialize::PODToken& token, graphics::IndexBuffer& buffer, const MeshReadState& state)
{
    const u32 start = serialize::expectChunk(source, token, kIndexBufferChunkId);
    const u32 type = readValue<u32>(source, token, serialize::kU32Descriptor);
    if (graphics::primitiveTypeName(static_cast<graphics::PrimitiveType>(type))[0] == '\0')
        QUERN_FATAL("Invalid enum value for type PrimitiveType");
    const u8 size = readValue<u8>(source, token, serialize::kU8Descriptor);
    if (size != 1 && size != 2 && size != 4)
        badMesh(state, strings::format<64>("index size %u is not 1, 2 or 4", unsigned { size }).c_str());
    const u32 count = readValue<u32>(source, token, serialize::kU32Descriptor);
    checkRoom(source, state, count, size, 1, "indices");
    buffer.setPrimitiveType(static_cast<graphics::PrimitiveType>(type));
    buffer.setElementSize(size);
    buffer.resizeElements(count);
    if (count > 0) {
        const PODComponent component { 1, PODKind::Unsigned, static_cast<u8>(size * 8) };
        const PODTypeDescriptor descriptor { 1, &component };
        u8* data = buffer.lockIndices(containers::BufferBase::Lock::Write, 0, count);
        std::memset(data, 0, u64 { count } * size);
        token.readPOD(source, data, count, &descriptor);
        buffer.unlockIndices();
        checkIndices(buffer, state);
    }
    token.endReadChunk(source, start);
}

void readSubMesh(ByteSource& source, serialize::PODToken& token, SubMesh& subMesh, const MeshReadState& state)
{
    const u32 start = serialize::expectChunk(source, token, kSubMeshChunkId);
    char name[kMeshTextCapacity];
    token.readString(source, name, sizeof name);
    subMesh.name = name;
    if (readValue<u8>(source, token, serialize::kU8Descriptor) != 0)
        readIndexBuffer(source, token, *subMesh.getIndexBuffer(), state);
    f32 sphere[4];
    readFloats(source, token, sphere, 1);
    readFloats(source, token, sphere + 1, 3);
    subMesh.setBounds({ sphere[1], sphere[2], sphere[3] }, sphere[0]);
    token.endReadChunk(source, start);
}

void readMesh(ByteSource& source, serialize::PODToken& token, MeshVisual& mesh)
{
    MeshReadState state;
    if (source.position < source.size()) {
        const u64 at = source.position;
        u8 first = 0;
        source.read(&first, 1);
        source.position = at;
        state.text = serialize::isTextPODForm(first);
    }
    const u32 start = serialize::expectChunk(source, token, kMeshChunkId);
    char name[kMeshTextCapacity];
    token.readString(source, name, sizeof name);
    mesh.setName(name);
    state.meshName = mesh.name().c_str();
    readVertexBuffer(source, token, *mesh.getVertexBuffer(kStaticDraw), state);

    const u32 subMeshes = readValue<u32>(source, token, serialize::kU32Descriptor);
    // A sub-mesh chunk is at least its id, an empty name, the flag and its sphere.
    checkRoom(source, state, subMeshes, 8 + 4 + 1 + 16, 3, "sub-meshes");
    for (u32 i = 0; i < subMeshes; ++i) {
        SubMesh* subMesh = new SubMesh();
        mesh.appendSubMesh(subMesh);
        readSubMesh(source, token, *subMesh, state);
    }

    const u32 bones = readValue<u32>(source, token, serialize::kU32Descriptor);
    checkRoom(source, state, bones, kFloatsPerBone * 4, kFloatsPerBone, "bone matrices");
    if (bones > 0) {
        containers::Array& matrices = mesh.boneMatrices();
        matrices.clear();
        matrices.expand(bones);
        const PODComponent matrix { kFloatsPerBone, PODKind::Float, 32 };
        const PODTypeDescriptor descriptor { 1, &matrix };
        token.readPOD(source, matrices.data(), bones, &descriptor);
    }
    token.endReadChunk(source, start);
}

void MeshHandler::load(ByteSource& source, assets::AssetLoaderContext& context)
{
    assets::ResourceRecord record;
    bool created = false;
    MeshVisual* mesh = context.createResourceObject<MeshVisual>(assets::ResourceType::Mesh, 0, record, created);
    if (!mesh)
        QUERN_FATAL("Can't create mesh resource");
    if (created)
        readMesh(source, context.podToken(source), *mesh);
}

void MeshHandler::describe(assets::AssetHandlerInfo& info)
{
    info.format = assets::kNativeAssetFormat;
    info.typeId = assets::ResourceType::Mesh;
}

} // namespace quern::visuals
