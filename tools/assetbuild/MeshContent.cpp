#include "MeshContent.h"

#include "SourceText.h"

#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/PODToken.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/visuals/MeshSerialization.h"
#include "quern/visuals/SubMesh.h"

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

namespace quern::assetbuild {
namespace {

constexpr u32 kStaticDraw = graphics::BufferUsage::Static | graphics::BufferUsage::Draw;
constexpr u32 kTriangleList = 9;
constexpr u32 kLargestShortIndexCount = 65535;

// One OBJ corner: numbers into the v, vt and vn lists (-1: not given).
using Corner = std::tuple<i64, i64, i64>;

struct ObjReader {
    std::vector<f32> positions, texCoords, normals;
    std::map<Corner, u32> shared;
    std::vector<Corner> corners; // the mesh's vertices, in order of first use
    std::vector<MeshSubMeshDocument> subMeshes;
    std::string pendingName = "default";
    bool pendingStart = true;
    std::string error;

    bool floats(const SourceLine& line, u64 least, u64 most, std::vector<f32>& into, u64 width)
    {
        if (line.words.size() < least + 1 || line.words.size() > most + 1)
            return fail(line, "expected " + std::to_string(least) + " numbers after " + line.words[0]);
        for (u64 i = 0; i < width; ++i) {
            f32 value = 0;
            if (i + 1 < line.words.size() && !parseFloat(line.words[i + 1], value))
                return fail(line, "bad number " + line.words[i + 1]);
            into.push_back(value);
        }
        return true;
    }

    bool fail(const SourceLine& line, const std::string& what)
    {
        error = "line " + std::to_string(line.number) + ": " + what;
        return false;
    }

    // An OBJ number: 1 the first defined, -1 the last; false for 0 or one past what is defined.
    static bool resolve(const std::string& word, u64 defined, i64& out)
    {
        if (word.empty())
            return false;
        char* end = nullptr;
        const long long value = std::strtoll(word.c_str(), &end, 10);
        if (end != word.c_str() + word.size() || value == 0)
            return false;
        const i64 index = value > 0 ? value - 1 : static_cast<i64>(defined) + value;
        if (index < 0 || index >= static_cast<i64>(defined))
            return false;
        out = index;
        return true;
    }

    bool corner(const SourceLine& line, const std::string& word, u32& vertex)
    {
        std::string parts[3];
        u64 part = 0;
        for (char c : word) {
            if (c == '/') {
                if (++part > 2)
                    return fail(line, "bad face vertex " + word);
            } else {
                parts[part] += c;
            }
        }
        Corner key { -1, -1, -1 };
        if (!resolve(parts[0], positions.size() / 3, std::get<0>(key))
            || (!parts[1].empty() && !resolve(parts[1], texCoords.size() / 2, std::get<1>(key)))
            || (!parts[2].empty() && !resolve(parts[2], normals.size() / 3, std::get<2>(key))))
            return fail(line, "face vertex " + word + " names nothing defined");
        const auto found = shared.find(key);
        if (found != shared.end()) {
            vertex = found->second;
            return true;
        }
        vertex = static_cast<u32>(corners.size());
        shared.emplace(key, vertex);
        corners.push_back(key);
        return true;
    }

    bool face(const SourceLine& line)
    {
        if (line.words.size() < 4)
            return fail(line, "a face needs at least three vertices");
        std::vector<u32> polygon;
        for (u64 i = 1; i < line.words.size(); ++i) {
            u32 vertex = 0;
            if (!corner(line, line.words[i], vertex))
                return false;
            polygon.push_back(vertex);
        }
        if (pendingStart) {
            subMeshes.push_back({});
            subMeshes.back().name = pendingName;
            pendingStart = false;
        }
        std::vector<u32>& indices = subMeshes.back().indices;
        for (u64 i = 1; i + 1 < polygon.size(); ++i)
            indices.insert(indices.end(), { polygon[0], polygon[i], polygon[i + 1] });
        return true;
    }

    void startSubMesh(const SourceLine& line)
    {
        std::string name;
        for (u64 i = 1; i < line.words.size(); ++i)
            name += (i > 1 ? " " : "") + line.words[i];
        pendingName = name.empty() ? "default" : name;
        pendingStart = true;
    }
};

void putVertex(const ObjReader& obj, const Corner& corner, bool hasNormals, bool hasTexCoords, std::vector<f32>& out)
{
    const auto [v, vt, vn] = corner;
    out.insert(out.end(), obj.positions.begin() + v * 3, obj.positions.begin() + v * 3 + 3);
    if (hasNormals) {
        if (vn >= 0)
            out.insert(out.end(), obj.normals.begin() + vn * 3, obj.normals.begin() + vn * 3 + 3);
        else
            out.insert(out.end(), { 0.0f, 0.0f, 0.0f });
    }
    if (hasTexCoords) {
        if (vt >= 0)
            out.insert(out.end(), obj.texCoords.begin() + vt * 2, obj.texCoords.begin() + vt * 2 + 2);
        else
            out.insert(out.end(), { 0.0f, 0.0f });
    }
}

// The bounds exactly as the engine computes them from the vertices.
void computeBounds(MeshDocument& mesh, const graphics::VertexFormat& format)
{
    Ref held(new graphics::VertexBuffer(kStaticDraw));
    graphics::VertexBuffer& vb = *held.getCounted<graphics::VertexBuffer>();
    vb.setVertexFormat(format);
    vb.resizeElements(mesh.vertexCount);
    if (mesh.vertexCount > 0) {
        u8* data = vb.lockVertices(containers::BufferBase::Lock::Write, 0, mesh.vertexCount);
        std::memcpy(data, mesh.vertices.data(), mesh.vertices.size() * sizeof(f32));
        vb.unlockVertices();
    }
    vb.updateBoundingBox();
    vb.updateBoundingSphere();
    mesh.radius = vb.radius();
    for (int axis = 0; axis < 3; ++axis) {
        mesh.centre[axis] = vb.centre()[axis];
        mesh.boxCentre[axis] = (vb.boxMin()[axis] + vb.boxMax()[axis]) * 0.5f;
        mesh.boxHalfExtents[axis] = (vb.boxMax()[axis] - vb.boxMin()[axis]) * 0.5f;
    }
    for (MeshSubMeshDocument& part : mesh.subMeshes) {
        Ref ibHeld(new graphics::IndexBuffer(kStaticDraw));
        graphics::IndexBuffer& ib = *ibHeld.getCounted<graphics::IndexBuffer>();
        ib.setElementSize(4);
        ib.resizeElements(part.indices.size());
        u8* data = ib.lockIndices(containers::BufferBase::Lock::Write, 0, part.indices.size());
        std::memcpy(data, part.indices.data(), part.indices.size() * sizeof(u32));
        ib.unlockIndices();
        Ref subHeld(new visuals::SubMesh());
        visuals::SubMesh& subMesh = *subHeld.get<visuals::SubMesh>();
        subMesh.setIndexBuffer(&ib);
        subMesh.updateBounds(&vb);
        part.radius = subMesh.radius();
        part.centre[0] = subMesh.centre().x;
        part.centre[1] = subMesh.centre().y;
        part.centre[2] = subMesh.centre().z;
    }
}

} // namespace

bool parseObjMesh(const std::vector<u8>& bytes, const std::string& name, MeshDocument& mesh, std::string& error)
{
    ObjReader obj;
    mesh = MeshDocument {};
    mesh.name = name;
    for (const SourceLine& line : splitLines(bytes)) {
        const std::string& word = line.words[0];
        bool ok = true;
        if (word == "v")
            ok = obj.floats(line, 3, 4, obj.positions, 3);
        else if (word == "vt")
            ok = obj.floats(line, 1, 3, obj.texCoords, 2);
        else if (word == "vn")
            ok = obj.floats(line, 3, 3, obj.normals, 3);
        else if (word == "f")
            ok = obj.face(line);
        else if (word == "o" || word == "g" || word == "usemtl")
            obj.startSubMesh(line);
        else if (word == "form") {
            if (line.words.size() != 2 || (line.words[1] != "binary" && line.words[1] != "text"))
                ok = obj.fail(line, "expected form binary or form text");
            else
                mesh.text = line.words[1] == "text";
        }
        if (!ok) {
            error = obj.error;
            return false;
        }
    }
    if (obj.subMeshes.empty()) {
        error = "the mesh has no faces";
        return false;
    }
    const bool hasNormals = !obj.normals.empty();
    const bool hasTexCoords = !obj.texCoords.empty();
    graphics::VertexFormat format;
    format.addAttribute(graphics::VertexAttribute::position());
    if (hasNormals)
        format.addAttribute(graphics::VertexAttribute::normal());
    if (hasTexCoords)
        format.addAttribute(graphics::VertexAttribute::texCoord(0));
    mesh.format = format.toString();
    mesh.vertexCount = static_cast<u32>(obj.corners.size());
    for (const Corner& corner : obj.corners)
        putVertex(obj, corner, hasNormals, hasTexCoords, mesh.vertices);
    mesh.subMeshes = std::move(obj.subMeshes);
    const u8 indexSize = mesh.vertexCount > kLargestShortIndexCount ? 4 : 2;
    for (MeshSubMeshDocument& part : mesh.subMeshes)
        part.indexSize = indexSize;
    computeBounds(mesh, format);
    return true;
}

void writeMeshFile(std::ostream& out, serialize::PODToken& token, const MeshDocument& mesh)
{
    const u32 meshStart = token.beginWriteChunk(out, visuals::kMeshChunkId);
    token.writeString(out, mesh.name.c_str(), "name");

    const u32 vertexStart = token.beginWriteChunk(out, visuals::kVertexBufferChunkId);
    token.writeString(out, mesh.format.c_str(), "format");
    token.writePOD(out, &mesh.vertexCount, 1, &serialize::kU32Descriptor, "vertexCount");
    if (mesh.vertexCount > 0) {
        const graphics::VertexFormat format = graphics::vertexFormatFromString(mesh.format);
        visuals::MeshVertexDescriptor descriptor;
        std::string refused;
        describeMeshVertices(format, descriptor, refused);
        token.writePOD(out, mesh.vertices.data(), mesh.vertexCount, &descriptor.descriptor, "vertices");
    }
    token.writePOD(out, &mesh.radius, 1, &serialize::kF32Descriptor, "radius");
    const serialize::PODComponent three[] = { { 3, serialize::PODKind::Float, 32 } };
    const serialize::PODTypeDescriptor vector3 { 1, three };
    token.writePOD(out, mesh.centre, 1, &vector3, "centre");
    token.writePOD(out, mesh.boxCentre, 1, &vector3, "boxCentre");
    token.writePOD(out, mesh.boxHalfExtents, 1, &vector3, "boxHalfExtents");
    token.endWriteChunk(out, vertexStart);

    const u32 subMeshCount = static_cast<u32>(mesh.subMeshes.size());
    token.writePOD(out, &subMeshCount, 1, &serialize::kU32Descriptor, "subMeshCount");
    for (const MeshSubMeshDocument& part : mesh.subMeshes) {
        const u32 subStart = token.beginWriteChunk(out, visuals::kSubMeshChunkId);
        token.writeString(out, part.name.c_str(), "name");
        const u8 hasIndices = 1;
        token.writePOD(out, &hasIndices, 1, &serialize::kU8Descriptor, "hasIndexBuffer");
        const u32 indexStart = token.beginWriteChunk(out, visuals::kIndexBufferChunkId);
        token.writePOD(out, &kTriangleList, 1, &serialize::kU32Descriptor, "primitiveType");
        token.writePOD(out, &part.indexSize, 1, &serialize::kU8Descriptor, "indexSize");
        const u32 count = static_cast<u32>(part.indices.size());
        token.writePOD(out, &count, 1, &serialize::kU32Descriptor, "indexCount");
        if (count > 0) {
            std::vector<u8> packed;
            for (u32 index : part.indices)
                for (u32 b = 0; b < part.indexSize; ++b)
                    packed.push_back(static_cast<u8>(index >> (8 * b)));
            const serialize::PODComponent width[]
                = { { 1, serialize::PODKind::Unsigned, static_cast<u8>(part.indexSize * 8) } };
            const serialize::PODTypeDescriptor indexDescriptor { 1, width };
            token.writePOD(out, packed.data(), count, &indexDescriptor, "indices");
        }
        token.endWriteChunk(out, indexStart);
        token.writePOD(out, &part.radius, 1, &serialize::kF32Descriptor, "radius");
        token.writePOD(out, part.centre, 1, &vector3, "centre");
        token.endWriteChunk(out, subStart);
    }
    const u32 bones = 0;
    token.writePOD(out, &bones, 1, &serialize::kU32Descriptor, "boneCount");
    token.endWriteChunk(out, meshStart);
}

bool convertMeshContent(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error)
{
    if (asset.type != "mesh")
        return true;
    MeshDocument mesh;
    if (!parseObjMesh(bytes, std::filesystem::path(asset.name).stem().string(), mesh, error)) {
        error = asset.name + ": " + error;
        return false;
    }
    std::ostringstream out;
    serialize::BinaryPODToken binary;
    serialize::TextPODToken text;
    writeMeshFile(out, mesh.text ? static_cast<serialize::PODToken&>(text) : binary, mesh);
    const std::string written = out.str();
    bytes.assign(written.begin(), written.end());
    return true;
}

} // namespace quern::assetbuild
