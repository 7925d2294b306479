#pragma once
// Remembers the display's current viewport and puts it back (on the device
// and in the display) when restored or when it goes out of scope, whichever
// way the drawing in between ended.

#include "quern/graphics/Display.h"

#include <algorithm>

namespace quern::render {

class ViewportRestorer {
public:
    explicit ViewportRestorer(graphics::Display& display)
        : m_display(display)
    {
        const i32* current = display.context().viewport;
        std::copy(current, current + 4, m_saved);
    }
    ~ViewportRestorer() { restore(); }
    ViewportRestorer(const ViewportRestorer&) = delete;
    ViewportRestorer& operator=(const ViewportRestorer&) = delete;

    // Once: later calls do nothing.
    void restore()
    {
        if (m_restored)
            return;
        m_restored = true;
        m_display.setViewport(m_saved);
    }

private:
    graphics::Display& m_display;
    i32 m_saved[4];
    bool m_restored = false;
};

} // namespace quern::render
