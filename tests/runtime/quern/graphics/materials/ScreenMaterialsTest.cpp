// The blit, brightness and YUV materials.

#include "MaterialTestSupport.h"

#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/TextureState.h"

namespace quern::graphics {
namespace {

using testing::floatsOf;
using testing::Held;
using testing::intOf;
using testing::uniformNamed;
using testing::uniformNames;
using P = EmbeddedProgram;
using Names = std::vector<std::string>;
constexpr auto kVertex = ShaderProgramState::VertexStage;
constexpr auto kFragment = ShaderProgramState::FragmentStage;

class ScreenMaterials : public testing::MaterialEnvironment {
protected:
    ScreenMaterials() { registerBuiltIns(); }

    Texture* image(u32 width, u32 height, i32 samples = 1)
    {
        PixelBufferFormat format = PixelBufferFormat::create2D(width, height, PixelFormat::R8G8B8A8);
        format.layerCount = samples;
        return makeTexture(format);
    }
};

TEST_F(ScreenMaterials, BlitPicksProgramsBySamplesAndDownsampling)
{
    const struct {
        const char* what;
        i32 samples;
        bool downsample;
        P vertex;
        P fragment;
    } cases[] = {
        {"single sample", 1, false, P::UnlitVertex, P::BlitFragment},
        {"four samples", 4, false, P::UnlitVertex, P::BlitMultisampleFragment},
        {"downsample", 1, true, P::BlitDownsampleVertex, P::BlitDownsampleFragment},
        {"downsample wins over samples", 4, true, P::BlitDownsampleVertex, P::BlitDownsampleFragment},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Held<BlitMaterial> blit(new BlitMaterial);
        blit->setSource(image(256, 128, c.samples));
        blit->setDownsample(c.downsample);
        const ShaderProgramState* programs = blit->getShader()->getShaderProgramState();
        EXPECT_EQ(programs->vertexProgram(), program(c.vertex));
        EXPECT_EQ(programs->fragmentProgram(), program(c.fragment));
        EXPECT_EQ(uniformNames(*programs, kFragment), Names{"numSamples"});
        EXPECT_EQ(intOf(uniformNamed(*programs, kFragment, "numSamples")), c.samples);
    }
}

TEST_F(ScreenMaterials, BlitPassCopiesWithoutMipmapsDepthOrWrapping)
{
    Held<BlitMaterial> blit(new BlitMaterial);
    Texture* source = image(256, 128);
    blit->setSource(source);
    Shader* pass = blit->getShader();
    const TextureState* textures = pass->getTextureState();
    EXPECT_EQ(textures->texture(0), source);
    EXPECT_EQ(textures->unit(0).mipmapMode, 0);
    EXPECT_EQ(textures->unit(0).wrap, 15);
    EXPECT_EQ(pass->getDepthBufferState()->comparison(), Comparison::Always);
    EXPECT_EQ(uniformNames(*pass->getShaderProgramState(), kVertex), Names{"modelViewProjectionMatrix"});
}

TEST_F(ScreenMaterials, DownsamplingUploadsOneTexelSizeHoweverOftenItIsRebuilt)
{
    Held<BlitMaterial> blit(new BlitMaterial);
    blit->setSource(image(256, 128));
    blit->setDownsample(true);
    blit->getShader();
    blit->setSource(image(64, 32));
    blit->setDirty();
    const ShaderProgramState* programs = blit->getShader()->getShaderProgramState();
    EXPECT_EQ(uniformNames(*programs, kVertex), (Names{"modelViewProjectionMatrix", "texelSize"}));
    EXPECT_EQ(floatsOf(uniformNamed(*programs, kVertex, "texelSize")),
              (std::vector<f32>{1.0f / 64.0f, 1.0f / 32.0f, 1.0f, 1.0f}));

    blit->setDownsample(false);
    blit->setDirty();
    EXPECT_EQ(uniformNames(*blit->getShader()->getShaderProgramState(), kVertex), Names{"modelViewProjectionMatrix"});
}

TEST_F(ScreenMaterials, TexelSizeOfA256By128Image)
{
    Held<BlitMaterial> blit(new BlitMaterial);
    blit->setSource(image(256, 128));
    blit->setDownsample(true);
    const ShaderProgramState* programs = blit->getShader()->getShaderProgramState();
    EXPECT_EQ(floatsOf(uniformNamed(*programs, kVertex, "texelSize")),
              (std::vector<f32>{1.0f / 256.0f, 1.0f / 128.0f, 1.0f, 1.0f}));
}

TEST_F(ScreenMaterials, ABlitWithoutASourceIsRefusedWithAMessage)
{
    testing::LogCapture log(1);
    Held<BlitMaterial> blit(new BlitMaterial);
    blit->setName("bloom copy");
    Shader* pass = blit->getShader();
    EXPECT_NE(log.text().find("BlitMaterial 'bloom copy' has no source texture to copy"), std::string::npos)
        << log.text();
    EXPECT_EQ(pass->getTextureState()->texture(0), nullptr);

    // Losing the source later leaves no stale texture on the unit.
    blit->setSource(image(8, 8));
    blit->setDirty();
    blit->getShader();
    blit->setSource(nullptr);
    blit->setDirty();
    EXPECT_EQ(blit->getShader()->getTextureState()->texture(0), nullptr);
}

TEST_F(ScreenMaterials, BrightnessPassHoldsGammaAndBrightness)
{
    Held<BrightnessMaterial> material(new BrightnessMaterial);
    EXPECT_EQ(material->gamma(), 1.0f);
    EXPECT_EQ(material->brightness(), 0.0f);
    Texture* source = image(16, 16);
    material->setSource(source);
    material->setGamma(2.0f);
    material->setBrightness(-0.25f);
    Shader* pass = material->getShader();
    const ShaderProgramState* programs = pass->getShaderProgramState();
    EXPECT_EQ(programs->vertexProgram(), program(P::UnlitVertex));
    EXPECT_EQ(programs->fragmentProgram(), program(P::BrightnessFragment));
    EXPECT_EQ(uniformNames(*programs, kVertex), Names{"modelViewProjectionMatrix"});
    EXPECT_EQ(uniformNames(*programs, kFragment), (Names{"gamma", "brightness"}));
    EXPECT_EQ(floatsOf(material->gammaUniform()), std::vector<f32>{2.0f});
    EXPECT_EQ(floatsOf(material->brightnessUniform()), std::vector<f32>{-0.25f});
    EXPECT_EQ(pass->getTextureState()->texture(0), source);
    EXPECT_EQ(pass->getTextureState()->unit(0).mipmapMode, 0);
    EXPECT_EQ(pass->getDepthBufferState()->comparison(), Comparison::Always);
}

TEST_F(ScreenMaterials, BrightnessUpdatesItsOwnUniformsInPlace)
{
    Held<BrightnessMaterial> material(new BrightnessMaterial);
    Shader* pass = material->getShader();
    Uniform* gamma = material->gammaUniform();
    material->setGamma(2.2f);
    material->setDirty();
    EXPECT_EQ(material->getShader(), pass);
    EXPECT_EQ(material->gammaUniform(), gamma);
    EXPECT_EQ(floatsOf(gamma), std::vector<f32>{2.2f});
}

TEST_F(ScreenMaterials, BrightnessOfACopyLeavesTheOriginalsUniformsAlone)
{
    Held<BrightnessMaterial> original(new BrightnessMaterial);
    original->setGamma(2.0f);
    original->getShader();
    Uniform* originalGamma = original->gammaUniform();

    Held<BrightnessMaterial> copy(original->clone());
    copy->setGamma(3.0f);
    copy->setBrightness(0.5f);
    copy->setDirty();
    const ShaderProgramState* copied = copy->getShader()->getShaderProgramState();
    EXPECT_EQ(floatsOf(uniformNamed(*copied, kFragment, "gamma")), std::vector<f32>{3.0f});
    EXPECT_EQ(floatsOf(uniformNamed(*copied, kFragment, "brightness")), std::vector<f32>{0.5f});
    EXPECT_EQ(copy->gammaUniform(), uniformNamed(*copied, kFragment, "gamma"));

    const ShaderProgramState* kept = original->getShader()->getShaderProgramState();
    EXPECT_EQ(uniformNamed(*kept, kFragment, "gamma"), originalGamma);
    EXPECT_EQ(floatsOf(originalGamma), std::vector<f32>{2.0f});
    EXPECT_EQ(floatsOf(uniformNamed(*kept, kFragment, "brightness")), std::vector<f32>{0.0f});
}

TEST_F(ScreenMaterials, YuvPassSamplesThePlanesOnUnitsZeroToTwo)
{
    Texture* y = image(64, 64);
    Texture* u = image(32, 32);
    Texture* v = image(32, 32);
    Held<YuvToRgbMaterial> material(new YuvToRgbMaterial);
    material->setPlanes(y, u, v);
    Shader* pass = material->getShader();
    const ShaderProgramState* programs = pass->getShaderProgramState();
    EXPECT_EQ(programs->vertexProgram(), program(P::UnlitVertex));
    EXPECT_EQ(programs->fragmentProgram(), program(P::YuvToRgbFragment));
    EXPECT_EQ(uniformNames(*programs, kFragment), (Names{"yTexture", "uTexture", "vTexture"}));
    EXPECT_EQ(intOf(uniformNamed(*programs, kFragment, "yTexture")), 0);
    EXPECT_EQ(intOf(uniformNamed(*programs, kFragment, "uTexture")), 1);
    EXPECT_EQ(intOf(uniformNamed(*programs, kFragment, "vTexture")), 2);
    const TextureState* textures = pass->getTextureState();
    EXPECT_EQ(textures->texture(0), y);
    EXPECT_EQ(textures->texture(1), u);
    EXPECT_EQ(textures->texture(2), v);
    for (u32 unit = 0; unit < 3; ++unit)
        EXPECT_EQ(textures->unit(unit).mipmapMode, 0);
}

TEST_F(ScreenMaterials, CopiesHoldTheirTexturesAndNextFrameReachesOnlyTheCopy)
{
    Texture* first = image(8, 8);
    Texture* second = image(8, 8);
    const i32 before = first->refCount();
    Held<YuvToRgbMaterial> original(new YuvToRgbMaterial);
    original->setPlanes(first, first, first);
    original->getShader();
    {
        Held<YuvToRgbMaterial> copy(original->clone());
        EXPECT_EQ(first->refCount(), before + 6 + 3); // three handles each, three units of the shared pass
        copy->setPlanes(second, second, second);
        copy->setDirty();
        EXPECT_EQ(copy->getShader()->getTextureState()->texture(0), second);
        EXPECT_EQ(original->getShader()->getTextureState()->texture(2), first);
    }
    EXPECT_EQ(first->refCount(), before + 3 + 3);
}

} // namespace
} // namespace quern::graphics
