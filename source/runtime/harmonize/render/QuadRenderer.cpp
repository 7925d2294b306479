#include "harmonize/render/QuadRenderer.h"

#include "quern/graphics/Display.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/math/Matrix4.h"
#include "quern/render/RenderContext.h"
#include "quern/render/RenderQueue.h"
#include "quern/visuals/MeshVisual.h"
#include "quern/visuals/QuadGeometry.h"
#include "quern/visuals/SubMesh.h"

namespace harmonize {
namespace {

using quern::math::Matrix4;

constexpr quern::u32 kStaticDraw = quern::graphics::BufferUsage::Static | quern::graphics::BufferUsage::Draw;

// The quad's corners are already in clip space; only depth is mirrored.
Matrix4 quadProjection()
{
    Matrix4 projection = Matrix4::identity();
    projection.m[10] = -1.0f;
    return projection;
}

} // namespace

void buildQuadVisual(quern::visuals::MeshVisual& visual, quern::graphics::Display& display)
{
    if (!visual.vertexBuffer())
        visual.setVertexBuffer(display.backEnd()->createVertexBuffer(kStaticDraw));
    quern::visuals::buildUnitQuad(*visual.vertexBuffer());
    if (visual.subMeshCount() == 0)
        visual.appendSubMesh(new quern::visuals::SubMesh());
}

quern::graphics::Texture* colourTexture(const quern::graphics::TextureRenderTarget* target)
{
    if (!target)
        return nullptr;
    for (quern::u64 i = 0; i < target->textureCount(); ++i) {
        quern::graphics::Texture* texture = target->texture(i);
        const quern::graphics::PixelBuffer* image = texture ? texture->pixelBuffer() : nullptr;
        if (image && image->pixelFormat().hasColorChannel())
            return texture;
    }
    return nullptr;
}

void QuadRenderer::init(quern::render::RenderQueue* queue, quern::graphics::Display& display)
{
    release();
    m_queue = queue;
    m_display = &display;
    auto* visual = new quern::visuals::MeshVisual();
    m_visual = quern::Ref(visual);
    buildQuadVisual(*visual, display);
}

void QuadRenderer::release()
{
    delete m_queue;
    m_queue = nullptr;
    m_display = nullptr;
    m_visual.reset();
}

void QuadRenderer::drawQuad(quern::graphics::TextureRenderTarget& target, quern::graphics::Material& material)
{
    if (!m_queue || !m_display || !visual())
        return;
    const Matrix4 projection = quadProjection();
    const Matrix4 worldView = Matrix4::identity();
    m_queue->setProjectionMatrix(projection);
    m_queue->setWorldViewMatrix(worldView);
    m_queue->setWorldViewProjectionMatrix(projection * worldView);
    quern::render::RenderContext context;
    context.projectionMatrix = &projection;
    context.worldViewMatrix = &worldView;

    quern::visuals::MeshVisual* quad = visual();
    quad->setMaterial(&material);
    m_queue->submitVisual(quad, context);
    m_display->setViewport(target.viewport());
    target.bind();
    m_queue->flush(context);
    target.unbind();
    quad->setMaterial(nullptr);
}

void QuadRenderer::blit(quern::graphics::TextureRenderTarget* source, quern::graphics::TextureRenderTarget& destination,
    quern::graphics::GenericMaterial& material)
{
    if (const quern::i32 mainTex = material.findProperty("_MainTex"))
        material.setPropertyTexture(mainTex, colourTexture(source));
    drawQuad(destination, material);
}

} // namespace harmonize
