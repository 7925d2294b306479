#include "MaterialTestSupport.h"

#include "quern/strings/Hashes.h"

#include <cstring>

namespace quern::graphics {
namespace {

using testing::MaterialEnvironment;
using P = EmbeddedProgram;

class EmbeddedProgramRegistration : public MaterialEnvironment {};

TEST_F(EmbeddedProgramRegistration, EveryFamilyFillsItsSlotsWithCachedPrograms)
{
    for (u32 i = 0; i < kEmbeddedProgramCount; ++i)
        EXPECT_EQ(embeddedProgramKey(static_cast<P>(i)), 0u);
    registerBuiltIns();
    for (const EmbeddedProgramSource& source : glslProgramSources()) {
        SCOPED_TRACE(source.name);
        const u64 key = embeddedProgramKey(source.program);
        EXPECT_EQ(key, strings::murmurHash64A(source.name, std::strlen(source.name), 0) ^ 0x2f72e60fbf21825full);
        const assets::CacheEntry* entry = cache.find(key);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->typeId, assets::ResourceType::ShaderProgram);
        ShaderProgram* loaded = program(source.program);
        ASSERT_NE(loaded, nullptr);
        const bool vertex = source.name[std::strlen(source.name) - 1] == 'v';
        EXPECT_EQ(loaded->type(), vertex ? ShaderProgramType::Vertex : ShaderProgramType::Fragment);
    }
}

TEST_F(EmbeddedProgramRegistration, RegisteringAFamilyAgainLoadsNothingAndKeepsTheKeys)
{
    UnlitMaterial::registerShaders(ShaderLanguage::GLSL, cache);
    const u64 vertexKey = embeddedProgramKey(P::UnlitVertex);
    const u64 fragmentKey = embeddedProgramKey(P::UnlitFragment);
    ShaderProgram* vertex = program(P::UnlitVertex);
    const u64 count = cache.count();
    EXPECT_EQ(count, 2u);

    // The text registration runs the unlit one again first.
    UnlitMaterial::registerShaders(ShaderLanguage::GLSL, cache);
    TextMaterial::registerShaders(ShaderLanguage::GLSL, cache);
    EXPECT_EQ(embeddedProgramKey(P::UnlitVertex), vertexKey);
    EXPECT_EQ(embeddedProgramKey(P::UnlitFragment), fragmentKey);
    EXPECT_EQ(program(P::UnlitVertex), vertex);
    EXPECT_EQ(cache.count(), count + 2);
}

using Registration = void (*)(ShaderLanguage, assets::ResourceCache&);

TEST_F(EmbeddedProgramRegistration, LanguagesOtherThanGLSLAreRefused)
{
    const Registration families[] = {
        UnlitMaterial::registerShaders,   TextMaterial::registerShaders,      UnlitMaterial::registerVertexColorShaders,
        ParticleMaterial::registerShaders, BlitMaterial::registerShaders,     BrightnessMaterial::registerShaders,
        YuvToRgbMaterial::registerShaders,
    };
    const ShaderLanguage languages[] = {ShaderLanguage::HLSL, ShaderLanguage::PSSL, ShaderLanguage::GXP,
                                        static_cast<ShaderLanguage>(7)};
    for (Registration family : families)
        EXPECT_DEATH(family(static_cast<ShaderLanguage>(7), cache), "Unsupported shader language");
    // Only GLSL texts are carried.
    for (ShaderLanguage language : languages)
        EXPECT_DEATH(UnlitMaterial::registerShaders(language, cache), "Unsupported shader language");
}

TEST_F(EmbeddedProgramRegistration, TheRefusalNamesTheFamilysSource)
{
    EXPECT_DEATH(BlitMaterial::registerShaders(static_cast<ShaderLanguage>(7), cache), "BlitMaterial");
    EXPECT_DEATH(TextMaterial::registerShaders(static_cast<ShaderLanguage>(7), cache), "UnlitMaterial");
}

TEST_F(EmbeddedProgramRegistration, AMaterialOfAnUnregisteredFamilyGetsNoProgram)
{
    UnlitMaterial::registerShaders(ShaderLanguage::GLSL, cache);
    testing::Held<BlitMaterial> blit(new BlitMaterial);
    blit->setSource(makeTexture(PixelBufferFormat::create2D(4, 4, PixelFormat::R8G8B8A8)));
    const ShaderProgramState* programs = blit->getShader()->getShaderProgramState();
    EXPECT_EQ(programs->vertexProgram(), program(P::UnlitVertex));
    EXPECT_EQ(programs->fragmentProgram(), nullptr);
}

} // namespace
} // namespace quern::graphics
