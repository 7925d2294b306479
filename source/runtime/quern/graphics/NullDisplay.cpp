#include "quern/graphics/NullDisplay.h"

#include "quern/graphics/NullGraphicsBackEnd.h"
#include "quern/platform/ErrorReporting.h"

namespace quern::graphics {

NullDisplay::NullDisplay(NullGraphicsBackEnd* device)
    : Display(device ? device : &NullGraphicsBackEnd::displayInstance(), GraphicsBackEndVersion::OpenGL)
    , m_device(device ? device : &NullGraphicsBackEnd::displayInstance())
{
    m_device->setDisplay(this);
}

NullDisplay::~NullDisplay()
{
    releaseSlots();
    Display::close();
    if (m_device->display() == this)
        m_device->setDisplay(nullptr);
}

void NullDisplay::close()
{
    releaseSlots();
    Display::close();
}

void NullDisplay::setSwapInterval(i32 interval) { m_device->setSwapInterval(static_cast<u32>(interval)); }

void NullDisplay::enumerateModes(containers::Array& out)
{
    DisplayMode mode;
    mode.format = PixelFormat::B8G8R8A8;
    mode.width = 1024;
    mode.height = 768;
    mode.drawableWidth = 1024;
    mode.drawableHeight = 768;
    out.append(mode);
}

Ref& NullDisplay::retainedSlot(u32 index)
{
    if (index >= kRetainedSlots)
        QUERN_FATAL("NullDisplay slot index out of range");
    return m_slots[index];
}

void NullDisplay::releaseSlots()
{
    for (Ref& slot : m_slots)
        slot.reset();
}

} // namespace quern::graphics
