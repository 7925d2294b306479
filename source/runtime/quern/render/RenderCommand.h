#pragma once
// A frame as a flat list of fixed-size commands: bind a target, clear it, cull
// a scene, draw the culled nodes through a render queue, draw one visual,
// call back into a pass. Passes record the list when something changed; it is
// compiled once (targets and render lists resolved, defaults inserted) and
// executed every frame.

#include "quern/Types.h"
#include "quern/containers/Array.h"

namespace quern::graphics {
class Display;
class TextureRenderTarget;
} // namespace quern::graphics

namespace quern::math {
struct Matrix4;
}

namespace quern::scene {
class Camera;
class Node;
} // namespace quern::scene

namespace quern::visuals {
class Visual;
}

namespace quern::render {

class Culler;
class PassList;
class RenderQueue;
struct RenderCommand;
struct RenderLists;

// What a Custom command calls; the command does not own it.
class RenderCallback {
public:
    virtual ~RenderCallback() = default;
    virtual void run(RenderCommand& command) = 0;
};

// Seven 64-bit words: the type, four operands whose meaning depends on it,
// the render lists and the target.
struct RenderCommand {
    enum Type : u32 {
        Cull = 0, // camera, culler or null, root (without culler); owns new lists
        RenderScene = 1, // owned queue, camera; lists of the cull before it
        RenderVisual = 2, // owned queue, projection, world-view, visual
        Clear = 3, // flags | colour bytes << 32, depth bits
        SetRenderTarget = 4, // the target to bind
        SetViewport = 5, // x | y << 32, width | height << 32; width <= 0: whole target
        Custom = 6, // callback
    };

    u32 type = 0;
    u32 unused = 0;
    u64 operands[4] = { 0, 0, 0, 0 };
    RenderLists* renderLists = nullptr;
    graphics::TextureRenderTarget* target = nullptr;

    template <class T> T* pointer(u32 operand) const { return reinterpret_cast<T*>(operands[operand]); }
    void setPointer(u32 operand, const void* object) { operands[operand] = reinterpret_cast<u64>(object); }
    // Two 32-bit values in one operand, the first in the low half.
    static u64 pack(u32 low, u32 high) { return static_cast<u64>(low) | (static_cast<u64>(high) << 32); }
    static u32 low(u64 word) { return static_cast<u32>(word); }
    static u32 high(u64 word) { return static_cast<u32>(word >> 32); }

    // Frees what the command owns: a Cull its lists, a RenderScene or
    // RenderVisual its queue.
    void release();
};

static_assert(sizeof(RenderCommand) == 56, "a render command is seven words");
static_assert(alignof(RenderCommand) == 8, "render commands are word-aligned");

class RenderCommandList {
public:
    RenderCommandList();
    // Releases every command.
    ~RenderCommandList();
    RenderCommandList(const RenderCommandList&) = delete;
    RenderCommandList& operator=(const RenderCommandList&) = delete;

    // Takes over what the command owns.
    void append(const RenderCommand& command);
    // Binds the target (null: the window) and covers it with the viewport.
    void setRenderTarget(graphics::TextureRenderTarget* target);
    // Channels 0..1 are stored as bytes, rounded to nearest.
    void clear(graphics::TextureRenderTarget* target, u32 flags, const f32 colour[4], f32 depth);
    void cull(scene::Node* root, scene::Camera* camera);
    // Cull (with the culler, else the root), viewport (the rectangle or the
    // whole target), then RenderScene with the queue (null: a new one). The
    // list owns the queue from here on.
    void renderScene(scene::Node* root, scene::Camera* camera, RenderQueue* queue, Culler* culler, const i32* viewport);
    void setViewport(const i32* rect);
    // Resets, then lets every enabled pass of the list record (setting each
    // up first on its first recording).
    void recordPasses(PassList& passes);
    // Resolves targets and render lists, puts a window bind before draws that
    // have none, and drops clears of nothing.
    void compile(graphics::Display& display);
    // Runs the commands between the display's frame hooks; an empty list
    // touches nothing.
    void execute(graphics::Display& display);
    // Releases every command; the storage stays.
    void reset();

    u64 count() const { return m_commands.count(); }
    RenderCommand& at(u64 index) { return m_commands.at<RenderCommand>(index); }
    const RenderCommand& at(u64 index) const { return m_commands.at<RenderCommand>(index); }
    const containers::Array& commands() const { return m_commands; }

private:
    void run(graphics::Display& display, RenderCommand& command);

    containers::Array m_commands; // RenderCommand
};

} // namespace quern::render
