#include "MaterialTestSupport.h"

#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/FillState.h"
#include "quern/graphics/renderstate/TextureState.h"

namespace quern::graphics {
namespace {

using testing::floatsOf;
using testing::Held;
using testing::uniformNamed;
using testing::uniformNames;
using BF = AlphaBlendState::BlendFactor;
using P = EmbeddedProgram;
using Names = std::vector<std::string>;
constexpr auto kVertex = ShaderProgramState::VertexStage;
constexpr auto kFragment = ShaderProgramState::FragmentStage;

class UnlitFamily : public testing::MaterialEnvironment {
public:
    UnlitFamily() { registerBuiltIns(); }

    Texture* rgba() { return makeTexture(PixelBufferFormat::create2D(8, 8, PixelFormat::R8G8B8A8)); }
    Texture* rgb() { return makeTexture(PixelBufferFormat::create2D(8, 8, PixelFormat::R8G8B8)); }
    Texture* glyphs() { return makeTexture(PixelBufferFormat::create2D(256, 256, PixelFormat::L8)); }
};

TEST_F(UnlitFamily, ParticleBlendModeFollowsTheFactorsOrTheTexture)
{
    const struct {
        const char* what;
        BF source;
        BF destination;
        Texture* (UnlitFamily::*texture)();
        bool enabled;
        BF expectedSource;
        BF expectedDestination;
    } cases[] = {
        {"texture with alpha", BF::One, BF::Zero, &UnlitFamily::rgba, true, BF::One, BF::OneMinusSourceAlpha},
        {"texture without alpha", BF::One, BF::Zero, &UnlitFamily::rgb, false, BF::One, BF::Zero},
        {"factors set, no alpha", BF::SourceAlpha, BF::OneMinusSourceAlpha, &UnlitFamily::rgb, true, BF::SourceAlpha,
         BF::OneMinusSourceAlpha},
        {"factors set, alpha", BF::SourceAlpha, BF::OneMinusSourceAlpha, &UnlitFamily::rgba, true, BF::SourceAlpha,
         BF::OneMinusSourceAlpha},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Held<ParticleMaterial> material(new ParticleMaterial);
        material->setTexture((this->*c.texture)());
        material->setBlendFactors(c.source, c.destination);
        const AlphaBlendState* blend = material->getShader()->getAlphaBlendState();
        EXPECT_EQ(blend->isEnabled(), c.enabled);
        if (c.enabled) {
            EXPECT_EQ(blend->sourceFactor(), c.expectedSource);
            EXPECT_EQ(blend->destinationFactor(), c.expectedDestination);
        }
    }
}

TEST_F(UnlitFamily, TheExtensionWordDecidesAlphaWhenItIsValid)
{
    Texture* texture = rgb();
    texture->extension().valid = 1;
    texture->extension().flag0 = 1;
    Held<ParticleMaterial> material(new ParticleMaterial);
    material->setTexture(texture);
    EXPECT_TRUE(material->getShader()->getAlphaBlendState()->isEnabled());

    Texture* opaque = rgba();
    opaque->extension().valid = 1;
    opaque->extension().flag0 = 0;
    Held<ParticleMaterial> other(new ParticleMaterial);
    other->setTexture(opaque);
    EXPECT_FALSE(other->getShader()->getAlphaBlendState()->isEnabled());
}

TEST_F(UnlitFamily, ParticlePassHasTheUnlitProgramsColourAndMatrix)
{
    Held<ParticleMaterial> material(new ParticleMaterial);
    material->setColour(0.5f, 0.25f, 1.0f, 0.75f);
    material->setTexture(rgba());
    const ShaderProgramState* programs = material->getShader()->getShaderProgramState();
    EXPECT_EQ(programs->vertexProgram(), program(P::UnlitVertex));
    EXPECT_EQ(programs->fragmentProgram(), program(P::UnlitFragment));
    EXPECT_EQ(uniformNames(*programs, kVertex), Names{"modelViewProjectionMatrix"});
    EXPECT_EQ(uniformNames(*programs, kFragment), Names{"color"});
    EXPECT_EQ(floatsOf(uniformNamed(*programs, kFragment, "color")), (std::vector<f32>{0.5f, 0.25f, 1.0f, 0.75f}));
    EXPECT_TRUE(programs->hasPerDrawUniforms());
}

TEST_F(UnlitFamily, MipmappedTexturesSampleBetweenLevels)
{
    Held<ParticleMaterial> mipmapped(new ParticleMaterial);
    mipmapped->setTexture(makeTexture(PixelBufferFormat::create2D(8, 8, PixelFormat::R8G8B8A8, 0, 3)));
    EXPECT_EQ(mipmapped->getShader()->getTextureState()->unit(0).mipmapMode, 2);
    Held<ParticleMaterial> flat(new ParticleMaterial);
    flat->setTexture(rgba());
    EXPECT_EQ(flat->getShader()->getTextureState()->unit(0).mipmapMode, 0);
}

TEST_F(UnlitFamily, UntexturedParticleAndDebugMaterialsSampleTheWhiteTexture)
{
    ASSERT_NE(whiteTexture(), nullptr);
    Held<ParticleMaterial> particle(new ParticleMaterial);
    Held<DebugMaterial> debug(new DebugMaterial);
    Held<SpriteMaterial> sprite(new SpriteMaterial);
    for (Material* material : {static_cast<Material*>(particle.get()), static_cast<Material*>(debug.get()),
                               static_cast<Material*>(sprite.get())}) {
        Shader* pass = material->getShader();
        const TextureState* textures = pass->getTextureState();
        EXPECT_EQ(textures->texture(0), whiteTexture());
        EXPECT_EQ(textures->unit(0).mipmapMode, 0);
        EXPECT_FALSE(pass->getAlphaBlendState()->isEnabled());
    }
}

TEST_F(UnlitFamily, UntexturedPassHasNoTextureStateBeforeTheWhiteTextureExists)
{
    cache.clear();
    Held<ParticleMaterial> particle(new ParticleMaterial);
    EXPECT_EQ(particle->getShader()->renderState(RenderStateID::TextureState), nullptr);
}

TEST_F(UnlitFamily, RemovingTheTextureBindsWhiteInsteadOfKeepingTheOldOne)
{
    Held<ParticleMaterial> material(new ParticleMaterial);
    Texture* texture = rgba();
    material->setTexture(texture);
    EXPECT_EQ(material->getShader()->getTextureState()->texture(0), texture);
    material->setTexture(nullptr);
    material->setDirty();
    EXPECT_EQ(material->getShader()->getTextureState()->texture(0), whiteTexture());
}

TEST_F(UnlitFamily, TextureChangeOfACopyReachesOnlyTheCopy)
{
    Texture* first = rgba();
    Texture* second = rgba();
    Held<SpriteMaterial> original(new SpriteMaterial);
    original->setTexture(first);
    original->getShader();
    Held<SpriteMaterial> copy(original->clone());
    copy->setTexture(second);
    copy->setDirty();
    EXPECT_EQ(copy->getShader()->getTextureState()->texture(0), second);
    EXPECT_EQ(original->getShader()->getTextureState()->texture(0), first);
}

TEST_F(UnlitFamily, UnlitMaterialUploadsWhiteWhateverItsColour)
{
    Held<UnlitMaterial> material(new UnlitMaterial);
    material->setColour(1.0f, 0.0f, 0.0f, 1.0f);
    const ShaderProgramState* programs = material->getShader()->getShaderProgramState();
    EXPECT_EQ(uniformNames(*programs, kFragment), Names{"color"});
    EXPECT_EQ(floatsOf(uniformNamed(*programs, kFragment, "color")), (std::vector<f32>{1.0f, 1.0f, 1.0f, 1.0f}));
}

TEST_F(UnlitFamily, UnlitMaterialPicksVertexColourProgramsByTexture)
{
    Held<UnlitMaterial> plain(new UnlitMaterial);
    Shader* pass = plain->getShader();
    EXPECT_EQ(pass->getShaderProgramState()->vertexProgram(), program(P::VertexColorVertex));
    EXPECT_EQ(pass->getShaderProgramState()->fragmentProgram(), program(P::VertexColorFragment));
    EXPECT_FALSE(pass->getDepthBufferState()->isTestEnabled());
    const AlphaBlendState* blend = pass->getAlphaBlendState();
    EXPECT_TRUE(blend->isEnabled());
    EXPECT_EQ(blend->sourceFactor(), BF::SourceAlpha);
    EXPECT_EQ(blend->destinationFactor(), BF::OneMinusSourceAlpha);

    Held<UnlitMaterial> textured(new UnlitMaterial);
    textured->setTexture(rgba());
    const ShaderProgramState* programs = textured->getShader()->getShaderProgramState();
    EXPECT_EQ(programs->vertexProgram(), program(P::VertexColorTexturedVertex));
    EXPECT_EQ(programs->fragmentProgram(), program(P::VertexColorTexturedFragment));
}

TEST_F(UnlitFamily, ScissorChangeOfACopyReachesOnlyTheCopy)
{
    Held<UnlitMaterial> original(new UnlitMaterial);
    original->setScissorEnabled(true);
    original->setScissor(1, 2, 30, 40);
    const CullState* before = original->getShader()->getCullState();

    Held<UnlitMaterial> copy(original->clone());
    copy->setScissor(5, 6, 70, 80);
    copy->setDirty();
    const CullState* copied = copy->getShader()->getCullState();
    EXPECT_TRUE(copied->isScissorEnabled());
    EXPECT_EQ(std::vector<i32>(copied->scissor(), copied->scissor() + 4), (std::vector<i32>{5, 6, 70, 80}));

    const CullState* after = original->getShader()->getCullState();
    EXPECT_EQ(after, before);
    EXPECT_EQ(std::vector<i32>(after->scissor(), after->scissor() + 4), (std::vector<i32>{1, 2, 30, 40}));
}

TEST_F(UnlitFamily, ScissorChangeInPlaceIsAnnounced)
{
    Held<UnlitMaterial> material(new UnlitMaterial);
    CullState* cull = material->getShader()->getCullState();
    struct Recorder final : RenderStateListener {
        void onChanged(RenderState*) override { ++changes; }
        int changes = 0;
    } recorder;
    cull->setListener(&recorder);
    material->setScissor(0, 0, 10, 10);
    material->setDirty();
    material->getShader();
    EXPECT_EQ(recorder.changes, 1);
    cull->setListener(nullptr);
}

TEST_F(UnlitFamily, SpriteAndTextPassesClampAndSkipCullingAndDepth)
{
    Held<SpriteMaterial> sprite(new SpriteMaterial);
    Held<TextMaterial> text(new TextMaterial);
    for (Material* material : {static_cast<Material*>(sprite.get()), static_cast<Material*>(text.get())}) {
        Shader* pass = material->getShader();
        EXPECT_EQ(pass->getCullState()->cullMode(), CullState::CullNone);
        EXPECT_FALSE(pass->getDepthBufferState()->isTestEnabled());
        EXPECT_EQ(pass->getTextureState()->unit(0).wrap, 15);
    }
}

TEST_F(UnlitFamily, TextWithAGlyphAtlasUsesTheTextPrograms)
{
    Held<TextMaterial> text(new TextMaterial);
    text->setTexture(glyphs());
    text->setColour(0.2f, 0.4f, 0.6f, 0.8f);
    const ShaderProgramState* programs = text->getShader()->getShaderProgramState();
    EXPECT_EQ(programs->vertexProgram(), program(P::TextVertex));
    EXPECT_EQ(programs->fragmentProgram(), program(P::TextFragment));
    EXPECT_EQ(uniformNames(*programs, kVertex), (Names{"modelViewProjectionMatrix", "uniformColor"}));
    EXPECT_EQ(floatsOf(uniformNamed(*programs, kVertex, "uniformColor")), (std::vector<f32>{0.2f, 0.4f, 0.6f, 0.8f}));
    EXPECT_EQ(uniformNames(*programs, kFragment), Names{});
}

TEST_F(UnlitFamily, TextWithAColourTextureUsesTheUnlitPrograms)
{
    Held<TextMaterial> text(new TextMaterial);
    text->setTexture(rgba());
    const ShaderProgramState* programs = text->getShader()->getShaderProgramState();
    EXPECT_EQ(programs->vertexProgram(), program(P::UnlitVertex));
    EXPECT_EQ(programs->fragmentProgram(), program(P::UnlitFragment));
    EXPECT_EQ(uniformNames(*programs, kFragment), Names{"color"});
}

TEST_F(UnlitFamily, TextLeavingItsGlyphAtlasGoesBackToTheUnlitPrograms)
{
    Held<TextMaterial> text(new TextMaterial);
    text->setTexture(glyphs());
    text->getShader();
    text->setTexture(rgba());
    text->setDirty();
    const ShaderProgramState* programs = text->getShader()->getShaderProgramState();
    EXPECT_EQ(programs->vertexProgram(), program(P::UnlitVertex));
    EXPECT_EQ(programs->fragmentProgram(), program(P::UnlitFragment));
    EXPECT_EQ(uniformNames(*programs, kVertex), Names{"modelViewProjectionMatrix"});
    EXPECT_EQ(uniformNames(*programs, kFragment), Names{"color"});
}

TEST_F(UnlitFamily, DebugPassDrawsLinesWithoutCullingOrDepthTest)
{
    Held<DebugMaterial> debug(new DebugMaterial);
    Shader* pass = debug->getShader();
    EXPECT_EQ(pass->getFillState()->fillMode(), FillState::FillMode::Lines);
    EXPECT_EQ(pass->getCullState()->cullMode(), CullState::CullNone);
    EXPECT_FALSE(pass->getDepthBufferState()->isTestEnabled());
}

TEST_F(UnlitFamily, ClonesAreOfTheirOwnClassAndHoldTheTexture)
{
    Texture* texture = rgba();
    const i32 before = texture->refCount();
    Held<TextMaterial> text(new TextMaterial);
    text->setTexture(texture);
    text->setColour(0.1f, 0.2f, 0.3f, 0.4f);
    Held<Material> copy(text->clone());
    auto* typed = dynamic_cast<TextMaterial*>(copy.get());
    ASSERT_NE(typed, nullptr);
    EXPECT_EQ(typed->texture(), texture);
    EXPECT_EQ(typed->colour()[3], 0.4f);
    EXPECT_EQ(texture->refCount(), before + 2);
}

TEST_F(UnlitFamily, EqualSettingsGiveEqualPasses)
{
    Held<SpriteMaterial> a(new SpriteMaterial);
    Held<SpriteMaterial> b(new SpriteMaterial);
    Texture* texture = rgba();
    a->setTexture(texture);
    b->setTexture(texture);
    EXPECT_TRUE(a->equals(*b));
}

} // namespace
} // namespace quern::graphics
