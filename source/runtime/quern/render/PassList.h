#pragma once
// The retained, ordered list of render passes that draws a frame. The passes
// record into one command list, which is compiled only when something that
// affects recording changed (a pass added, an output or enabled flag changed)
// and executed every frame. The compiled list points at the display's window
// target, which goes when the display closes: a closing display makes the
// next frame record again.

#include "quern/Types.h"
#include "quern/graphics/Display.h"
#include "quern/language/RefCounted.h"
#include "quern/render/RenderCommand.h"

#include <vector>

namespace quern::render {

class RenderPass;

class PassList final : public graphics::DisplayListener {
public:
    PassList() = default;
    // Lets the passes go, then the command list and what it owns.
    ~PassList() override;
    PassList(const PassList&) = delete;
    PassList& operator=(const PassList&) = delete;

    // Appends a retained reference and makes this list the pass's owner.
    void addPass(RenderPass* pass);
    void clearPasses();
    // Makes the renderer's counters exist in the parameter registry.
    void enableStatistics();
    // Records and compiles when the list is not compiled, then executes:
    // one frame.
    void renderFrame(graphics::Display& display);

    void onDisplayEvent(const graphics::DisplayEvent& event) override;
    void detach() override { m_display = nullptr; }

    u64 passCount() const { return m_passes.size(); }
    RenderPass* pass(u64 index) const { return m_passes[index].get<RenderPass>(); }
    RenderCommandList& commandList() { return m_commandList; }

    // 1 while the recorded and compiled list is valid.
    u8 compiled = 0;
    u8 statistics = 0;

private:
    std::vector<Ref> m_passes;
    // The display the list was compiled for, listened to.
    graphics::Display* m_display = nullptr;
    RenderCommandList m_commandList;
};

} // namespace quern::render
