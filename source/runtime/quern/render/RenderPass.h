#pragma once
// The base of every pass: an output render target (none: the window), clear
// settings, its own render queue and a name. A pass is either recorded into
// the command list of the PassList that owns it, or run at once by a Renderer.

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

#include <iosfwd>
#include <string>

namespace quern::graphics {
class TextureRenderTarget;
}

namespace quern::scene {
class Camera;
}

namespace quern::render {

class PassList;
class RenderCommandList;
class RenderQueue;
class Renderer;
struct RenderLists;

class RenderPass : public RefCounted {
public:
    RenderPass();
    // Destroys the queue and lets the output go.
    ~RenderPass() override;

    // A different target (or null) makes the owner record again.
    virtual void setOutput(graphics::TextureRenderTarget* target);
    // Binds the output over its whole area, then clears it.
    virtual void recordCommands(RenderCommandList& list);
    // The name (" (disabled)" when disabled), then "Outputs:" and the output's description.
    virtual void describe(std::ostream& out);
    // Draws the visible nodes of the lists through the pass's queue.
    virtual void render(RenderLists& lists, Renderer& renderer, scene::Camera& camera);
    virtual void setUp() { }

    // Runs setUp the first time only.
    void setUpOnce();
    // Draws at once into the output (the viewport is restored afterwards);
    // nothing when disabled.
    void renderImmediate(Renderer& renderer, scene::Camera& camera);
    // The owner must record again before the next frame.
    void invalidate();

    graphics::TextureRenderTarget* output() const { return m_output.get<graphics::TextureRenderTarget>(); }
    RenderQueue* queue() const { return m_queue; }
    PassList* owner() const { return m_owner; }
    void setOwner(PassList* owner) { m_owner = owner; }
    bool isSetUp() const { return m_setUp != 0; }
    const std::string& name() const { return m_name; }
    void setName(std::string name) { m_name = std::move(name); }

    // Its owner writes it and invalidates the pass when it changes.
    u8 enabled = 1;
    u32 clearFlags = 0;
    f32 clearDepth = 1.0f;
    f32 clearColour[4] = { 0.0f, 0.0f, 0.0f, 1.0f };

protected:
    // Holds `object` in `slot`; a change makes the owner record again.
    void replaceRecorded(Ref& slot, RefCounted* object);
    // Destroys the current queue and uses `queue` (owned) instead.
    void replaceQueue(RenderQueue* queue);

private:
    Ref m_output;
    RenderQueue* m_queue;
    PassList* m_owner = nullptr;
    u8 m_setUp = 0;
    std::string m_name = "RenderPass";
};

} // namespace quern::render
