#include "support/RecordingGraphicsBackEnd.h"

#include "../assets/DepotTestContent.h"
#include "MeshContent.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/BlobDepot.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/assets/ResourceCache.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/PackedName.h"
#include "quern/visuals/MeshSerialization.h"
#include "quern/visuals/MeshVisual.h"
#include "quern/visuals/SubMesh.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

namespace quern::test {
namespace {

using visuals::MeshVisual;
using visuals::SubMesh;
using Bytes = std::vector<u8>;
using Floats = std::vector<f32>;
using Indices = std::vector<u32>;

struct ByteWriter {
    Bytes bytes;
    void u8s(u8 value) { bytes.push_back(value); }
    void u32s(u32 value)
    {
        for (u32 i = 0; i < 4; ++i)
            bytes.push_back(static_cast<u8>(value >> (8 * i)));
    }
    void u64s(u64 value)
    {
        for (u32 i = 0; i < 8; ++i)
            bytes.push_back(static_cast<u8>(value >> (8 * i)));
    }
    void f32s(std::initializer_list<f32> values)
    {
        for (f32 value : values) {
            u32 bits;
            std::memcpy(&bits, &value, 4);
            u32s(bits);
        }
    }
    void text(const std::string& value)
    {
        u32s(static_cast<u32>(value.size()));
        bytes.insert(bytes.end(), value.begin(), value.end());
    }
};

// What the hand-made file below may vary.
struct TriangleFile {
    std::string name = "tri";
    std::string format = "position";
    u32 vertexCount = 3;
    u32 primitiveType = 9;
    u8 indexSize = 2;
    u32 indexCount = 3;
    Indices indices = { 0, 1, 2 };
    u32 subMeshCount = 1;
    u32 boneCount = 1;
    u32 boneFloats = 16;
};

// One triangle, one indexed sub-mesh and one bone, byte for byte.
Bytes triangleFile(const TriangleFile& f = {})
{
    ByteWriter out;
    out.u64s(visuals::kMeshChunkId);
    out.text(f.name);
    out.u64s(visuals::kVertexBufferChunkId);
    out.text(f.format);
    out.u32s(f.vertexCount);
    out.f32s({ 0, 0, 0, 1, 0, 0, 0, 1, 0 });
    out.f32s({ 0.75f, 0.5f, 0.5f, 0 }); // sphere
    out.f32s({ 0.5f, 0.5f, 0, 0.5f, 0.5f, 0 }); // box centre, half extents
    out.u32s(f.subMeshCount);
    out.u64s(visuals::kSubMeshChunkId);
    out.text("part");
    out.u8s(1);
    out.u64s(visuals::kIndexBufferChunkId);
    out.u32s(f.primitiveType);
    out.u8s(f.indexSize);
    out.u32s(f.indexCount);
    for (u32 index : f.indices)
        for (u32 b = 0; b < f.indexSize; ++b)
            out.u8s(static_cast<u8>(index >> (8 * b)));
    out.f32s({ 0.7f, 0.25f, 0.25f, 0 });
    out.u32s(f.boneCount);
    for (u32 i = 0; i < f.boneFloats; ++i)
        out.f32s({ static_cast<f32>(i) });
    return out.bytes;
}

void read(const Bytes& bytes, MeshVisual& mesh)
{
    StringSource source(bytes.data(), bytes.size());
    visuals::readMesh(source, serialize::selectPODToken(source), mesh);
}

Floats positionsOf(MeshVisual& mesh)
{
    graphics::VertexBuffer& vb = *mesh.vertexBuffer();
    const f32* data = reinterpret_cast<const f32*>(vb.data());
    return Floats(data, data + vb.vertexCount() * vb.format().stride / 4);
}

Indices indicesOf(graphics::IndexBuffer& ib)
{
    Indices out;
    graphics::IndexIterator it(ib);
    for (; !it.atEnd(); ++it)
        out.push_back(*it);
    return out;
}

Bytes fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes written(const assetbuild::MeshDocument& mesh, bool text)
{
    serialize::BinaryPODToken binary;
    serialize::TextPODToken textToken;
    std::ostringstream out;
    assetbuild::writeMeshFile(out, text ? static_cast<serialize::PODToken&>(textToken) : binary, mesh);
    const std::string bytes = out.str();
    return Bytes(bytes.begin(), bytes.end());
}

assetbuild::MeshDocument parsed(const std::string& obj)
{
    assetbuild::MeshDocument mesh;
    std::string error;
    EXPECT_TRUE(assetbuild::parseObjMesh(Bytes(obj.begin(), obj.end()), "m", mesh, error)) << error;
    return mesh;
}

using MeshReading = RecordingDisplayTest;

TEST_F(MeshReading, TheTriangleFileReadsBack)
{
    Ref held(new MeshVisual);
    MeshVisual& mesh = *held.get<MeshVisual>();
    read(triangleFile(), mesh);
    EXPECT_EQ(mesh.name(), "tri");
    graphics::VertexBuffer& vb = *mesh.vertexBuffer();
    EXPECT_EQ(vb.usage(), graphics::BufferUsage::Static | graphics::BufferUsage::Draw);
    EXPECT_EQ(vb.format().toString(), "position(3f)");
    EXPECT_EQ(positionsOf(mesh), (Floats { 0, 0, 0, 1, 0, 0, 0, 1, 0 }));
    // The stored bounds are taken as they are, not recomputed.
    EXPECT_FALSE(vb.isSphereStale());
    EXPECT_FALSE(vb.isBoxStale());
    EXPECT_EQ(vb.radius(), 0.75f);
    EXPECT_EQ(Floats(vb.centre(), vb.centre() + 3), (Floats { 0.5f, 0.5f, 0 }));
    EXPECT_EQ(Floats(vb.boxMin(), vb.boxMin() + 3), (Floats { 0, 0, 0 }));
    EXPECT_EQ(Floats(vb.boxMax(), vb.boxMax() + 3), (Floats { 1, 1, 0 }));
    ASSERT_EQ(mesh.subMeshCount(), 1u);
    SubMesh& part = *mesh.subMesh(0);
    EXPECT_EQ(part.name, "part");
    EXPECT_FALSE(part.boundsStale());
    EXPECT_EQ(part.radius(), 0.7f);
    EXPECT_EQ(part.centre(), (math::Vector3 { 0.25f, 0.25f, 0 }));
    ASSERT_NE(part.indexBuffer(), nullptr);
    EXPECT_EQ(part.indexBuffer()->indexSize(), 2u);
    EXPECT_EQ(part.indexBuffer()->primitiveType(), graphics::PrimitiveType::TriangleList);
    EXPECT_EQ(indicesOf(*part.indexBuffer()), (Indices { 0, 1, 2 }));
    // Bone matrices keep their stored order: nothing is transposed.
    ASSERT_EQ(mesh.boneMatrices().count(), 1u);
    const f32* bone = static_cast<const f32*>(mesh.boneMatrices().data());
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(bone[i], static_cast<f32>(i));
}

TEST_F(MeshReading, ANameOverTheLimitKeepsItsStartAndReadingGoesOn)
{
    TriangleFile f;
    f.name = std::string(1023, 'a') + "bcd";
    Ref held(new MeshVisual);
    MeshVisual& mesh = *held.get<MeshVisual>();
    read(triangleFile(f), mesh);
    EXPECT_EQ(mesh.name(), std::string(1023, 'a'));
    EXPECT_EQ(mesh.subMeshCount(), 1u);
    EXPECT_EQ(mesh.boneMatrices().count(), 1u);
}

TEST_F(MeshReading, AnEmptyMeshKeepsItsBoundsAndASubMeshWithoutIndices)
{
    ByteWriter out;
    out.u64s(visuals::kMeshChunkId);
    out.text("empty");
    out.u64s(visuals::kVertexBufferChunkId);
    out.text("position normal");
    out.u32s(0);
    out.f32s({ 2, 1, 1, 1, 1, 1, 1, 3, 3, 3 });
    out.u32s(1);
    out.u64s(visuals::kSubMeshChunkId);
    out.text("");
    out.u8s(0);
    out.f32s({ 5, 6, 7, 8 });
    out.u32s(0);
    Ref held(new MeshVisual);
    MeshVisual& mesh = *held.get<MeshVisual>();
    read(out.bytes, mesh);
    graphics::VertexBuffer& vb = *mesh.vertexBuffer();
    EXPECT_EQ(vb.vertexCount(), 0u);
    EXPECT_EQ(vb.radius(), 2.0f);
    EXPECT_EQ(Floats(vb.boxMin(), vb.boxMin() + 3), (Floats { -2, -2, -2 }));
    ASSERT_EQ(mesh.subMeshCount(), 1u);
    EXPECT_EQ(mesh.subMesh(0)->indexBuffer(), nullptr);
    EXPECT_EQ(mesh.subMesh(0)->radius(), 5.0f);
    EXPECT_EQ(mesh.subMesh(0)->centre(), (math::Vector3 { 6, 7, 8 }));
    EXPECT_EQ(mesh.boneMatrices().count(), 0u);
}

TEST_F(MeshReading, UntrustedFieldsAreFatalNamingTheMesh)
{
    struct Case {
        const char* what;
        std::function<void(TriangleFile&)> damage;
        const char* message;
    };
    const Case cases[] = {
        { "index size 3", [](TriangleFile& f) { f.indexSize = 3; },
            "Invalid mesh 'tri': index size 3 is not 1, 2 or 4" },
        { "index past the vertices",
            [](TriangleFile& f) {
                f.indices = { 0, 1, 3 };
            },
            "Invalid mesh 'tri': index 2 names vertex 3 of 3" },
        { "vertex count past the file", [](TriangleFile& f) { f.vertexCount = 0x10000000; },
            "Invalid mesh 'tri': 268435456 vertices do not fit" },
        { "index count past the file", [](TriangleFile& f) { f.indexCount = 0xFFFFFFFFu; },
            "Invalid mesh 'tri': 4294967295 indices do not fit" },
        { "sub-mesh count past the file", [](TriangleFile& f) { f.subMeshCount = 1000; },
            "Invalid mesh 'tri': 1000 sub-meshes do not fit" },
        { "bone count past the file", [](TriangleFile& f) { f.boneCount = 2; },
            "Invalid mesh 'tri': 2 bone matrices do not fit" },
        { "short attribute", [](TriangleFile& f) { f.format = "position(3s)"; },
            "Invalid mesh 'tri': attribute position\\(3s\\) is neither f32 nor unsigned byte" },
        { "primitive type 11", [](TriangleFile& f) { f.primitiveType = 11; },
            "Invalid enum value for type PrimitiveType" },
        { "truncated bone", [](TriangleFile& f) { f.boneFloats = 15; }, "" },
    };
    for (const Case& c : cases) {
        TriangleFile f;
        c.damage(f);
        const Bytes bytes = triangleFile(f);
        EXPECT_DEATH(
            {
                Ref held(new MeshVisual);
                read(bytes, *held.get<MeshVisual>());
            },
            c.message)
            << c.what;
    }
}

TEST_F(MeshReading, AWrongChunkIsFatal)
{
    Bytes bytes = triangleFile();
    bytes[0] ^= 1;
    EXPECT_DEATH(
        {
            Ref held(new MeshVisual);
            read(bytes, *held.get<MeshVisual>());
        },
        "Unexpected chunk type");
}

TEST_F(MeshReading, UnsignedByteColoursReadAsBytes)
{
    TriangleFile f;
    f.format = "position color";
    ByteWriter out;
    out.u64s(visuals::kMeshChunkId);
    out.text("c");
    out.u64s(visuals::kVertexBufferChunkId);
    out.text("position color");
    out.u32s(1);
    out.f32s({ 1, 2, 3 });
    for (u8 b : { 10, 20, 30, 40 })
        out.u8s(b);
    out.f32s({ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 });
    out.u32s(0);
    out.u32s(0);
    Ref held(new MeshVisual);
    MeshVisual& mesh = *held.get<MeshVisual>();
    read(out.bytes, mesh);
    const u8* vertex = mesh.vertexBuffer()->data();
    EXPECT_EQ(Bytes(vertex + 12, vertex + 16), (Bytes { 10, 20, 30, 40 }));
}

// The tool's OBJ reader.

TEST(ObjMesh, EveryFaceFormAndRelativeIndicesShareVertices)
{
    const assetbuild::MeshDocument mesh = parsed("v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                                                 "vt 0 0\nvt 1 1\nvn 0 0 1\n"
                                                 "f 1 2 3\n"
                                                 "f 1/1 2/2 3/1\n"
                                                 "f -4//1 -3//1 -2//1\n"
                                                 "f 1/1/1 2/2/1 3/1/1 4/2/1\n");
    EXPECT_EQ(mesh.format, "position(3f) normal(3f) texcoord0(2f)");
    // (1,-,-) (2,-,-) (3,-,-) (1,1,-) (2,2,-) (3,1,-) (1,-,1) (2,-,1) (3,-,1)
    // (1,1,1) (2,2,1) (3,1,1) (4,2,1)
    ASSERT_EQ(mesh.vertexCount, 13u);
    ASSERT_EQ(mesh.subMeshes.size(), 1u);
    EXPECT_EQ(mesh.subMeshes[0].indices, (Indices { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 9, 11, 12 }));
    EXPECT_EQ(mesh.subMeshes[0].indexSize, 2u);
    // A corner without a normal or texture coordinate gets zeros.
    const Floats first(mesh.vertices.begin(), mesh.vertices.begin() + 8);
    EXPECT_EQ(first, (Floats { 0, 0, 0, 0, 0, 0, 0, 0 }));
    const Floats last(mesh.vertices.begin() + 12 * 8, mesh.vertices.end());
    EXPECT_EQ(last, (Floats { 0, 1, 0, 0, 0, 1, 1, 1 }));
}

TEST(ObjMesh, GroupsObjectsAndMaterialsStartSubMeshes)
{
    const assetbuild::MeshDocument mesh = parsed("v 0 0 0\nv 1 0 0\nv 0 1 0\n"
                                                 "f 1 2 3\n"
                                                 "o first\ng a b\nf 1 2 3\n"
                                                 "usemtl stone\nf 3 2 1\nf 1 2 3\n"
                                                 "unknownstatement 1 2\ns off\n");
    EXPECT_EQ(mesh.format, "position(3f)");
    ASSERT_EQ(mesh.subMeshes.size(), 3u);
    EXPECT_EQ(mesh.subMeshes[0].name, "default");
    EXPECT_EQ(mesh.subMeshes[1].name, "a b");
    EXPECT_EQ(mesh.subMeshes[2].name, "stone");
    EXPECT_EQ(mesh.subMeshes[2].indices, (Indices { 2, 1, 0, 0, 1, 2 }));
}

TEST(ObjMesh, BadStatementsNameTheirLine)
{
    const struct {
        const char* obj;
        const char* message;
    } cases[] = {
        { "v 0 0\n", "line 1: expected 3 numbers after v" },
        { "v 0 0 x\n", "line 1: bad number x" },
        { "v 0 0 0\nv 1 0 0\nf 1 2\n", "line 3: a face needs at least three vertices" },
        { "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n", "line 4: face vertex 4 names nothing defined" },
        { "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 0 1 2\n", "line 4: face vertex 0 names nothing defined" },
        { "v 0 0 0\nv 1 0 0\nv 0 1 0\nf -4 1 2\n", "line 4: face vertex -4 names nothing defined" },
        { "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/1 2 3\n", "line 4: face vertex 1/1 names nothing defined" },
        { "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/2/3/4 2 3\n", "line 4: bad face vertex 1/2/3/4" },
        { "v 0 0 0\nform fancy\n", "line 2: expected form binary or form text" },
        { "v 0 0 0\n", "the mesh has no faces" },
    };
    for (const auto& c : cases) {
        assetbuild::MeshDocument mesh;
        std::string error;
        const std::string obj = c.obj;
        EXPECT_FALSE(assetbuild::parseObjMesh(Bytes(obj.begin(), obj.end()), "m", mesh, error)) << c.obj;
        EXPECT_EQ(error, c.message);
    }
}

TEST(ObjMesh, MoreThan65535VerticesTakeFourByteIndices)
{
    std::string obj;
    const int triangles = 21846; // 65,538 vertices, none shared
    for (int t = 0; t < triangles; ++t)
        obj += "v " + std::to_string(t) + " 0 0\nv " + std::to_string(t) + " 1 0\nv " + std::to_string(t) + " 0 1\n";
    for (int t = 0; t < triangles; ++t)
        obj += "f " + std::to_string(3 * t + 1) + " " + std::to_string(3 * t + 2) + " " + std::to_string(3 * t + 3)
            + "\n";
    const assetbuild::MeshDocument mesh = parsed(obj);
    EXPECT_EQ(mesh.vertexCount, 65538u);
    EXPECT_EQ(mesh.subMeshes[0].indexSize, 4u);
}

// The demo cube, built by the tool, in both forms.
class DemoCube : public RecordingDisplayTest {
protected:
    assetbuild::MeshDocument source()
    {
        assetbuild::MeshDocument mesh;
        std::string error;
        EXPECT_TRUE(assetbuild::parseObjMesh(
            fileBytes(std::string(QUERN_CONTENT_DIR) + "/meshes/cube.obj"), "cube", mesh, error))
            << error;
        return mesh;
    }
};

TEST_F(DemoCube, BothFormsLoadTheSourcesVerticesIndicesAndBounds)
{
    const assetbuild::MeshDocument cube = source();
    // Four corners a face, each with the face's own normal.
    ASSERT_EQ(cube.vertexCount, 24u);
    EXPECT_EQ(cube.format, "position(3f) normal(3f) texcoord0(2f)");
    EXPECT_EQ(cube.radius, std::sqrt(0.75f) + 1e-5f);
    for (const bool text : { false, true }) {
        SCOPED_TRACE(text ? "text" : "binary");
        const Bytes bytes = written(cube, text);
        EXPECT_EQ(bytes[0] == '{' || bytes[0] == '"', text);
        Ref held(new MeshVisual);
        MeshVisual& mesh = *held.get<MeshVisual>();
        read(bytes, mesh);
        EXPECT_EQ(mesh.name(), "cube");
        graphics::VertexBuffer& vb = *mesh.vertexBuffer();
        EXPECT_EQ(vb.format().toString(), cube.format);
        EXPECT_EQ(positionsOf(mesh), cube.vertices);
        EXPECT_EQ(vb.radius(), cube.radius);
        EXPECT_EQ(Floats(vb.boxMin(), vb.boxMin() + 3), (Floats { -0.5f, -0.5f, -0.5f }));
        EXPECT_EQ(Floats(vb.boxMax(), vb.boxMax() + 3), (Floats { 0.5f, 0.5f, 0.5f }));
        ASSERT_EQ(mesh.subMeshCount(), 1u);
        EXPECT_EQ(mesh.subMesh(0)->name, "cube");
        EXPECT_EQ(indicesOf(*mesh.subMesh(0)->indexBuffer()), cube.subMeshes[0].indices);
        // The stored sphere is the one the engine would compute.
        const f32 stored = mesh.subMesh(0)->radius();
        mesh.subMesh(0)->updateBounds(&vb);
        EXPECT_EQ(mesh.subMesh(0)->radius(), stored);
        EXPECT_EQ(mesh.boneMatrices().count(), 0u);
    }
}

TEST(ObjMesh, FilesAnotherProgramWroteRead)
{
    const struct {
        const char* file;
        u32 vertices;
        u64 subMeshes;
        u64 indices;
        const char* format;
    } cases[] = {
        { "cube-converted.obj", 24, 1, 36, "position(3f) normal(3f) texcoord0(2f)" },
        { "ramp-converted.obj", 6, 1, 24, "position(3f) normal(3f)" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        assetbuild::MeshDocument mesh;
        std::string error;
        ASSERT_TRUE(
            assetbuild::parseObjMesh(fileBytes(std::string(QUERN_VISUALS_FIXTURES) + "/" + c.file), "m", mesh, error))
            << error;
        EXPECT_EQ(mesh.vertexCount, c.vertices);
        ASSERT_EQ(mesh.subMeshes.size(), c.subMeshes);
        EXPECT_EQ(mesh.subMeshes[0].indices.size(), c.indices);
        EXPECT_EQ(mesh.format, c.format);
    }
}

// Meshes loaded through their handler from a depot the content tool built.
class MeshLoading : public RecordingDisplayTest {
protected:
    void SetUp() override
    {
        RecordingDisplayTest::SetUp();
        registry.create<visuals::MeshHandler>();
        assets::AssetHandlerRegistry::setInstance(&registry);
    }
    void TearDown() override
    {
        assets::AssetHandlerRegistry::setInstance(nullptr);
        RecordingDisplayTest::TearDown();
    }

    assets::AssetHandlerRegistry registry;
    test::DepotContent content;
    assets::BlobDepot depot;
    assets::DefaultResourceCache cache;
};

TEST_F(MeshLoading, TheHandlerLoadsBothFormsFromTheDepot)
{
    EXPECT_EQ(packName("mesh"), assets::ResourceType::Mesh);
    const std::string obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    content.build({ { "a.obj", obj, "", "mesh" }, { "b.obj", obj + "form text\n", "", "mesh" } });
    depot.openIndex(content.out().c_str());
    for (const char* name : { "a.obj", "b.obj" }) {
        SCOPED_TRACE(name);
        const u64 key = assets::loadAsset(test::assetId(name), assets::ResourceType::Mesh, depot, cache);
        assets::CacheEntry* entry = cache.find(key);
        ASSERT_NE(entry, nullptr);
        MeshVisual* mesh = static_cast<MeshVisual*>(entry->resource);
        EXPECT_EQ(mesh->name(), std::string(name).substr(0, 1));
        EXPECT_EQ(positionsOf(*mesh), (Floats { 0, 0, 0, 1, 0, 0, 0, 1, 0 }));
        EXPECT_EQ(indicesOf(*mesh->subMesh(0)->indexBuffer()), (Indices { 0, 1, 2 }));
    }
}

TEST(MeshHandlerInfo, DescribesTheNativeMeshType)
{
    visuals::MeshHandler handler;
    assets::AssetHandlerInfo info {};
    handler.describe(info);
    EXPECT_STREQ(info.format, "native");
    EXPECT_EQ(info.typeId, 0x207777010fd8f91dull);
}

} // namespace
} // namespace quern::test
