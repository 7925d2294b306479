#pragma once
// The gizmo pass: lines, axes and rectangles that game code adds during a
// frame, drawn (one frame late, as batches are) through the pass's queue from
// a Custom command with the camera the owner gave it.

#include "quern/containers/Array.h"
#include "quern/math/Matrix4.h"
#include "quern/math/Quaternion.h"
#include "quern/math/Vector3.h"
#include "quern/render/RenderCommand.h"
#include "quern/render/RenderPass.h"

namespace quern::visuals {
class BatchVisual;
}

namespace quern::render {

class Gizmos : public RenderPass, public RenderCallback {
public:
    // Persistent axes at a position with a rotation, both owned by the caller.
    struct Record {
        u32 kind; // 1: axes; nothing else is drawn
        const f32* position; // three floats
        const math::Quaternion* rotation;
    };

    enum Colour : u32 { Black, White, Red, Green, Blue, Cyan, Magenta, Yellow, Grey, PaletteSize };
    static const f32 kPalette[PaletteSize][4];

    Gizmos();
    ~Gizmos() override;

    // Bind and clear the output, then draw the gizmos from a Custom command.
    void recordCommands(RenderCommandList& list) override;
    void run(RenderCommand& command) override;

    // `colour` is a palette index, 0 to 8.
    void drawLine(const math::Vector3& a, const math::Vector3& b, u32 colour);
    // The matrix's three axis vectors from its translation: red, green, blue.
    void drawAxes(const math::Matrix4& matrix);
    // A magenta outline at z = 0.
    void drawRectangle(f32 x, f32 y, f32 halfWidth, f32 halfHeight);

    void setCamera(scene::Camera* camera);
    scene::Camera* camera() const { return m_camera.get<scene::Camera>(); }
    visuals::BatchVisual* batchVisual() const;
    containers::Array& records() { return m_records; }

private:
    Ref m_camera;
    Ref m_batchVisual;
    containers::Array m_records { sizeof(Record), alignof(Record) };
};

// Draws a batch visual's batches with the camera through the queue, then ends
// the batches' frame: what was added since the last call is drawn next time.
void drawBatchVisual(visuals::BatchVisual& visual, scene::Camera& camera, RenderQueue& queue);

} // namespace quern::render
