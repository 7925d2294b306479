#include "quern/render/ScenePass.h"

#include "quern/math/Frustum.h"
#include "quern/render/Culler.h"
#include "quern/render/RenderCommand.h"
#include "quern/render/RenderLists.h"
#include "quern/render/RenderQueue.h"
#include "quern/scene/Camera.h"

namespace quern::render {

ScenePass::~ScenePass()
{
    m_root.reset();
    m_camera.reset();
}

void ScenePass::setCamera(scene::Camera* camera) { replaceRecorded(m_camera, camera); }

void ScenePass::setSceneRoot(scene::Node* root) { replaceRecorded(m_root, root); }

void ScenePass::recordCommands(RenderCommandList& list)
{
    RenderPass::recordCommands(list);
    RenderQueue* drawing = queue()->clone();
    if (drawing)
        drawing->setOverrideMaterial(queue()->overrideShader());
    list.cull(sceneRoot(), camera());
    list.setViewport(nullptr);
    RenderCommand draw;
    draw.type = RenderCommand::RenderScene;
    draw.setPointer(0, drawing ? drawing : RenderQueue::create());
    draw.setPointer(1, camera());
    list.append(draw);
}

void ScenePass::render(RenderLists&, Renderer&, scene::Camera& given)
{
    scene::Node* root = sceneRoot();
    if (!root)
        return;
    scene::Camera& viewer = camera() ? *camera() : given;
    viewer.refresh();
    const math::Frustum frustum(viewer.viewMatrix(), viewer.projectionMatrix());
    RenderLists lists;
    CullVisitor visitor(lists);
    visitor.begin(root);
    root->cull(visitor, frustum);
    visitor.end();
    queue()->renderScene(lists, viewer);
}

CollectingScenePass::CollectingScenePass()
{
    replaceQueue(new CollectingRenderQueue());
    invalidate();
}

} // namespace quern::render
