#include "quern/render/Culler.h"

#include "quern/render/RenderLists.h"
#include "quern/scene/Camera.h"
#include "quern/scene/Light.h"
#include "quern/visuals/Visual.h"

namespace quern::render {

RenderLists::RenderLists()
    : all(sizeof(scene::Node*), 8)
    , visible(sizeof(scene::Node*), 8)
    , culled(sizeof(scene::Node*), 8)
{
}

RenderLists::~RenderLists()
{
    all.release();
    visible.release();
    culled.release();
}

void RenderLists::addVisible(scene::Node* node)
{
    visible.append(node);
    all.append(node);
}

void RenderLists::addCulled(scene::Node* node)
{
    culled.append(node);
    all.append(node);
}

void RenderLists::clear()
{
    all.clear();
    visible.clear();
    culled.clear();
}

void collectNode(RenderLists& lists, scene::Node* node, u32 flag)
{
    if (node->hidden || !node->visual())
        return;
    if (flag != scene::NodeVisitor::Outside)
        lists.addVisible(node);
    else
        lists.addCulled(node);
}

void CullVisitor::begin(scene::Node*) { m_lists.clear(); }

void CullVisitor::visitNode(scene::Node* node, u32 flag) { collectNode(m_lists, node, flag); }

void CullVisitor::visitLight(scene::Light* light, u32 flag) { collectNode(m_lists, light, flag); }

void CullVisitor::visitCamera(scene::Camera* camera, u32 flag) { collectNode(m_lists, camera, flag); }

void SceneCuller::cull(const math::Frustum& frustum, RenderLists& lists)
{
    CullVisitor visitor(lists);
    visitor.begin(root);
    if (root)
        root->cull(visitor, frustum);
    visitor.end();
}

SceneCuller& SceneCuller::defaultCuller()
{
    static SceneCuller culler;
    return culler;
}

} // namespace quern::render
