#include "quern/fx/shadows/CasterCuller.h"

#include "quern/render/RenderLists.h"
#include "quern/scene/Camera.h"
#include "quern/scene/Light.h"
#include "quern/scene/Node.h"

namespace quern::fx {

bool castsShadow(const scene::Node& node)
{
    return node.visual() && (node.shadowMode == 2 || (node.shadowMode == 1 && !node.hidden));
}

void CasterVisitor::begin(scene::Node*) { m_lists.clear(); }

void CasterVisitor::visitNode(scene::Node* node, u32 flag)
{
    if (!castsShadow(*node))
        return;
    if (flag)
        m_lists.addVisible(node);
    else
        m_lists.addCulled(node);
}

void CasterVisitor::visitLight(scene::Light* light, u32 flag) { visitNode(light, flag); }

void CasterVisitor::visitCamera(scene::Camera* camera, u32 flag) { visitNode(camera, flag); }

void CasterCuller::cull(const math::Frustum& frustum, render::RenderLists& lists)
{
    CasterVisitor visitor(lists);
    visitor.begin(root);
    if (root)
        root->cull(visitor, frustum);
    visitor.end();
}

} // namespace quern::fx
