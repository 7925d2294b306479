#include "support/RecordingGraphicsBackEnd.h"

#include "quern/fx/shadows/ShadowMapRenderPass.h"
#include "quern/fx/shadows/ShadowMatrix.h"
#include "quern/graphics/PixelBufferFormat.h"
#include "quern/graphics/PixelFormat.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/Uniform.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/render/RenderCommand.h"
#include "quern/render/RenderLists.h"
#include "quern/render/RenderQueue.h"
#include "quern/scene/Camera.h"
#include "quern/scene/Light.h"
#include "quern/scene/Node.h"
#include "quern/visuals/PrimitiveVisuals.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quern::test {
namespace {

using fx::ShadowMapRenderPass;

Ref directionalLight(f32 size, f32 range)
{
    Ref held(new scene::Light);
    scene::Light& light = *held.get<scene::Light>();
    light.kind = 2;
    light.width = light.height = size;
    light.range = range;
    return held;
}

using ShadowPass = RecordingDisplayTest;

TEST_F(ShadowPass, ConstructionSetsUpTheCasterPass)
{
    Ref held(new ShadowMapRenderPass);
    ShadowMapRenderPass& pass = *held.get<ShadowMapRenderPass>();
    EXPECT_EQ(pass.name(), "shadowMapRenderPass");
    EXPECT_EQ(pass.clearFlags, 2u);
    EXPECT_EQ(pass.culler, &pass.caster().casterCuller);
    EXPECT_EQ(pass.fitToView, 0u);
    EXPECT_EQ(pass.fitHeight, 70.0f);
    graphics::Shader& shader = *pass.caster().casterShader();
    EXPECT_EQ(shader.getCullState()->cullMode(), graphics::CullState::CullFrontFaces);
    fx::ShadowCasterRenderer& renderer = *pass.caster().casterRenderer();
    ASSERT_EQ(renderer.passCount(), 1u);
    EXPECT_EQ(renderer.pass(0)->queue()->sortMode, render::RenderQueue::SortMode::FrontToBack);
    EXPECT_EQ(renderer.pass(0)->queue()->overrideShader(), &shader);
}

TEST_F(ShadowPass, RecordingRefitsTheLightCameraBeforeCullingTheCasters)
{
    Ref held(new ShadowMapRenderPass);
    ShadowMapRenderPass& pass = *held.get<ShadowMapRenderPass>();
    Ref light = directionalLight(100, 10000);
    pass.caster().setLight(light.get<scene::Light>());
    Ref root(new scene::Node);
    pass.setSceneRoot(root.get<scene::Node>());
    render::RenderCommandList list;
    pass.recordCommands(list);
    std::vector<u32> types;
    for (u64 i = 0; i < list.count(); ++i)
        types.push_back(list.at(i).type);
    using C = render::RenderCommand;
    EXPECT_EQ(types,
        (std::vector<u32> {
            C::SetRenderTarget, C::SetViewport, C::Clear, C::Custom, C::Cull, C::SetViewport, C::RenderScene }));
    EXPECT_EQ(pass.caster().casterCuller.root, root.get<scene::Node>());

    list.at(3).pointer<render::RenderCallback>(0)->run(list.at(3));
    scene::Camera& camera = *pass.caster().lightCamera();
    EXPECT_EQ(camera.orthographic, 1u);
    EXPECT_EQ(camera.width, 100.0f);
    EXPECT_EQ(camera.height, 100.0f);
    EXPECT_EQ(camera.farPlane, 10000.0f);
}

TEST_F(ShadowPass, AFittedLightCameraTakesTheFittedSize)
{
    Ref held(new ShadowMapRenderPass);
    ShadowMapRenderPass& pass = *held.get<ShadowMapRenderPass>();
    Ref light = directionalLight(100, 1000);
    pass.caster().setLight(light.get<scene::Light>());
    const graphics::PixelBufferFormat depth = graphics::PixelBufferFormat::create2D(64, 64, graphics::PixelFormat::D32);
    Ref target(graphics::TextureRenderTarget::createTextureRenderTarget({ &depth, 1 }, *display));
    pass.setOutput(target.get<graphics::TextureRenderTarget>());
    ASSERT_NE(pass.findDepthTarget(), nullptr);
    Ref viewer(new scene::Camera);
    viewer.get<scene::Camera>()->farPlane = 20;
    viewer.get<scene::Camera>()->setTranslation(0, 10, 0);
    pass.setCamera(viewer.get<scene::Camera>());

    pass.fitToView = 1;
    pass.refitLightCamera();
    const scene::Camera& camera = *pass.caster().lightCamera();
    EXPECT_GT(camera.width, 0.0f);
    EXPECT_LT(camera.width, 100.0f);
    EXPECT_LT(camera.height, 100.0f);
    // The light's own size is left as it was.
    EXPECT_EQ(light.get<scene::Light>()->width, 100.0f);

    pass.fitToView = 0;
    pass.refitLightCamera();
    EXPECT_EQ(camera.width, 100.0f);
}

TEST_F(ShadowPass, RecordingWithoutALightIsFatal)
{
    Ref held(new ShadowMapRenderPass);
    EXPECT_DEATH(held.get<ShadowMapRenderPass>()->refitLightCamera(), "Shadow map pass recorded without a light");
}

TEST_F(ShadowPass, ReceiversTakeTheShadowMatrixOfTheViewer)
{
    Ref held(new ShadowMapRenderPass);
    fx::ShadowCaster& caster = held.get<ShadowMapRenderPass>()->caster();
    Ref light = directionalLight(20, 100);
    caster.setLight(light.get<scene::Light>());
    Ref state(new graphics::ShaderProgramState(display->context().stateObjectCache));
    graphics::ShaderProgramState& programs = *state.get<graphics::ShaderProgramState>();
    Ref uniform(new graphics::Uniform("shadowMatrix", graphics::UniformType::Float, 1));
    programs.addUniform(uniform.get<graphics::Uniform>(), graphics::ShaderProgramState::VertexStage);
    caster.addReceiver(&programs, 0);
    Ref viewer(new scene::Camera);
    viewer.get<scene::Camera>()->setTranslation(1, 2, 3);
    caster.updateReceivers(*viewer.get<scene::Camera>());
    math::Matrix4 expected;
    fx::computeShadowMatrix(expected, *light.get<scene::Light>(), viewer.get<scene::Camera>()->getViewMatrix());
    graphics::Uniform& written = *uniform.get<graphics::Uniform>();
    EXPECT_EQ(written.type(), graphics::UniformType::Matrix4);
    render::RenderJob job {};
    EXPECT_EQ(std::memcmp(written.getValue(job), expected.m, sizeof expected.m), 0);
}

TEST_F(ShadowPass, TheCasterRendererCollectsOnlyCasters)
{
    Ref held(new ShadowMapRenderPass);
    fx::ShadowCasterRenderer& renderer = *held.get<ShadowMapRenderPass>()->caster().casterRenderer();
    Ref quiet(new scene::Node);
    Ref caster(new scene::Node);
    Ref box(new visuals::BoxVisual);
    quiet.get<scene::Node>()->setVisual(box.get<visuals::Visual>());
    caster.get<scene::Node>()->setVisual(box.get<visuals::Visual>());
    caster.get<scene::Node>()->shadowMode = 2;
    renderer.begin(nullptr);
    renderer.visitNode(quiet.get<scene::Node>(), 1);
    renderer.visitNode(caster.get<scene::Node>(), 1);
    EXPECT_EQ(renderer.renderLists().visibleCount(), 1u);
}

TEST_F(ShadowPass, ImmediateDrawingCullsTheCastersFromTheLightAndUpdatesReceivers)
{
    Ref held(new ShadowMapRenderPass);
    ShadowMapRenderPass& pass = *held.get<ShadowMapRenderPass>();
    Ref light = directionalLight(50, 500);
    light.get<scene::Light>()->setTranslation(0, 0, 20);
    pass.caster().setLight(light.get<scene::Light>());
    Ref root(new scene::Node);
    Ref caster(new scene::Node);
    Ref quiet(new scene::Node);
    Ref box(new visuals::BoxVisual);
    for (Ref* node : { &caster, &quiet }) {
        node->get<scene::Node>()->setVisual(box.get<visuals::Visual>());
        root.get<scene::Node>()->addChild(node->get<scene::Node>());
    }
    caster.get<scene::Node>()->shadowMode = 1;
    pass.setSceneRoot(root.get<scene::Node>());
    Ref state(new graphics::ShaderProgramState(display->context().stateObjectCache));
    Ref uniform(new graphics::Uniform("shadowMatrix", graphics::UniformType::Float, 1));
    state.get<graphics::ShaderProgramState>()->addUniform(
        uniform.get<graphics::Uniform>(), graphics::ShaderProgramState::VertexStage);
    pass.caster().addReceiver(state.get<graphics::ShaderProgramState>(), 0);

    Ref viewer(new scene::Camera);
    render::RenderLists lists;
    pass.render(lists, *pass.caster().casterRenderer(), *viewer.get<scene::Camera>());
    EXPECT_EQ(pass.caster().lightCamera()->width, 50.0f);
    EXPECT_EQ(pass.caster().casterRenderer()->renderLists().visibleCount(), 1u);
    EXPECT_EQ(uniform.get<graphics::Uniform>()->type(), graphics::UniformType::Matrix4);
}

} // namespace
} // namespace quern::test
