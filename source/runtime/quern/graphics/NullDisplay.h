#pragma once
// The display without a window, over the null graphics device: what
// Display::get falls back to when the application set none.

#include "quern/Types.h"
#include "quern/graphics/Display.h"
#include "quern/language/RefCounted.h"

namespace quern::graphics {

class NullGraphicsBackEnd;

class NullDisplay final : public Display {
public:
    static constexpr u32 kRetainedSlots = 8;

    // Null means the process's null device for displays. The device learns
    // its display from here.
    explicit NullDisplay(NullGraphicsBackEnd* device = nullptr);
    ~NullDisplay() override;

    // Releases the retained references, then closes.
    void close() override;
    bool getDesktopMode(DisplayMode&) override { return false; }
    // Stored in the null device, which paces to 60 Hz when it is non-zero.
    void setSwapInterval(i32 interval) override;
    input::InputBackEnd* createInputBackEnd() override { return nullptr; }
    void implOpen(DisplayMode&, const DisplayConfiguration&) override { }
    void clear(u32, const f32[4]) override { }
    // One mode: 1024 x 768 in B8G8R8A8.
    void enumerateModes(containers::Array& out) override;

    NullGraphicsBackEnd& device() const { return *m_device; }
    const f32* clearColour() const { return m_clearColour; }
    // References the display keeps until it closes.
    Ref& retainedSlot(u32 index);

private:
    void releaseSlots();

    NullGraphicsBackEnd* m_device;
    f32 m_clearColour[4] = { 0.0f, 0.0f, 0.0f, 1.0f };
    Ref m_slots[kRetainedSlots];
};

} // namespace quern::graphics
