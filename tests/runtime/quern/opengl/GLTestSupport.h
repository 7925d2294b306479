#pragma once
// Helpers for tests that replace GL entry points with fakes: the slot's old
// value comes back when the scope ends, and the log of a level is captured.

#include "support/LogCapture.h"

namespace quern::opengl::testing {

template <typename Pointer> class SlotOverride {
public:
    SlotOverride(Pointer& slot, Pointer value)
        : m_slot(slot)
        , m_saved(slot)
    {
        slot = value;
    }
    ~SlotOverride() { m_slot = m_saved; }
    SlotOverride(const SlotOverride&) = delete;
    SlotOverride& operator=(const SlotOverride&) = delete;

private:
    Pointer& m_slot;
    Pointer m_saved;
};

using quern::testing::LogCapture;

} // namespace quern::opengl::testing
