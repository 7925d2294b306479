#include "GLTestContext.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/fx/shadows/CasterCuller.h"
#include "quern/fx/shadows/ShadowMaterial.h"
#include "quern/fx/shadows/ShadowMatrix.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/NullShaderProgramHandler.h"
#include "quern/scene/Camera.h"
#include "quern/scene/Light.h"
#include "quern/scene/Node.h"
#include "quern/visuals/PrimitiveVisuals.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quern::fx {
namespace {

template <class T> T& held(Ref& ref) { return *ref.get<T>(); }

math::Vector3 mapped(const math::Matrix4& m, const math::Vector3& p)
{
    f32 out[4];
    m.transform(p.x, p.y, p.z, 1.0f, out);
    return { out[0] / out[3], out[1] / out[3], out[2] / out[3] };
}

TEST(LightCamera, ADirectionalLightGivesAnOrthographicCameraOfItsSizeAndRange)
{
    Ref lightRef(new scene::Light);
    scene::Light& light = held<scene::Light>(lightRef);
    light.kind = 2;
    light.width = light.height = 100;
    light.range = 10000;
    light.setTranslation(1, 2, 3);
    Ref cameraRef(new scene::Camera);
    scene::Camera& camera = held<scene::Camera>(cameraRef);
    configureLightCamera(light, camera, light.width, light.height);
    EXPECT_EQ(camera.orthographic, 1u);
    EXPECT_EQ(camera.width, 100.0f);
    EXPECT_EQ(camera.height, 100.0f);
    EXPECT_EQ(camera.farPlane, 10000.0f);
    EXPECT_EQ(camera.worldPosition(), (math::Vector3 { 1, 2, 3 }));

    light.kind = 1;
    light.angle = 0.5f;
    configureLightCamera(light, camera, light.width, light.height);
    EXPECT_EQ(camera.orthographic, 0u);
    EXPECT_EQ(camera.fieldOfView, 1.0f);
}

TEST(ShadowMatrix, TheViewersOriginLandsInTheMiddleOfTheMap)
{
    Ref viewerRef(new scene::Camera);
    scene::Camera& viewer = held<scene::Camera>(viewerRef);
    viewer.setTranslation(3, 4, 5);
    viewer.setRotation(0, 0.38268343f, 0, 0.92387953f); // 45 degrees about Y
    Ref lightRef(new scene::Light);
    scene::Light& light = held<scene::Light>(lightRef);
    light.kind = 2;
    light.width = light.height = 20;
    light.range = 100;
    light.setTranslation(3, 4, 5);
    light.setRotation(0, 0.38268343f, 0, 0.92387953f);
    math::Matrix4 shadow;
    computeShadowMatrix(shadow, light, viewer.getViewMatrix());
    const math::Vector3 origin = mapped(shadow, { 0, 0, 0 });
    EXPECT_NEAR(origin.x, 0.5f, 1e-5f);
    EXPECT_NEAR(origin.y, 0.5f, 1e-5f);
    // A point 5 to the right of the viewer is a quarter of the map to the right.
    const math::Vector3 right = mapped(shadow, { 5, 0, 0 });
    EXPECT_NEAR(right.x, 0.75f, 1e-5f);
    EXPECT_NEAR(right.y, 0.5f, 1e-5f);
}

TEST(FitLightToView, TheFittedSizeIsWhatTheLightCameraTakes)
{
    Ref lightRef(new scene::Light);
    scene::Light& light = held<scene::Light>(lightRef);
    light.kind = 2;
    light.width = light.height = 100;
    Ref viewerRef(new scene::Camera);
    scene::Camera& viewer = held<scene::Camera>(viewerRef);
    // Looking down -Z from above the origin with a narrow view: the view
    // covers much less than the light's 100 x 100 window.
    viewer.farPlane = 20;
    viewer.setTranslation(0, 10, 0);
    f32 width = light.width, height = light.height;
    fitLightToView(viewer, light, width, height, 1024, 1024, 30);
    EXPECT_GT(width, 0.0f);
    EXPECT_LT(width, 100.0f);
    EXPECT_GT(height, 0.0f);
    EXPECT_LT(height, 100.0f);
    EXPECT_NEAR(light.getWorldTransform().m[13], 40.0f, 1e-5f);
    Ref cameraRef(new scene::Camera);
    configureLightCamera(light, held<scene::Camera>(cameraRef), width, height);
    EXPECT_EQ(held<scene::Camera>(cameraRef).width, width);
    EXPECT_EQ(held<scene::Camera>(cameraRef).height, height);
}

TEST(FitLightToView, AViewMissingTheLightsWindowKeepsTheLightsSize)
{
    Ref lightRef(new scene::Light);
    scene::Light& light = held<scene::Light>(lightRef);
    light.kind = 2;
    light.width = light.height = 10;
    Ref viewerRef(new scene::Camera);
    scene::Camera& viewer = held<scene::Camera>(viewerRef);
    viewer.farPlane = 20;
    viewer.setTranslation(500, 0, 500);
    f32 width = light.width, height = light.height;
    fitLightToView(viewer, light, width, height, 256, 256, 5);
    EXPECT_EQ(width, 10.0f);
    EXPECT_EQ(height, 10.0f);
}

TEST(CasterTest, ShadowModesAndHiddenNodes)
{
    const struct {
        u32 mode;
        u8 hidden;
        bool visual;
        bool casts;
    } cases[] = {
        { 2, 1, true, true },
        { 2, 0, true, true },
        { 1, 0, true, true },
        { 1, 1, true, false },
        { 0, 0, true, false },
        { 2, 0, false, false },
    };
    for (const auto& c : cases) {
        Ref nodeRef(new scene::Node);
        scene::Node& node = held<scene::Node>(nodeRef);
        if (c.visual)
            node.setVisual(new visuals::BoxVisual);
        node.shadowMode = c.mode;
        node.hidden = c.hidden;
        EXPECT_EQ(castsShadow(node), c.casts) << c.mode << " " << int(c.hidden) << " " << c.visual;
    }
}

class ShadowPrograms : public ::testing::Test {
protected:
    ShadowPrograms()
    {
        graphics::Display::set(new graphics::NullDisplay);
        registry.create<graphics::NullShaderProgramHandler>();
        assets::AssetHandlerRegistry::setInstance(&registry);
    }
    ~ShadowPrograms() override
    {
        cache.clear();
        assets::AssetHandlerRegistry::setInstance(nullptr);
        graphics::Display::set(nullptr);
    }
    assets::AssetHandlerRegistry registry;
    assets::DefaultResourceCache cache;
};

TEST_F(ShadowPrograms, RegisteringTwiceLoadsNothingTheSecondTime)
{
    ShadowMaterial::registerShaders(graphics::ShaderLanguage::GLSL, cache);
    EXPECT_EQ(cache.count(), 2u);
    EXPECT_EQ(ShadowMaterial::vertexProgramKey(), graphics::embeddedProgramResourceKey("shadow_glsl_v"));
    EXPECT_EQ(ShadowMaterial::fragmentProgramKey(), graphics::embeddedProgramResourceKey("shadow_glsl_p"));
    ShadowMaterial::registerShaders(graphics::ShaderLanguage::GLSL, cache);
    EXPECT_EQ(cache.count(), 2u);
}

TEST_F(ShadowPrograms, OtherLanguagesAreFatal)
{
    for (const graphics::ShaderLanguage language : { graphics::ShaderLanguage::HLSL, graphics::ShaderLanguage::PSSL,
             graphics::ShaderLanguage::GXP, graphics::ShaderLanguage::Null })
        EXPECT_DEATH(ShadowMaterial::registerShaders(language, cache), "Unsupported shader language");
}

testgl::GLTestContext& context()
{
    static testgl::GLTestContext instance;
    return instance;
}

TEST(ShadowProgramsOnMesa, CompileLinkAndReadTheMapThroughTheShadowMatrix)
{
    ASSERT_TRUE(context().error().empty()) << "no OpenGL context: " << context().error();
    const ShadowProgramText& vertex = ShadowMaterial::vertexProgram();
    const ShadowProgramText& fragment = ShadowMaterial::fragmentProgram();
    const testgl::CompileResult v = testgl::compileShader(GL_VERTEX_SHADER, vertex.text, long(vertex.length));
    const testgl::CompileResult f = testgl::compileShader(GL_FRAGMENT_SHADER, fragment.text, long(fragment.length));
    ASSERT_TRUE(v.ok) << v.log;
    ASSERT_TRUE(f.ok) << f.log;
    const testgl::LinkResult linked = testgl::linkProgram(v.shader, f.shader);
    ASSERT_TRUE(linked.ok) << linked.log;

    // A 2 x 1 map, dark on the left and bright on the right. The shadow
    // matrix takes the quad's -1..1 to 0..1, so each half of a 2 x 1 target
    // reads its own texel.
    testgl::RenderTarget target(2, 1);
    ASSERT_TRUE(target.complete());
    glActiveTexture(GL_TEXTURE0);
    const GLuint map = testgl::makeTexture(2, 1, { { 0.25f, 0, 0, 1 }, { 0.75f, 0, 0, 1 } });
    std::array<float, 16> bias = testgl::identityMatrix();
    bias[0] = bias[5] = bias[10] = 0.5f;
    bias[12] = bias[13] = bias[14] = 0.5f;
    testgl::setMatrix(linked.program, "modelViewProjectionMatrix", testgl::identityMatrix());
    testgl::setMatrix(linked.program, "modelViewMatrix", testgl::identityMatrix());
    testgl::setMatrix(linked.program, "shadowMatrix", bias);
    testgl::setUniform(linked.program, "shadowMap", 0);
    testgl::draw(linked.program, testgl::screenQuad());
    const testgl::Pixel left = target.pixel(0, 0);
    const testgl::Pixel right = target.pixel(1, 0);
    glDeleteTextures(1, &map);
    for (int channel = 0; channel < 4; ++channel) {
        EXPECT_NEAR(left[channel], 0.25f, 1e-3f);
        EXPECT_NEAR(right[channel], 0.75f, 1e-3f);
    }
}

} // namespace
} // namespace quern::fx
