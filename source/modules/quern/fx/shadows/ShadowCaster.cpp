#include "quern/fx/shadows/ShadowCaster.h"

#include "quern/fx/shadows/ShadowMatrix.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/graphics/Uniform.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/render/RenderLists.h"
#include "quern/render/RenderQueue.h"
#include "quern/render/ScenePass.h"
#include "quern/scene/Camera.h"
#include "quern/scene/Light.h"

namespace quern::fx {

ShadowCasterRenderer::ShadowCasterRenderer(graphics::Shader* casterShader)
    : m_casterShader(casterShader)
{
    auto* pass = new render::CollectingScenePass();
    pass->queue()->sortMode = render::RenderQueue::SortMode::FrontToBack;
    casterShader->getCullState()->setCullMode(graphics::CullState::CullFrontFaces);
    graphics::DepthBufferState* depth = casterShader->getDepthBufferState();
    depth->setTestEnabled(true);
    depth->setWriteEnabled(true);
    depth->setOffsetFactor(0.0f);
    depth->setOffsetUnits(0.0f);
    pass->queue()->setOverrideMaterial(casterShader);
    addPass(pass);
}

ShadowCasterRenderer::~ShadowCasterRenderer() { m_casterShader.reset(); }

void ShadowCasterRenderer::visitNode(scene::Node* node, u32 flag)
{
    if (castsShadow(*node))
        render::Renderer::visitNode(node, flag);
}

ShadowCaster::ShadowCaster()
    : m_lightCamera(new scene::Camera())
    , m_casterShader(graphics::Shader::createDefault(graphics::Display::get()->context().stateObjectCache))
{
    graphics::Shader* shader = casterShader();
    m_casterRenderer = Ref(new ShadowCasterRenderer(shader));
    // Casters are drawn with render states only: no programs of their own.
    shader->setShaderProgramState(nullptr);
}

ShadowCaster::~ShadowCaster()
{
    receivers.clear();
    m_casterRenderer.reset();
    m_casterShader.reset();
    m_lightCamera.reset();
    m_light.reset();
}

void ShadowCaster::setLight(scene::Light* light) { m_light = light ? Ref(light) : Ref(); }

void ShadowCaster::addReceiver(graphics::ShaderProgramState* owner, u32 slot)
{
    ShadowReceiver receiver;
    receiver.owner = Ref(owner);
    receiver.slot = slot;
    receivers.push_back(std::move(receiver));
}

void ShadowCaster::updateReceivers(scene::Camera& viewer)
{
    scene::Light* source = light();
    if (!source)
        return;
    math::Matrix4 shadow;
    computeShadowMatrix(shadow, *source, viewer.getViewMatrix());
    for (ShadowReceiver& receiver : receivers) {
        if (!receiver.enabled)
            continue;
        auto* state = receiver.owner.get<graphics::ShaderProgramState>();
        const graphics::UniformList& uniforms = state->uniforms(graphics::ShaderProgramState::VertexStage);
        if (receiver.slot >= uniforms.count())
            continue;
        graphics::Uniform* uniform = uniforms.at(receiver.slot);
        uniform->setValue(shadow.m, 16);
        state->markChanged();
        uniform->setType(graphics::UniformType::Matrix4);
        state->markChanged();
    }
}

} // namespace quern::fx
