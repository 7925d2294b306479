#pragma once
// Visuals, passes and scenes for the render tests, drawn on the recording device.

#include "support/RecordingGraphicsBackEnd.h"

#include "quern/graphics/Shader.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/render/RenderQueue.h"
#include "quern/scene/Camera.h"
#include "quern/scene/Node.h"
#include "quern/visuals/MeshVisual.h"
#include "quern/visuals/SubMesh.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace quern::test {

inline constexpr u32 kStaticDraw = graphics::BufferUsage::Static | graphics::BufferUsage::Draw;

// A pass that blends (transparent) or not.
inline graphics::Shader* makeShader(bool transparent)
{
    auto* shader = new graphics::Shader();
    if (transparent) {
        graphics::AlphaBlendState* blend = shader->getAlphaBlendState();
        blend->setEnabled(true);
        blend->setSourceFactor(graphics::AlphaBlendState::BlendFactor::SourceAlpha);
        blend->setDestinationFactor(graphics::AlphaBlendState::BlendFactor::OneMinusSourceAlpha);
    }
    return shader;
}

// A mesh of `vertices` points spread over a unit square around the origin,
// drawn with the given material (null: the mesh's default one) and no index buffer.
inline visuals::MeshVisual* makeMesh(u64 vertices = 3, graphics::Material* material = nullptr)
{
    auto* mesh = new visuals::MeshVisual();
    if (material)
        mesh->setMaterial(material);
    graphics::VertexBuffer* vb = mesh->getVertexBuffer(kStaticDraw);
    vb->setVertexFormat(graphics::vertexFormatFromString("position"));
    vb->resizeElements(vertices);
    if (vertices != 0) {
        auto* at = reinterpret_cast<f32*>(vb->lockVertices(containers::BufferBase::Lock::Write, 0, vertices));
        for (u64 i = 0; i < vertices; ++i) {
            const f32 angle = 6.2831853f * static_cast<f32>(i) / static_cast<f32>(vertices);
            at[3 * i] = 0.5f * std::cos(angle);
            at[3 * i + 1] = 0.5f * std::sin(angle);
            at[3 * i + 2] = 0.0f;
        }
        vb->unlockVertices();
    }
    mesh->appendSubMesh(new visuals::SubMesh());
    return mesh;
}

inline bool nearMatrix(const math::Matrix4& a, const math::Matrix4& b, f32 tolerance = 1e-4f)
{
    for (int i = 0; i < 16; ++i)
        if (std::fabs(a.m[i] - b.m[i]) > tolerance * std::max(1.0f, std::fabs(b.m[i])))
            return false;
    return true;
}

} // namespace quern::test
