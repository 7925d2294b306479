#include "EffectTestSupport.h"

#include "harmonize/render/QuadPasses.h"

#include "quern/render/RenderQueue.h"

#include <cmath>
#include <limits>
#include <sstream>

namespace harmonize::test {
namespace {

using T = MaterialPropertyType;

constexpr u64 kBlur = 0x10000000000000b1ull;
constexpr u64 kCombine = 0x10000000000000c2ull;
constexpr u64 kBrightPass = 0x10000000000000b3ull;
constexpr u64 kVignette = 0x20000000000000a1ull;
constexpr u64 kAberration = 0x20000000000000a2ull;
constexpr u64 kVignetteBlur = 0x20000000000000a3ull;
constexpr u64 kMask = 0x20000000000000a4ull;
constexpr u64 kFxaa = 0x30000000000000f1ull;
constexpr u64 kOverlay = 0x40000000000000e1ull;
constexpr u64 kOverlayTexture = 0x40000000000000e2ull;

std::string hex(u64 id)
{
    std::ostringstream text;
    text << "0x" << std::hex << id;
    return text.str();
}

class PostEffectsTest : public EffectTest {
protected:
    static BloomSettings bloomSettings()
    {
        BloomSettings settings {};
        settings.blurSpread = 2.0f;
        settings.alphaMaskWeight = 0.25f;
        settings.intensity = 0.7f;
        settings.threshold = 0.8f;
        settings.blurIterations = 1;
        settings.blurMaterial = kBlur;
        settings.combineMaterial = kCombine;
        settings.brightPassMaterial = kBrightPass;
        return settings;
    }
    static VignetteSettings vignetteSettings()
    {
        VignetteSettings settings {};
        settings.intensity = 0.6f;
        settings.chromaticAberration = 1.5f;
        settings.blur = 0.3f;
        settings.blurSpread = 4.0f;
        settings.vignetteMaterial = kVignette;
        settings.blurMaterial = kVignetteBlur;
        settings.aberrationMaterial = kAberration;
        return settings;
    }
    void addBloomMaterials()
    {
        addMaterial(kCombine, { { "_MainTex", T::Texture }, { "bloomTex", T::Texture }, { "intensity", T::Float } });
        addMaterial(kBrightPass,
            { { "_MainTex", T::Texture }, { "threshold", T::Vector }, { "useSrcAlphaMask", T::Float } });
        addMaterial(kBlur, { { "_MainTex", T::Texture }, { "offsets", T::Vector } });
    }
    void addVignetteMaterials()
    {
        addMaterial(kVignette,
            { { "_MainTex", T::Texture }, { "vignetteTex", T::Texture }, { "blurredTex", T::Texture },
                { "intensity", T::Float }, { "blur", T::Float } });
        addMaterial(kAberration,
            { { "_MainTex", T::Texture }, { "chromaticAberration", T::Float }, { "_MainTex_TexelSize", T::Vector } });
        addMaterial(kVignetteBlur, { { "_MainTex", T::Texture }, { "offsets", T::Vector } });
    }

    static void expectSize(const DrawnQuad& quad, quern::u32 width, quern::u32 height, const char* what)
    {
        EXPECT_EQ(quad.target->width(), width) << what;
        EXPECT_EQ(quad.target->height(), height) << what;
    }
    static void expectVector(const DrawnQuad& quad, const char* name, Vec4 expected)
    {
        ASSERT_EQ(quad.values.count(name), 1u) << name;
        const Vec4& value = quad.values.at(name);
        for (int i = 0; i < 4; ++i)
            EXPECT_FLOAT_EQ(value[i], expected[i]) << name << "[" << i << "]";
    }
};

// Bloom ----------------------------------------------------------------------

TEST_F(PostEffectsTest, BloomHalvesQuartersBrightPassesBlursAndCombinesIntoTheDestination)
{
    addBloomMaterials();
    ASSERT_TRUE(effects.bloom.setUp(bloomSettings(), *worker));
    TextureRenderTarget* source = frameTarget(1280, 720);
    TextureRenderTarget* destination = frameTarget(1280, 720);
    EXPECT_TRUE(effects.bloom.apply(source, destination, quads, *pool));

    const std::vector<DrawnQuad>& d = quads.drawn;
    ASSERT_EQ(d.size(), 6u);
    EXPECT_EQ(d[0].material, effects.bloom.downsampleMaterial(0));
    EXPECT_TRUE(d[0].downsample);
    EXPECT_EQ(d[0].source, colourTexture(source));
    expectSize(d[0], 640, 360, "half");
    EXPECT_EQ(d[1].material, effects.bloom.downsampleMaterial(1));
    EXPECT_TRUE(d[1].downsample);
    EXPECT_EQ(d[1].source, colourTexture(d[0].target));
    expectSize(d[1], 320, 180, "first quarter");
    TextureRenderTarget* q1 = d[1].target;

    EXPECT_EQ(d[2].material, effects.bloom.brightPassMaterial());
    EXPECT_EQ(d[2].textures.at("_MainTex"), colourTexture(q1));
    expectVector(d[2], "threshold", { 0.8f, 5.0f, 0.0f, 1.0f });
    EXPECT_FLOAT_EQ(d[2].values.at("useSrcAlphaMask")[0], 0.25f);
    TextureRenderTarget* q2 = d[2].target;
    EXPECT_NE(q2, q1);

    EXPECT_EQ(d[3].textures.at("_MainTex"), colourTexture(q2));
    expectVector(d[3], "offsets", { 0.0f, 2.0f / 512.0f, 0.0f, 1.0f });
    TextureRenderTarget* q3 = d[3].target;
    EXPECT_NE(q3, q1);
    EXPECT_NE(q3, q2);
    EXPECT_EQ(d[4].textures.at("_MainTex"), colourTexture(q3));
    EXPECT_EQ(d[4].target, q1);
    expectVector(d[4], "offsets", { (720.0f / 1280.0f) * 2.0f / 512.0f, 0.0f, 0.0f, 1.0f });

    // The blurred bloom is the main texture, the untouched frame "bloomTex".
    EXPECT_EQ(d[5].material, effects.bloom.combineMaterial());
    EXPECT_EQ(d[5].target, destination);
    EXPECT_EQ(d[5].textures.at("_MainTex"), colourTexture(q1));
    EXPECT_EQ(d[5].textures.at("bloomTex"), colourTexture(source));
    EXPECT_FLOAT_EQ(d[5].values.at("intensity")[0], 0.7f);

    EXPECT_TRUE(poolIsFree());
    const u64 entries = pool->entryCount();
    EXPECT_EQ(entries, 4u);
    effects.bloom.apply(source, destination, quads, *pool);
    EXPECT_EQ(pool->entryCount(), entries);
    EXPECT_TRUE(poolIsFree());
}

TEST_F(PostEffectsTest, BloomThresholdKeepsItsScaleFiniteAndPositive)
{
    struct Case {
        f32 threshold;
        f32 x;
        f32 scale;
    };
    const f32 held = 1.0f - 1.0f / 1024.0f;
    const Case cases[] = {
        { 0.8f, 0.8f, 5.0f },
        { 0.0f, 0.0f, 1.0f },
        { -1.0f, -1.0f, 0.5f },
        { 1.0f, held, 1024.0f },
        { 1.5f, held, 1024.0f },
        { std::numeric_limits<f32>::quiet_NaN(), held, 1024.0f },
    };
    addBloomMaterials();
    TextureRenderTarget* source = frameTarget(64, 64);
    TextureRenderTarget* destination = frameTarget(64, 64);
    for (const Case& entry : cases) {
        BloomSettings settings = bloomSettings();
        settings.threshold = entry.threshold;
        ASSERT_TRUE(effects.bloom.setUp(settings, *worker));
        quads.drawn.clear();
        effects.bloom.apply(source, destination, quads, *pool);
        SCOPED_TRACE(entry.threshold);
        expectVector(quads.drawn[2], "threshold", { entry.x, entry.scale, 0.0f, 1.0f });
    }
}

TEST_F(PostEffectsTest, BloomRunsAtLeastOneBlurIterationEachWiderThanTheLast)
{
    struct Case {
        quern::i32 iterations;
        quern::u64 blurDraws;
    };
    const Case cases[] = { { 0, 2 }, { -3, 2 }, { 1, 2 }, { 3, 6 } };
    addBloomMaterials();
    TextureRenderTarget* source = frameTarget(1280, 720);
    TextureRenderTarget* destination = frameTarget(1280, 720);
    for (const Case& entry : cases) {
        BloomSettings settings = bloomSettings();
        settings.blurIterations = entry.iterations;
        ASSERT_TRUE(effects.bloom.setUp(settings, *worker));
        quads.drawn.clear();
        effects.bloom.apply(source, destination, quads, *pool);
        ASSERT_EQ(quads.drawn.size(), 4 + entry.blurDraws) << entry.iterations;
    }
    // Iteration 2 of spread 2: s = 4, so 4 / 512 down and across scaled by H / W.
    const DrawnQuad& down = quads.drawn[3 + 4];
    const DrawnQuad& across = quads.drawn[3 + 5];
    expectVector(down, "offsets", { 0.0f, 0.0078125f, 0.0f, 1.0f });
    expectVector(across, "offsets", { 0.0078125f * 720.0f / 1280.0f, 0.0f, 0.0f, 1.0f });
    // Later iterations read the previous result, not the bright pass.
    TextureRenderTarget* q1 = quads.drawn[1].target;
    EXPECT_EQ(down.textures.at("_MainTex"), colourTexture(q1));
}

TEST_F(PostEffectsTest, OddSizesHalveAndQuarterTowardZero)
{
    addBloomMaterials();
    addVignetteMaterials();
    ASSERT_TRUE(effects.bloom.setUp(bloomSettings(), *worker));
    ASSERT_TRUE(effects.vignette.setUp(vignetteSettings(), nullptr, *worker));
    TextureRenderTarget* source = frameTarget(1279, 719);
    TextureRenderTarget* destination = frameTarget(1279, 719);

    effects.bloom.apply(source, destination, quads, *pool);
    expectSize(quads.drawn[0], 639, 359, "bloom half");
    for (int i = 1; i <= 4; ++i)
        expectSize(quads.drawn[i], 319, 179, "bloom quarter");

    quads.drawn.clear();
    effects.vignette.apply(source, destination, quads, *pool);
    expectSize(quads.drawn[0], 639, 359, "vignette half");
    for (int i = 1; i <= 5; ++i)
        expectSize(quads.drawn[i], 319, 179, "vignette quarter");
    expectSize(quads.drawn[6], 1279, 719, "vignette full");
}

// Vignette -------------------------------------------------------------------

TEST_F(PostEffectsTest, VignetteBlursTwiceAtQuarterSizeThenDarkensAndShiftsColours)
{
    addVignetteMaterials();
    Texture* mask = addTexture(kMask);
    const VignetteMask maskSettings { kMask };
    ASSERT_TRUE(effects.vignette.setUp(vignetteSettings(), &maskSettings, *worker));
    EXPECT_EQ(effects.vignette.vignetteMaterial()->property(2).texture, mask);
    TextureRenderTarget* source = frameTarget(1280, 720);
    TextureRenderTarget* destination = frameTarget(1280, 720);
    EXPECT_TRUE(effects.vignette.apply(source, destination, quads, *pool));

    const std::vector<DrawnQuad>& d = quads.drawn;
    ASSERT_EQ(d.size(), 8u);
    EXPECT_EQ(d[0].material, effects.vignette.aberrationMaterial());
    EXPECT_EQ(d[0].textures.at("_MainTex"), colourTexture(source));
    expectSize(d[0], 640, 360, "half");
    EXPECT_EQ(d[1].material, effects.vignette.downsampleMaterial());
    EXPECT_TRUE(d[1].downsample);
    EXPECT_EQ(d[1].source, colourTexture(d[0].target));
    TextureRenderTarget* qa = d[1].target;

    const f32 spread = 4.0f / 512.0f;
    for (int iteration = 0; iteration < 2; ++iteration) {
        const DrawnQuad& down = d[2 + 2 * iteration];
        const DrawnQuad& across = d[3 + 2 * iteration];
        EXPECT_EQ(down.textures.at("_MainTex"), colourTexture(qa)) << iteration;
        EXPECT_EQ(across.target, qa) << iteration;
        EXPECT_NE(down.target, qa) << iteration;
        expectVector(down, "offsets", { 0.0f, spread, 0.0f, 1.0f });
        expectVector(across, "offsets", { (720.0f / 1280.0f) * spread, 0.0f, 0.0f, 1.0f });
    }

    EXPECT_EQ(d[6].material, effects.vignette.vignetteMaterial());
    EXPECT_EQ(d[6].textures.at("_MainTex"), colourTexture(source));
    EXPECT_EQ(d[6].textures.at("blurredTex"), colourTexture(qa));
    EXPECT_EQ(d[6].textures.at("vignetteTex"), mask);
    EXPECT_FLOAT_EQ(d[6].values.at("intensity")[0], 0.6f);
    EXPECT_FLOAT_EQ(d[6].values.at("blur")[0], 0.3f);
    TextureRenderTarget* full = d[6].target;
    expectSize(d[6], 1280, 720, "full");

    EXPECT_EQ(d[7].material, effects.vignette.aberrationMaterial());
    EXPECT_EQ(d[7].target, destination);
    EXPECT_EQ(d[7].textures.at("_MainTex"), colourTexture(full));
    EXPECT_FLOAT_EQ(d[7].values.at("chromaticAberration")[0], 1.5f);
    expectVector(d[7], "_MainTex_TexelSize", { 1.0f / 1280.0f, 1.0f / 720.0f, 0.0f, 1.0f });
    EXPECT_TRUE(poolIsFree());
}

// The other effects ----------------------------------------------------------

TEST_F(PostEffectsTest, BrightnessSettingMovesTheGammaCurve)
{
    struct Case {
        f32 setting;
        f32 gamma;
    };
    const Case cases[] = { { 100.0f, 1.0f }, { 0.0f, 0.5f }, { 200.0f, 1.5f } };
    effects.brightness.setUp();
    EXPECT_EQ(effects.brightness.material()->gamma(), 1.0f);
    EXPECT_EQ(effects.brightness.material()->brightness(), 0.0f);
    TextureRenderTarget* source = frameTarget(64, 32);
    TextureRenderTarget* destination = frameTarget(64, 32);
    for (const Case& entry : cases) {
        Settings::Graphics.brightness = entry.setting;
        quads.drawn.clear();
        EXPECT_TRUE(effects.brightness.apply(source, destination, quads, *pool));
        ASSERT_EQ(quads.drawn.size(), 1u);
        EXPECT_FLOAT_EQ(quads.drawn[0].gamma, entry.gamma) << entry.setting;
        EXPECT_EQ(quads.drawn[0].source, colourTexture(source));
        EXPECT_EQ(quads.drawn[0].target, destination);
        // An offset would wash the image out: it stays 0.
        EXPECT_EQ(effects.brightness.material()->brightness(), 0.0f);
    }
}

TEST_F(PostEffectsTest, FxaaSamplesTheSourceWithItsInverseResolution)
{
    addMaterial(kFxaa, { { "_MainTex", T::Texture }, { "frameBuffer", T::Texture }, { "inverseResolution", T::Vector } });
    FxaaSettings settings {};
    settings.material = kFxaa;
    ASSERT_TRUE(effects.fxaa.setUp(settings, *worker));
    EXPECT_EQ(effects.fxaa.material()->depthComparison(), 0u);
    TextureRenderTarget* source = frameTarget(1280, 720);
    TextureRenderTarget* destination = frameTarget(1280, 720);
    EXPECT_TRUE(effects.fxaa.apply(source, destination, quads, *pool));
    ASSERT_EQ(quads.drawn.size(), 1u);
    const DrawnQuad& quad = quads.drawn[0];
    EXPECT_EQ(quad.target, destination);
    EXPECT_EQ(quad.textures.at("frameBuffer"), colourTexture(source));
    EXPECT_EQ(quad.textures.at("_MainTex"), colourTexture(source));
    expectVector(quad, "inverseResolution", { 1.0f / 1280.0f, 1.0f / 720.0f, 0.0f, 1.0f });
}

TEST_F(PostEffectsTest, OverlayAddsItsIntensityAndLaysItsTextureOver)
{
    addMaterial(kOverlay, { { "_MainTex", T::Texture }, { "_Overlay", T::Texture } });
    Texture* picture = addTexture(kOverlayTexture);
    OverlaySettings settings {};
    settings.intensity = 0.4f;
    settings.texture = kOverlayTexture;
    settings.material = kOverlay;
    ASSERT_TRUE(effects.overlay.setUp(settings, *worker));
    EXPECT_EQ(effects.overlay.material()->propertyCount(), 3u);
    TextureRenderTarget* source = frameTarget(64, 32);
    TextureRenderTarget* destination = frameTarget(64, 32);
    EXPECT_TRUE(effects.overlay.apply(source, destination, quads, *pool));
    const DrawnQuad& quad = quads.drawn.at(0);
    EXPECT_EQ(quad.target, destination);
    EXPECT_EQ(quad.textures.at("_MainTex"), colourTexture(source));
    EXPECT_EQ(quad.textures.at("_Overlay"), picture);
    EXPECT_FLOAT_EQ(quad.values.at("_Intensity")[0], 0.4f);
}

TEST_F(PostEffectsTest, ResolveCopiesTheSceneTargetWhateverTheSource)
{
    TextureRenderTarget* scene = frameTarget(64, 32);
    effects.resolve.setUp(scene);
    TextureRenderTarget* destination = frameTarget(64, 32);
    EXPECT_TRUE(effects.resolve.apply(frameTarget(64, 32), destination, quads, *pool));
    ASSERT_EQ(quads.drawn.size(), 1u);
    EXPECT_EQ(quads.drawn[0].source, colourTexture(scene));
    EXPECT_FALSE(quads.drawn[0].downsample);
    EXPECT_EQ(quads.drawn[0].target, destination);
}

// A window target that counts its clears.
class WindowTarget final : public TextureRenderTarget {
public:
    void clear(quern::u32 flags, const f32 colour[4]) override
    {
        clears.push_back(flags);
        lastColour = { colour[0], colour[1], colour[2], colour[3] };
    }
    std::vector<quern::u32> clears;
    Vec4 lastColour {};
};

TEST_F(PostEffectsTest, PresentDownsamplesOnlyAFrameLargerThanTheDisplay)
{
    struct Case {
        quern::i32 frameWidth;
        quern::i32 frameHeight;
        bool downsample;
    };
    const Case cases[] = {
        { 3840, 2160, true },
        { 3840, 0, false },
        { 0, 2160, false },
        { 1920, 1080, false },
        { 0, 0, false },
    };
    setDisplaySize(1920, 1080);
    quern::Ref window(new WindowTarget());
    for (const Case& entry : cases) {
        Settings::Renderer.frameWidth = entry.frameWidth;
        Settings::Renderer.frameHeight = entry.frameHeight;
        effects.present.setUp(window.get<TextureRenderTarget>());
        EXPECT_EQ(effects.present.material()->downsample(), entry.downsample)
            << entry.frameWidth << " x " << entry.frameHeight;
    }
}

TEST_F(PostEffectsTest, PresentClearsTheWindowAndDrawsIntoTheOutputViewportOnly)
{
    setDisplaySize(1920, 1200);
    auto* window = new WindowTarget();
    quern::Ref holder(window);
    window->setViewport(0, 0, 1920, 1200);
    effects.present.setUp(window);
    const ViewportRect expected = computeOutputViewport();
    EXPECT_EQ(effects.present.viewport().y, 60);
    TextureRenderTarget* source = frameTarget(1920, 1080);
    TextureRenderTarget* destination = frameTarget(1920, 1080);
    EXPECT_TRUE(effects.present.apply(source, destination, quads, *pool));

    ASSERT_EQ(quads.drawn.size(), 1u);
    EXPECT_EQ(quads.drawn[0].target, window);
    EXPECT_EQ(quads.drawn[0].source, colourTexture(source));
    EXPECT_EQ(quads.drawn[0].viewport, (std::array<quern::i32, 4> { expected.x, expected.y, expected.width,
                                           expected.height }));
    EXPECT_EQ(window->clears, (std::vector<quern::u32> { 1u }));
    EXPECT_EQ(window->lastColour, (Vec4 { 0.0f, 0.0f, 0.0f, 1.0f }));
    EXPECT_EQ(std::vector<quern::i32>(window->viewport(), window->viewport() + 4),
        (std::vector<quern::i32> { 0, 0, 1920, 1200 }));
}

// Failures -------------------------------------------------------------------

struct MissingMaterial {
    const char* effect;
    u64 id;
};

class MissingMaterialTest : public PostEffectsTest, public ::testing::WithParamInterface<MissingMaterial> { };

TEST_P(MissingMaterialTest, LeavesTheEffectOutHoldingNothingAndNamesTheId)
{
    quern::testing::SoftAssertRecorder asserts;
    addBloomMaterials();
    addVignetteMaterials();
    addMaterial(kFxaa, { { "_MainTex", T::Texture } });
    addMaterial(kOverlay, { { "_MainTex", T::Texture } });
    FxaaSettings fxaa {};
    fxaa.material = kFxaa;
    OverlaySettings overlay {};
    overlay.material = kOverlay;
    // Every effect holds materials from an earlier build.
    ASSERT_TRUE(effects.fxaa.setUp(fxaa, *worker));
    ASSERT_TRUE(effects.bloom.setUp(bloomSettings(), *worker));
    ASSERT_TRUE(effects.vignette.setUp(vignetteSettings(), nullptr, *worker));
    ASSERT_TRUE(effects.overlay.setUp(overlay, *worker));
    const MissingMaterial& missing = GetParam();
    ASSERT_TRUE(worker->cache().releaseByKey(
        quern::assets::resourceKey(missing.id, quern::assets::ResourceType::Material)));

    quern::testing::LogCapture errors(1);
    const std::string effect = missing.effect;
    bool built = true;
    if (effect == "fxaa") {
        built = effects.fxaa.setUp(fxaa, *worker);
        EXPECT_EQ(effects.fxaa.material(), nullptr);
    } else if (effect == "bloom") {
        built = effects.bloom.setUp(bloomSettings(), *worker);
        EXPECT_EQ(effects.bloom.combineMaterial(), nullptr);
        EXPECT_EQ(effects.bloom.brightPassMaterial(), nullptr);
        EXPECT_EQ(effects.bloom.blurMaterial(), nullptr);
        EXPECT_EQ(effects.bloom.downsampleMaterial(0), nullptr);
    } else if (effect == "vignette") {
        built = effects.vignette.setUp(vignetteSettings(), nullptr, *worker);
        EXPECT_EQ(effects.vignette.vignetteMaterial(), nullptr);
        EXPECT_EQ(effects.vignette.aberrationMaterial(), nullptr);
        EXPECT_EQ(effects.vignette.blurMaterial(), nullptr);
        EXPECT_EQ(effects.vignette.downsampleMaterial(), nullptr);
    } else {
        built = effects.overlay.setUp(overlay, *worker);
        EXPECT_EQ(effects.overlay.material(), nullptr);
    }
    EXPECT_FALSE(built);
    EXPECT_TRUE(errors.contains(hex(missing.id))) << errors.text();
    EXPECT_FALSE(asserts.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(EveryNamedMaterial, MissingMaterialTest,
    ::testing::Values(MissingMaterial { "fxaa", kFxaa }, MissingMaterial { "bloom", kBlur },
        MissingMaterial { "bloom", kCombine }, MissingMaterial { "bloom", kBrightPass },
        MissingMaterial { "vignette", kVignette }, MissingMaterial { "vignette", kAberration },
        MissingMaterial { "vignette", kVignetteBlur }, MissingMaterial { "overlay", kOverlay }));

TEST_F(PostEffectsTest, MaterialsWithoutTheNamedPropertiesDrawWithoutAnyWrite)
{
    // Every write would go through index 0, which is fatal to reach.
    for (u64 id : { kFxaa, kBlur, kCombine, kBrightPass, kVignette, kAberration, kVignetteBlur, kOverlay })
        addMaterial(id, {});
    FxaaSettings fxaa {};
    fxaa.material = kFxaa;
    OverlaySettings overlay {};
    overlay.material = kOverlay;
    overlay.texture = kOverlayTexture;
    addTexture(kOverlayTexture);
    const VignetteMask mask { kMask };
    addTexture(kMask);
    ASSERT_TRUE(effects.fxaa.setUp(fxaa, *worker));
    ASSERT_TRUE(effects.bloom.setUp(bloomSettings(), *worker));
    ASSERT_TRUE(effects.vignette.setUp(vignetteSettings(), &mask, *worker));
    ASSERT_TRUE(effects.overlay.setUp(overlay, *worker));
    TextureRenderTarget* source = frameTarget(256, 128);
    TextureRenderTarget* destination = frameTarget(256, 128);
    for (PostEffect* effect : std::initializer_list<PostEffect*> { &effects.fxaa, &effects.bloom, &effects.vignette,
             &effects.overlay })
        EXPECT_TRUE(effect->apply(source, destination, quads, *pool));
    EXPECT_EQ(quads.drawn.size(), 1u + 6u + 8u + 1u);
    EXPECT_EQ(effects.fxaa.material()->propertyCount(), 0u);
    // The overlay's own intensity is the one property it adds.
    EXPECT_EQ(effects.overlay.material()->propertyCount(), 1u);
}

// Teardown -------------------------------------------------------------------

TEST_F(PostEffectsTest, ReleaseLetsEveryMaterialTargetAndTheQuadGo)
{
    addBloomMaterials();
    ASSERT_TRUE(effects.bloom.setUp(bloomSettings(), *worker));
    GenericMaterial* preloaded = addMaterial(kFxaa, {});
    FxaaSettings fxaa {};
    fxaa.material = kFxaa;
    ASSERT_TRUE(effects.fxaa.setUp(fxaa, *worker));
    EXPECT_NE(effects.fxaa.material(), preloaded);
    effects.brightness.setUp();
    TextureRenderTarget* scene = frameTarget(64, 32);
    effects.resolve.setUp(scene);
    quern::Ref window(new WindowTarget());
    effects.present.setUp(window.get<TextureRenderTarget>());
    effects.targets.set(scene, frameTarget(64, 32));
    effects.quads.init(quern::render::RenderQueue::create(), *quern::graphics::Display::get());

    effects.release();
    EXPECT_EQ(effects.bloom.combineMaterial(), nullptr);
    EXPECT_EQ(effects.bloom.downsampleMaterial(1), nullptr);
    EXPECT_EQ(effects.fxaa.material(), nullptr);
    EXPECT_EQ(effects.brightness.material(), nullptr);
    EXPECT_EQ(effects.resolve.material(), nullptr);
    EXPECT_EQ(effects.present.material(), nullptr);
    EXPECT_EQ(effects.present.windowTarget(), nullptr);
    EXPECT_FALSE(effects.targets.first);
    EXPECT_FALSE(effects.targets.second);
    EXPECT_EQ(effects.targets.source, nullptr);
    EXPECT_EQ(effects.quads.queue(), nullptr);
    EXPECT_EQ(effects.quads.visual(), nullptr);
    // Only this test's hold keeps the scene target now.
    EXPECT_EQ(scene->refCount(), 1);
}

TEST_F(PostEffectsTest, AnEffectPassRunsItsEffectOnTheProcessTargets)
{
    effects.brightness.setUp();
    TextureRenderTarget* first = frameTarget(64, 32);
    TextureRenderTarget* second = frameTarget(64, 32);
    effects.targets.set(first, second);
    quern::Ref pass(effects.makePass(effects.brightness, *pool));
    EXPECT_EQ(&pass.get<CallbackQuadPass>()->effect(), &effects.brightness);
    pass.get<CallbackQuadPass>()->run();
    // The real quad renderer was not initialised: nothing is drawn, but the
    // effect ran and the targets swapped.
    EXPECT_EQ(effects.targets.source, second);
    EXPECT_EQ(effects.targets.destination, first);
}

} // namespace
} // namespace harmonize::test
