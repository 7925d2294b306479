#pragma once
// The process's full-screen quad drawer: one unit quad drawn with a given
// material straight into a given target, at once (not recorded). The post
// effects draw every step through it while the command list executes.

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

namespace quern::graphics {
class Display;
class GenericMaterial;
class Material;
class Texture;
class TextureRenderTarget;
} // namespace quern::graphics
namespace quern::render {
class RenderQueue;
}
namespace quern::visuals {
class MeshVisual;
}

namespace harmonize {

class QuadRenderer {
public:
    QuadRenderer() = default;
    virtual ~QuadRenderer() { release(); }
    QuadRenderer(const QuadRenderer&) = delete;
    QuadRenderer& operator=(const QuadRenderer&) = delete;

    // Takes over `queue` and builds the quad on the display's device.
    void init(quern::render::RenderQueue* queue, quern::graphics::Display& display);
    // Destroys the queue, forgets the display and lets the quad go.
    void release();

    // Covers the target's own viewport with the material. Virtual so that
    // tests can watch what the effects draw.
    virtual void drawQuad(quern::graphics::TextureRenderTarget& target, quern::graphics::Material& material);
    // The same after putting the source's colour texture into the
    // material's "_MainTex" (a material without one draws as it is).
    void blit(quern::graphics::TextureRenderTarget* source, quern::graphics::TextureRenderTarget& destination,
        quern::graphics::GenericMaterial& material);

    quern::render::RenderQueue* queue() const { return m_queue; }
    quern::graphics::Display* display() const { return m_display; }
    quern::visuals::MeshVisual* visual() const { return m_visual.get<quern::visuals::MeshVisual>(); }

private:
    quern::render::RenderQueue* m_queue = nullptr;
    quern::graphics::Display* m_display = nullptr;
    quern::Ref m_visual;
};

// The first attached texture of the target whose image has a colour channel;
// null for a null target or one without.
quern::graphics::Texture* colourTexture(const quern::graphics::TextureRenderTarget* target);

// The unit quad (a triangle strip from (-1, -1) to (1, 1)) in the visual's
// vertex buffer, made with the display's device when the visual has none,
// and one sub-mesh to draw it.
void buildQuadVisual(quern::visuals::MeshVisual& visual, quern::graphics::Display& display);

} // namespace harmonize
