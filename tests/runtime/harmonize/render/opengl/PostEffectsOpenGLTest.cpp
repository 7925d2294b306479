// The post effects drawing on real OpenGL: frame-buffer-object targets (built
// here, since Mesa's quirk gives the device's own factory the copy path),
// small GLSL materials whose output follows from the values the effects
// write, and pixels read back from the targets and the window.

#include "modules/quern/opengl/OpenGLDisplayFixture.h"
#include "runtime/harmonize/render/EffectTestSupport.h"
#include "runtime/quern/graphics/MemoryDepot.h"

#include "harmonize/Settings.h"
#include "harmonize/display/DisplaySettings.h"
#include "harmonize/render/PostEffects.h"
#include "harmonize/render/QuadPasses.h"
#include "harmonize/render/RenderTargetPool.h"
#include "harmonize/tasks/LoadingWorker.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/GlslText.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/materials/BlitMaterial.h"
#include "quern/graphics/materials/BrightnessMaterial.h"
#include "quern/graphics/materials/UnlitMaterial.h"
#include "quern/opengl/GLSLShaderProgram.h"
#include "quern/opengl/OpenGLFrameBufferObject.h"
#include "quern/opengl/OpenGLPixelBuffer.h"
#include "quern/render/PassList.h"
#include "quern/render/RenderQueue.h"

#include <array>
#include <cmath>
#include <initializer_list>
#include <memory>
#include <new>

namespace harmonize {
namespace {

using namespace quern::opengl;
using quern::f32;
using quern::i32;
using quern::u32;
using quern::u64;
using quern::u8;
using quern::graphics::GenericMaterial;
using quern::graphics::MaterialPropertyType;
using quern::graphics::PixelBufferFormat;
using quern::graphics::PixelFormat;
using quern::graphics::TextureRenderTarget;
using quern::opengl::OpenGLPixelBuffer;
using T = MaterialPropertyType;
using test::preloadInto;

constexpr char kFragmentStage = '1';

// Every material draws with the built-in unlit vertex program, whose output is "texCoord".
// Keeps red and green; blue says whether inverseResolution reached it (1 / 180 x 90 = 0.5).
constexpr quern::graphics::GlslText kFxaaFragment(kFragmentStage, R"(#version 140
uniform sampler2D frameBuffer;
uniform vec4 inverseResolution;
in vec2 texCoord;
out vec4 fragColor;
void main()
{
    vec4 t = texture(frameBuffer, texCoord);
    fragColor = vec4(t.r, t.g, inverseResolution.y * 90.0, 1.0);
}
)");

constexpr quern::graphics::GlslText kBlurFragment(kFragmentStage, R"(#version 140
uniform sampler2D _MainTex;
uniform vec4 offsets;
in vec2 texCoord;
out vec4 fragColor;
void main()
{
    vec4 sum = texture(_MainTex, texCoord - offsets.xy) + texture(_MainTex, texCoord) + texture(_MainTex, texCoord + offsets.xy);
    fragColor = vec4(sum.rgb / 3.0, 1.0);
}
)");

// Shifts its sampling by the aberration in texels.
constexpr quern::graphics::GlslText kAberrationFragment(kFragmentStage, R"(#version 140
uniform sampler2D _MainTex;
uniform float chromaticAberration;
uniform vec4 _MainTex_TexelSize;
in vec2 texCoord;
out vec4 fragColor;
void main()
{
    fragColor = vec4(texture(_MainTex, texCoord + vec2(chromaticAberration * _MainTex_TexelSize.x, 0.0)).rgb, 1.0);
}
)");

constexpr quern::graphics::GlslText kVignetteFragment(kFragmentStage, R"(#version 140
uniform sampler2D _MainTex;
uniform sampler2D vignetteTex;
uniform sampler2D blurredTex;
uniform float intensity;
uniform float blur;
in vec2 texCoord;
out vec4 fragColor;
void main()
{
    vec3 sharp = texture(_MainTex, texCoord).rgb;
    vec3 soft = texture(blurredTex, texCoord).rgb;
    fragColor = vec4(mix(sharp, soft, blur) * (1.0 - intensity * texture(vignetteTex, texCoord).r), 1.0);
}
)");

constexpr quern::graphics::GlslText kOverlayFragment(kFragmentStage, R"(#version 140
uniform sampler2D _MainTex;
uniform sampler2D _Overlay;
uniform float _Intensity;
in vec2 texCoord;
out vec4 fragColor;
void main()
{
    fragColor = vec4(texture(_MainTex, texCoord).rgb + texture(_Overlay, texCoord).rgb * _Intensity, 1.0);
}
)");

constexpr quern::graphics::GlslText kBrightPassFragment(kFragmentStage, R"(#version 140
uniform sampler2D _MainTex;
uniform vec4 threshold;
in vec2 texCoord;
out vec4 fragColor;
void main()
{
    fragColor = vec4(max(texture(_MainTex, texCoord).rgb - vec3(threshold.x), vec3(0.0)) * threshold.y, 1.0);
}
)");

// "_MainTex" is the blurred bloom, "bloomTex" the untouched frame.
constexpr quern::graphics::GlslText kCombineFragment(kFragmentStage, R"(#version 140
uniform sampler2D _MainTex;
uniform sampler2D bloomTex;
uniform float intensity;
in vec2 texCoord;
out vec4 fragColor;
void main()
{
    fragColor = vec4(texture(bloomTex, texCoord).rgb + texture(_MainTex, texCoord).rgb * intensity, 1.0);
}
)");

enum : u64 {
    kFxaaProgram = 0x5000000000000001ull,
    kBlurProgram,
    kAberrationProgram,
    kVignetteProgram,
    kOverlayProgram,
    kBrightPassProgram,
    kCombineProgram,
    kFxaaMaterial = 0x6000000000000001ull,
    kBlurMaterial,
    kAberrationMaterial,
    kVignetteMaterial,
    kOverlayMaterial,
    kBrightPassMaterial,
    kCombineMaterial,
    kMaskTexture = 0x7000000000000001ull,
    kOverlayTexture,
};

// The pool's targets as frame-buffer objects over render-target images.
TextureRenderTarget* makeFrameBufferObject(
    const quern::graphics::TextureRenderTargetDescription& description, quern::graphics::Display& display)
{
    quern::opengl::OpenGLBackEnd& device = quern::opengl::OpenGLBackEnd::instance();
    auto* target = new quern::opengl::OpenGLFrameBufferObject(&device.caps(), display.context().stateObjectCache);
    for (u64 i = 0; i < description.count; ++i) {
        auto* image = device.createPixelBuffer(quern::graphics::GraphicsBackEnd::RenderTargetImage);
        image->create(description.formats[i], OpenGLPixelBuffer::NoMipLevels);
        target->addTexture(new quern::graphics::Texture(image));
    }
    target->setViewport(0, 0, static_cast<i32>(description.formats[0].width),
        static_cast<i32>(description.formats[0].height));
    return target;
}

class PostEffectsOpenGLTest : public quern::opengl::testing::OpenGLDisplayTest {
protected:
    void SetUp() override
    {
        OpenGLDisplayTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        Settings::resetToDefaults();
        processDisplaySize() = DisplaySize { 320, 240 };
        registry.create<quern::opengl::GLSLShaderProgramHandler>();
        quern::assets::AssetHandlerRegistry::setInstance(&registry);
        worker = std::make_unique<LoadingWorker>(&depot, nullptr);
        quern::assets::ResourceCache& cache = worker->cache();
        quern::graphics::UnlitMaterial::registerShaders(quern::graphics::ShaderLanguage::GLSL, cache);
        quern::graphics::BlitMaterial::registerShaders(quern::graphics::ShaderLanguage::GLSL, cache);
        quern::graphics::BrightnessMaterial::registerShaders(quern::graphics::ShaderLanguage::GLSL, cache);
        pool = std::make_unique<RenderTargetPool>(*display, &makeFrameBufferObject);
        effects.quads.init(quern::render::RenderQueue::create(), *display);

        addFragment(kFxaaProgram, kFxaaFragment);
        addFragment(kBlurProgram, kBlurFragment);
        addFragment(kAberrationProgram, kAberrationFragment);
        addFragment(kVignetteProgram, kVignetteFragment);
        addFragment(kOverlayProgram, kOverlayFragment);
        addFragment(kBrightPassProgram, kBrightPassFragment);
        addFragment(kCombineProgram, kCombineFragment);
    }
    void TearDown() override
    {
        passes.clearPasses();
        effects.release();
        frame.clear();
        pool.reset();
        worker.reset();
        quern::graphics::clearEmbeddedProgramKeys();
        quern::assets::AssetHandlerRegistry::setInstance(nullptr);
        processDisplaySize() = DisplaySize {};
        Settings::resetToDefaults();
        OpenGLDisplayTest::TearDown();
    }

    template <u64 N> void addFragment(u64 id, const quern::graphics::GlslText<N>& text)
    {
        auto* program = static_cast<quern::opengl::GLSLShaderProgram*>(preloadInto(worker->cache(), id,
            quern::assets::ResourceType::ShaderProgram, sizeof(quern::opengl::GLSLShaderProgram),
            alignof(quern::opengl::GLSLShaderProgram), nullptr));
        new (program) quern::opengl::GLSLShaderProgram(quern::graphics::ShaderProgramType::Fragment);
        quern::RefCounted::retain(program);
        program->setCode(text.text, text.kLength, "post effect test program");
    }
    // A preloaded material drawing with the unlit vertex program and `fragment`.
    void addMaterial(u64 id, u64 fragment, std::initializer_list<test::PropertySpec> properties)
    {
        GenericMaterial* material = test::preloadMaterial(worker->cache(), id);
        material->setVertexProgram(quern::graphics::embeddedProgramAssetId("unlit_glsl_v"));
        material->setFragmentProgram(fragment);
        test::addProperties(*material, properties);
        material->acquireResources(depot, worker->cache());
    }
    // A 2 x 2 texture of one colour.
    void addTexture(u64 id, std::array<u8, 3> rgb)
    {
        auto* image = device().createPixelBuffer(quern::graphics::GraphicsBackEnd::TextureImage);
        u8 pixels[16];
        for (int i = 0; i < 16; ++i)
            pixels[i] = i % 4 == 3 ? 255 : rgb[static_cast<u64>(i % 4)];
        image->setData(pixels, PixelBufferFormat::create2D(2, 2, PixelFormat::A8B8G8R8, 0, 0, 0), nullptr,
            OpenGLPixelBuffer::NoMipLevels | OpenGLPixelBuffer::ClampedLinear);
        // Constructed in the cache's slot first: only then is it a Texture.
        void* slot = preloadInto(worker->cache(), id, quern::assets::ResourceType::Texture,
            sizeof(quern::graphics::Texture), alignof(quern::graphics::Texture), nullptr);
        auto* texture = new (slot) quern::graphics::Texture(image);
        quern::RefCounted::retain(texture);
    }

    // A frame-sized target as the pipeline makes them (colour with alpha).
    TextureRenderTarget* frameTarget(u32 width, u32 height)
    {
        const PixelBufferFormat format = PixelBufferFormat::create2D(width, height, PixelFormat::A8B8G8R8);
        TextureRenderTarget* target = makeFrameBufferObject({ &format, 1 }, *display);
        frame.emplace_back(target);
        return target;
    }
    // Fills the target with a colour, then the rectangle (when given) with another.
    static void paint(TextureRenderTarget& target, std::array<f32, 3> colour, std::array<i32, 4> rect = {},
        std::array<f32, 3> inside = {})
    {
        target.bind();
        glDisable(GL_SCISSOR_TEST);
        glClearColor(colour[0], colour[1], colour[2], 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        if (rect[2] > 0) {
            glEnable(GL_SCISSOR_TEST);
            glScissor(rect[0], rect[1], rect[2], rect[3]);
            glClearColor(inside[0], inside[1], inside[2], 1.0f);
            glClear(GL_COLOR_BUFFER_BIT);
            glDisable(GL_SCISSOR_TEST);
        }
        target.unbind();
    }
    static void expectNear(const u8* pixel, std::array<f32, 3> expected, const char* where)
    {
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(pixel[c], expected[static_cast<u64>(c)] * 255.0f, 3.0f) << where << " channel " << c;
    }

    quern::graphics::testing::MemoryDepot depot;
    quern::assets::AssetHandlerRegistry registry;
    std::unique_ptr<LoadingWorker> worker;
    std::unique_ptr<RenderTargetPool> pool;
    PostEffects effects;
    quern::render::PassList passes;
    std::vector<quern::Ref> frame;

};

TEST_F(PostEffectsOpenGLTest, AFrameThroughBrightnessFxaaVignetteOverlayAndPresentLandsLetterboxedInTheWindow)
{
    addMaterial(kFxaaMaterial, kFxaaProgram,
        { { "_MainTex", T::Texture }, { "frameBuffer", T::Texture }, { "inverseResolution", T::Vector } });
    addMaterial(kVignetteMaterial, kVignetteProgram,
        { { "_MainTex", T::Texture }, { "vignetteTex", T::Texture }, { "blurredTex", T::Texture },
            { "intensity", T::Float }, { "blur", T::Float } });
    addMaterial(kAberrationMaterial, kAberrationProgram,
        { { "_MainTex", T::Texture }, { "chromaticAberration", T::Float }, { "_MainTex_TexelSize", T::Vector } });
    addMaterial(kBlurMaterial, kBlurProgram, { { "_MainTex", T::Texture }, { "offsets", T::Vector } });
    addMaterial(kOverlayMaterial, kOverlayProgram, { { "_MainTex", T::Texture }, { "_Overlay", T::Texture } });
    addTexture(kMaskTexture, { 255, 0, 0 });
    addTexture(kOverlayTexture, { 102, 0, 0 });

    // A 320 x 180 frame on the 320 x 240 window: bars of 30 rows above and below.
    TextureRenderTarget* first = frameTarget(320, 180);
    TextureRenderTarget* second = frameTarget(320, 180);
    effects.targets.set(first, second);
    Settings::Graphics.brightness = 200.0f;

    FxaaSettings fxaa {};
    fxaa.material = kFxaaMaterial;
    VignetteSettings vignette {};
    vignette.intensity = 0.5f;
    vignette.chromaticAberration = 2.0f;
    vignette.blur = 1.0f;
    vignette.blurSpread = 8.0f;
    vignette.vignetteMaterial = kVignetteMaterial;
    vignette.blurMaterial = kBlurMaterial;
    vignette.aberrationMaterial = kAberrationMaterial;
    const VignetteMask mask { kMaskTexture };
    OverlaySettings overlay {};
    overlay.intensity = 0.5f;
    overlay.texture = kOverlayTexture;
    overlay.material = kOverlayMaterial;
    quern::graphics::DisplayContext& context = display->context();
    if (!context.windowRenderTarget)
        context.windowRenderTarget = device().createWindowRenderTarget();

    effects.brightness.setUp();
    ASSERT_TRUE(effects.fxaa.setUp(fxaa, *worker));
    ASSERT_TRUE(effects.vignette.setUp(vignette, &mask, *worker));
    ASSERT_TRUE(effects.overlay.setUp(overlay, *worker));
    effects.present.setUp(context.windowRenderTarget);
    for (PostEffect* effect : std::initializer_list<PostEffect*> { &effects.brightness, &effects.fxaa,
             &effects.vignette, &effects.overlay, &effects.present })
        passes.addPass(effects.makePass(*effect, *pool));

    for (int run = 0; run < 2; ++run) {
        // The scene pass draws `first` anew every frame; the effects wrote over it.
        paint(*first, { 0.2f, 0.4f, 0.6f });
        effects.targets.reset();
        passes.renderFrame(*display);
        SCOPED_TRACE(run == 0 ? "first frame" : "second frame");
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        const Frame window = readWindow();
        ASSERT_EQ(window.width, 320u);
        // Brightness 200 is gamma 1.5; the stand-in FXAA sets blue to 0.5;
        // the blurred copy under a full mask at intensity 0.5 halves it all;
        // the overlay adds half its red of 0.4.
        const f32 red = std::pow(0.2f, 1.0f / 1.5f) * 0.5f + 0.2f;
        const f32 green = std::pow(0.4f, 1.0f / 1.5f) * 0.5f;
        expectNear(window.at(160, 120), { red, green, 0.25f }, "middle of the frame");
        expectNear(window.at(5, 35), { red, green, 0.25f }, "corner of the frame");
        expectNear(window.at(160, 10), { 0.0f, 0.0f, 0.0f }, "bar below");
        expectNear(window.at(160, 230), { 0.0f, 0.0f, 0.0f }, "bar above");
    }
    // Five effects swapped five times: the frame ends in `second`.
    EXPECT_EQ(effects.targets.source, second);
    // Every scratch target went back to the pool, and the second frame made none.
    for (u64 i = 0; i < pool->entryCount(); ++i)
        EXPECT_EQ(pool->useCount(i), 0) << i;
    EXPECT_EQ(pool->entryCount(), 4u);
}

TEST_F(PostEffectsOpenGLTest, BloomSpreadsABrightSquareIntoItsSurroundings)
{
    addMaterial(kBrightPassMaterial, kBrightPassProgram, { { "_MainTex", T::Texture }, { "threshold", T::Vector } });
    addMaterial(kBlurMaterial, kBlurProgram, { { "_MainTex", T::Texture }, { "offsets", T::Vector } });
    addMaterial(kCombineMaterial, kCombineProgram,
        { { "_MainTex", T::Texture }, { "bloomTex", T::Texture }, { "intensity", T::Float } });
    TextureRenderTarget* source = frameTarget(256, 128);
    TextureRenderTarget* destination = frameTarget(256, 128);
    // A white 32 x 32 square in the middle of a dark grey frame, which stays under the threshold.
    paint(*source, { 0.25f, 0.25f, 0.25f }, { 112, 48, 32, 32 }, { 1.0f, 1.0f, 1.0f });

    BloomSettings bloom {};
    bloom.blurSpread = 64.0f;
    bloom.intensity = 1.0f;
    bloom.threshold = 0.5f;
    bloom.blurIterations = 2;
    bloom.blurMaterial = kBlurMaterial;
    bloom.combineMaterial = kCombineMaterial;
    bloom.brightPassMaterial = kBrightPassMaterial;
    ASSERT_TRUE(effects.bloom.setUp(bloom, *worker));
    EXPECT_TRUE(effects.bloom.apply(source, destination, effects.quads, *pool));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    const Frame image = readTexture(colourTexture(destination));
    ASSERT_EQ(image.width, 256u);
    expectNear(image.at(128, 64), { 1.0f, 1.0f, 1.0f }, "the square");
    expectNear(image.at(4, 4), { 0.25f, 0.25f, 0.25f }, "far corner");
    // Beside the square the frame is brighter than it was.
    for (i32 x : { 156, 100 }) {
        const u8* beside = image.at(static_cast<u32>(x), 64);
        EXPECT_GT(beside[0], 0.25f * 255.0f + 10.0f) << x;
        EXPECT_EQ(beside[0], beside[1]) << x;
    }
    const u8* above = image.at(128, 96);
    EXPECT_GT(above[0], 0.25f * 255.0f + 10.0f);
    for (u64 i = 0; i < pool->entryCount(); ++i)
        EXPECT_EQ(pool->useCount(i), 0) << i;
}

} // namespace
} // namespace harmonize
