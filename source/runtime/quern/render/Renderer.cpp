#include "quern/render/Renderer.h"

#include "quern/debug/Log.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/math/Frustum.h"
#include "quern/parameter/Parameter.h"
#include "quern/render/Culler.h"
#include "quern/render/RenderLists.h"
#include "quern/render/RenderPass.h"
#include "quern/render/ViewportRestorer.h"
#include "quern/scene/Camera.h"
#include "quern/scene/Light.h"
#include "quern/visuals/SubMesh.h"
#include "quern/visuals/Visual.h"

#include <algorithm>
#include <ostream>

namespace quern::render {

Renderer::Renderer()
    : m_lights(sizeof(scene::Light*), 8)
    , m_cameras(sizeof(scene::Camera*), 8)
    , m_lists(new RenderLists())
{
}

Renderer::~Renderer()
{
    m_lists->clear();
    m_passes.clear();
    m_cameras.release();
    m_lights.release();
}

void Renderer::begin(scene::Node*)
{
    m_lights.clear();
    m_cameras.clear();
    m_lists->clear();
    if (m_passes.empty()) {
        QUERN_LOG(2) << "Renderer has no render passes, adding default pass!" << std::endl;
        addPass(new RenderPass());
    }
}

void Renderer::visitNode(scene::Node* node, u32 flag) { collectNode(*m_lists, node, flag); }

void Renderer::visitLight(scene::Light* light, u32)
{
    if (light->enabled)
        m_lights.append(light);
}

void Renderer::visitCamera(scene::Camera* camera, u32) { m_cameras.append(camera); }

void Renderer::render(scene::Camera& camera)
{
    graphics::Display& display = *graphics::Display::get();
    display.beginRendering();
    for (u64 i = 0; i < m_passes.size(); ++i)
        pass(i)->renderImmediate(*this, camera);
    display.endRendering();
}

void Renderer::addPass(RenderPass* pass)
{
    if (pass)
        m_passes.emplace_back(pass);
}

void Renderer::removePass(RenderPass* pass)
{
    std::erase_if(m_passes, [pass](const Ref& held) { return held.object() == pass; });
}

void Renderer::describe(std::ostream& out)
{
    out << "Render passes (" << m_passes.size() << "):\n";
    for (u64 i = 0; i < m_passes.size(); ++i) {
        out << "- ";
        pass(i)->describe(out);
    }
}

void Renderer::renderFromCamera(scene::Node* root, scene::Camera& camera)
{
    graphics::Display& display = *graphics::Display::get();
    ViewportRestorer restorer(display);
    if (static_cast<i64>(viewport[2]) * viewport[3] > 0)
        display.setViewport(viewport);
    camera.refresh();
    const math::Frustum frustum(camera.viewMatrix(), camera.projectionMatrix());
    begin(root);
    if (root)
        root->cull(*this, frustum);
    end();
    if (statistics)
        updateStatistics();
    render(camera);
}

u64 Renderer::countPrimitives(visuals::Visual* visual)
{
    if (!visual || !visual->vertexBuffer())
        return 0;
    graphics::VertexBuffer* vb = visual->vertexBuffer();
    u64 total = 0;
    for (u64 i = 0; i < visual->subMeshCount(); ++i) {
        graphics::IndexBuffer* ib = visual->subMesh(i)->indexBuffer();
        if (ib) {
            const u64 n = ib->count() < 0 ? ib->elementCount() : static_cast<u64>(ib->count());
            total += ib->getPrimitiveCount(n);
        } else {
            total += graphics::primitiveCountForIndices(vb->primitiveType(), vb->elementCount());
        }
    }
    return total;
}

void Renderer::updateStatistics()
{
    const u64 visible = m_lists->visibleCount();
    if (visibleNodesCounter)
        visibleNodesCounter->setValue(static_cast<f32>(visible));
    const bool countTriangles = trianglesCounter && trianglesCounter->listenerCount() != 0;
    const bool countVertices = verticesCounter && verticesCounter->listenerCount() != 0;
    if (!countTriangles && !countVertices)
        return;
    u64 triangles = 0;
    u64 vertices = 0;
    for (u64 i = 0; i < visible; ++i) {
        visuals::Visual* visual = m_lists->visibleNode(i)->visual();
        triangles += countPrimitives(visual);
        if (visual && visual->vertexBuffer())
            vertices += visual->vertexBuffer()->elementCount();
    }
    if (trianglesCounter)
        trianglesCounter->setValue(static_cast<f32>(triangles));
    if (verticesCounter)
        verticesCounter->setValue(static_cast<f32>(vertices));
}

} // namespace quern::render
