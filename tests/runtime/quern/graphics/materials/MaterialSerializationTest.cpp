#include "MaterialTestSupport.h"

#include "MaterialWriter.h"
#include "quern/graphics/EmbeddedSourceDepot.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/serialization/MaterialSerialization.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/Hashes.h"
#include "quern/strings/PackedName.h"
#include "support/ExactAlignmentAllocator.h"
#include "support/ExactAlignmentLoading.h"

#include <cstring>
#include <sstream>

namespace quern::graphics {
namespace {

using testing::floatsOf;
using testing::Held;
using testing::uniformNamed;
using testing::uniformNames;
using Bytes = std::vector<u8>;
using Floats = std::vector<f32>;

struct ByteWriter {
    Bytes bytes;
    void u8s(std::initializer_list<u8> values) { bytes.insert(bytes.end(), values); }
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
    void text(const char* value)
    {
        u32s(static_cast<u32>(std::strlen(value)));
        bytes.insert(bytes.end(), value, value + std::strlen(value));
    }
};

// The material "m" with one Float property "_Intensity" of 2.0, byte for byte.
Bytes intensityMaterial(u8 propertyType = 3)
{
    ByteWriter out;
    out.u64s(0x20338faac60a9e37ull);
    out.text("m");
    out.u64s(0);
    out.u64s(0);
    out.u8s({ 0x01, 0x00, 0x02, 0x02 });
    out.u32s(1);
    out.u64s(0x28bc139b61bbb53dull);
    out.text("_Intensity");
    out.u8s({ propertyType });
    out.u8s({ 0x00, 0x00, 0x00, 0x40 });
    return out.bytes;
}

void read(const Bytes& bytes, GenericMaterial& material)
{
    StringSource source(bytes.data(), bytes.size());
    readMaterial(source, serialize::selectPODToken(source), material);
}

std::string written(const assetbuild::MaterialSource& material, bool text)
{
    serialize::BinaryPODToken binary;
    serialize::TextPODToken textToken;
    std::ostringstream out;
    assetbuild::writeMaterial(out, text ? static_cast<serialize::PODToken&>(textToken) : binary, material);
    return out.str();
}

class MaterialFiles : public testing::MaterialEnvironment {
protected:
    MaterialFiles() { registerBuiltIns(); }
};

TEST_F(MaterialFiles, TheIntensityExampleReadsBack)
{
    Held<GenericMaterial> material(new GenericMaterial);
    read(intensityMaterial(), *material);
    EXPECT_EQ(material->name(), "m");
    EXPECT_EQ(material->vertexProgramRef().asset.assetId, 0u);
    EXPECT_EQ(material->sourceFactor(), 1u);
    EXPECT_EQ(material->destinationFactor(), 0u);
    EXPECT_EQ(material->cullMode(), 2u);
    EXPECT_EQ(material->depthComparison(), 2u);
    ASSERT_EQ(material->propertyCount(), 1u);
    const MaterialProperty& property = material->property(1);
    EXPECT_STREQ(property.name, "_Intensity");
    EXPECT_EQ(property.type, 3u);
    EXPECT_EQ(property.reserved, -1);
    EXPECT_EQ(property.value[0], 2.0f);
    EXPECT_EQ(material->findProperty("_Intensity"), 1);

    const ShaderProgramState& programs = *material->getShader()->getShaderProgramState();
    EXPECT_EQ(floatsOf(uniformNamed(programs, ShaderProgramState::FragmentStage, "_Intensity")), Floats { 2.0f });
    EXPECT_EQ(uniformNames(programs, ShaderProgramState::FragmentStage), std::vector<std::string> { "_Intensity" });
}

TEST_F(MaterialFiles, TheToolWritesTheExampleByteForByte)
{
    assetbuild::MaterialSource source;
    source.name = "m";
    assetbuild::MaterialSourceProperty intensity;
    intensity.name = "_Intensity";
    intensity.type = 3;
    intensity.value[0] = 2.0f;
    source.properties.push_back(intensity);
    const std::string bytes = written(source, false);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), intensityMaterial());
}

TEST_F(MaterialFiles, BothFormsOfEveryPropertyKindReadTheSame)
{
    const std::map<std::string, u64> assets = { { "WhiteDDS", 77 } };
    assetbuild::MaterialSource source;
    std::string error;
    ASSERT_TRUE(assetbuild::parseMaterialSource("name glass  # a comment\n"
                                                "vertex unlit_glsl_v\n"
                                                "fragment unlit_glsl_p\n"
                                                "blend 4 5\n"
                                                "cull 0\n"
                                                "depth 1\n"
                                                "color _Tint 1 0.5 0.25 1\n"
                                                "vector _Wind 1 2 3 4\n"
                                                "float _Intensity 2\n"
                                                "texture _MainTex WhiteDDS unit 2 wrap 15 offset 0.5 0 scale 0 2\n"
                                                "uniform skinningPalette\n",
        assets, source, error))
        << error;
    for (const bool text : { false, true }) {
        SCOPED_TRACE(text ? "text" : "binary");
        const std::string bytes = written(source, text);
        EXPECT_EQ(bytes[0] == '{' || bytes[0] == '"', text);
        Held<GenericMaterial> material(new GenericMaterial);
        read(Bytes(bytes.begin(), bytes.end()), *material);
        EXPECT_EQ(material->name(), "glass");
        EXPECT_EQ(material->vertexProgramRef().asset.assetId, embeddedProgramAssetId("unlit_glsl_v"));
        EXPECT_EQ(material->fragmentProgramRef().asset.assetId, embeddedProgramAssetId("unlit_glsl_p"));
        EXPECT_EQ(material->sourceFactor(), 4u);
        EXPECT_EQ(material->destinationFactor(), 5u);
        EXPECT_EQ(material->cullMode(), 0u);
        EXPECT_EQ(material->depthComparison(), 1u);
        ASSERT_EQ(material->propertyCount(), 5u);
        EXPECT_EQ(
            Floats(material->property(1).value, material->property(1).value + 4), (Floats { 1.0f, 0.5f, 0.25f, 1.0f }));
        EXPECT_EQ(material->property(2).type, 2u);
        EXPECT_EQ(material->property(2).value[3], 4.0f);
        EXPECT_EQ(material->property(3).value[0], 2.0f);
        const MaterialProperty& texture = material->property(4);
        EXPECT_EQ(texture.type, 4u);
        EXPECT_EQ(texture.textureRef.assetId, 77u);
        EXPECT_EQ(texture.unit, 2);
        EXPECT_EQ(texture.wrap, 15u);
        EXPECT_EQ(Floats(texture.offset, texture.offset + 2), (Floats { 0.5f, 0.0f }));
        EXPECT_EQ(Floats(texture.scale, texture.scale + 2), (Floats { 0.0f, 2.0f }));
        EXPECT_EQ(material->property(5).type, 5u);
        EXPECT_EQ(material->property(5).uniform, nullptr);
        EXPECT_EQ(material->findProperty("skinningPalette"), 5);
    }
}

TEST_F(MaterialFiles, BadFilesStopTheLoad)
{
    Held<GenericMaterial> material(new GenericMaterial);
    EXPECT_DEATH(read(intensityMaterial(6), *material), "Invalid material property type");
    EXPECT_DEATH(read(intensityMaterial(0), *material), "Invalid material property type");

    Bytes wrongChunk = intensityMaterial();
    wrongChunk[0] ^= 1;
    EXPECT_DEATH(read(wrongChunk, *material), "Unexpected chunk type");

    Bytes truncated = intensityMaterial();
    truncated.resize(truncated.size() - 2);
    EXPECT_DEATH(read(truncated, *material), "Error reading from file");

    Bytes badCull = intensityMaterial();
    badCull[8 + 5 + 16 + 2] = 3;
    EXPECT_DEATH(read(badCull, *material), "Invalid material cull mode 3");
}

TEST_F(MaterialFiles, ATextureUnitOutsideTheEightIsRefused)
{
    assetbuild::MaterialSource source;
    assetbuild::MaterialSourceProperty texture;
    texture.name = "_MainTex";
    texture.type = 4;
    texture.unit = 8;
    source.properties.push_back(texture);
    const std::string bytes = written(source, false);
    Held<GenericMaterial> material(new GenericMaterial);
    EXPECT_DEATH(read(Bytes(bytes.begin(), bytes.end()), *material), "Invalid material texture unit 8");
}

TEST_F(MaterialFiles, TheToolRefusesBadSources)
{
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        { "shine 1\n", "material line 1: unknown material keyword shine" },
        { "blend 4 15\n", "bad value for blend" },
        { "cull 3\n", "bad value for cull" },
        { "float _Intensity\n", "bad values for float _Intensity" },
        { "color _Tint 1 2 3\n", "bad values for color _Tint" },
        { "\nvector abcdefghijklmnopqrst 1 2 3 4\n", "material line 2: property name abcdefghijklmnopqrst is longer" },
        { "texture _MainTex missing\n", "texture missing is not an asset" },
        { "texture _MainTex known unit 8\n", "bad values for texture _MainTex" },
        { "format json\n", "bad value for format" },
    };
    for (const auto& c : cases) {
        assetbuild::MaterialSource source;
        std::string error;
        EXPECT_FALSE(assetbuild::parseMaterialSource(c.text, { { "known", 1 } }, source, error)) << c.text;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

// Post-effect materials declare the textures the game binds each frame
// (the frame, blurred copies) without a texture of their own.
TEST_F(MaterialFiles, ADashDeclaresATextureTheGameBinds)
{
    assetbuild::MaterialSource source;
    std::string error;
    ASSERT_TRUE(assetbuild::parseMaterialSource("texture frameBuffer - unit 1\n", {}, source, error)) << error;
    const std::string bytes = written(source, false);
    Held<GenericMaterial> material(new GenericMaterial);
    read(Bytes(bytes.begin(), bytes.end()), *material);
    ASSERT_EQ(material->propertyCount(), 1u);
    const MaterialProperty& texture = material->property(1);
    EXPECT_EQ(texture.type, 4u);
    EXPECT_EQ(texture.textureRef.assetId, 0u);
    EXPECT_EQ(texture.unit, 1);
}

TEST_F(MaterialFiles, TheManifestTypeWordIsTheMaterialType)
{
    EXPECT_EQ(packName("material"), assets::ResourceType::Material);
}

// A material file naming a built-in program, a program that is not loaded
// and the white texture, in an embedded depot under "crate.material".
void addCrateMaterial(EmbeddedSourceDepot& depot, std::string& bytes)
{
    assetbuild::MaterialSource source;
    std::string error;
    const std::map<std::string, u64> assets
        = { { "WhiteDDS", defaultWhiteTextureKey() ^ assets::ResourceType::Texture } };
    ASSERT_TRUE(assetbuild::parseMaterialSource("format text\nvertex unlit_glsl_v\nfragment missing_glsl_p\n"
                                                "texture _MainTex WhiteDDS\n",
        assets, source, error));
    source.name = "crate";
    bytes = written(source, source.textForm);
    depot.add(bytes.data(), bytes.size(), "crate.material");
}

class MaterialLoading : public MaterialFiles {
protected:
    MaterialLoading()
    {
        registry.create<NullShaderProgramHandler>();
        registry.create<testing::WhiteImageHandler>();
        registry.create<MaterialHandler>();
        assets::AssetHandlerRegistry::setInstance(&registry);
    }
    ~MaterialLoading() override { assets::AssetHandlerRegistry::setInstance(nullptr); }

    // The loaded and linked crate material, checked; its handle is released.
    void expectCrate(u64 key)
    {
        const u64 id = embeddedProgramAssetId("crate.material");
        EXPECT_EQ(key, id ^ assets::ResourceType::Material);
        const u32 handle = cache.acquire(key);
        u64 type = 0;
        auto* material = static_cast<GenericMaterial*>(static_cast<RefCounted*>(cache.entry(handle, type)));
        ASSERT_NE(material, nullptr);
        EXPECT_EQ(type, assets::ResourceType::Material);
        EXPECT_EQ(material->name(), "crate");
        EXPECT_EQ(material->vertexProgram(), program(EmbeddedProgram::UnlitVertex));
        EXPECT_EQ(material->fragmentProgram(), nullptr); // not in the cache: no program, no error
        EXPECT_EQ(material->property(1).texture, whiteTexture());
        EXPECT_EQ(material->property(1).textureRef.handle, 0u); // linking holds no handles
        cache.release(handle);
    }

    assets::AssetHandlerRegistry registry;
};

TEST_F(MaterialLoading, TheHandlerLoadsAndLinksThroughTheCache)
{
    EmbeddedSourceDepot depot;
    std::string bytes;
    addCrateMaterial(depot, bytes);
    const u64 id = embeddedProgramAssetId("crate.material");
    const u64 key = assets::loadAsset(id, assets::ResourceType::Material, depot, cache);
    expectCrate(key);

    // A second load finds the cached material and reads nothing.
    EXPECT_EQ(assets::loadAsset(id, assets::ResourceType::Material, depot, cache), key);
}

// The handler keeps the material's pointer in its scratch memory from load to
// link; it must be aligned for it even where the allocator adds nothing.
TEST_F(MaterialLoading, ScratchOfExactlyTheAlignmentAskedHoldsTheMaterialUntilLink)
{
    EmbeddedSourceDepot depot;
    std::string bytes;
    addCrateMaterial(depot, bytes);
    quern::testing::ExactAlignmentAllocator exact;
    expectCrate(quern::testing::loadAssetFrom(
        exact, embeddedProgramAssetId("crate.material"), assets::ResourceType::Material, depot, cache));
    EXPECT_EQ(exact.live, 0);
}

} // namespace
} // namespace quern::graphics
