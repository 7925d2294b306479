#include "quern/graphics/DisplayBuffer.h"

#include <algorithm>

namespace quern::graphics {

DisplayBufferListener::DisplayBufferListener(DisplayBuffer* buffer)
    : changeListeners(sizeof(BufferChangeListener*), alignof(BufferChangeListener*))
    , m_buffer(buffer)
{
}

DisplayBufferListener::~DisplayBufferListener() = default;

void DisplayBufferListener::onDisplayEvent(const DisplayEvent& event)
{
    switch (event.type) {
    case DisplayEvent::Opened:
        if (recreate) {
            m_buffer->createDeviceObject();
            recreate = 0;
        }
        break;
    case DisplayEvent::Closing:
        if (!m_buffer->hasDeviceObject())
            break;
        // Only the first byte of a carries the flag.
        if (static_cast<u8>(event.a & 0xff) != 0) {
            m_buffer->discard();
        } else {
            m_buffer->releaseDeviceObject();
            recreate = 1;
        }
        break;
    default:
        break;
    }
}

DisplayBuffer::DisplayBuffer(DisplayBufferKind kind, u32 usage, u64 elementSize)
    : m_listener(new DisplayBufferListener(this))
    , m_kind(kind)
    , m_usage(usage)
{
    storeElementSize(elementSize);
    registerWithDisplay();
}

DisplayBuffer::DisplayBuffer(const DisplayBuffer& other)
    : containers::ElementBuffer(other)
    , m_listener(new DisplayBufferListener(this))
    , m_kind(other.m_kind)
    , m_usage(other.m_usage)
{
    registerWithDisplay();
}

DisplayBuffer::~DisplayBuffer()
{
    // A registered listener belongs to the current display: a display that
    // goes away detaches its listeners first.
    if (m_listener->owner)
        if (Display* display = Display::current())
            display->removeListener(m_listener);
    delete m_listener;
}

void DisplayBuffer::createDeviceObject()
{
    m_hasDeviceObject = 1;
    registerWithDisplay();
}

void DisplayBuffer::releaseDeviceObject()
{
    m_hasDeviceObject = 0;
    registerWithDisplay();
}

void DisplayBuffer::registerWithDisplay()
{
    if (m_listener->owner)
        return;
    if (Display* display = Display::current()) {
        display->addListener(m_listener);
        m_listener->owner = this;
    }
}

void DisplayBuffer::addListener(BufferChangeListener* listener) { m_listener->changeListeners.append(listener); }

void DisplayBuffer::removeListener(BufferChangeListener* listener)
{
    containers::Array& list = m_listener->changeListeners;
    BufferChangeListener** entries = list.dataAs<BufferChangeListener*>();
    BufferChangeListener** kept = std::remove(entries, entries + list.count(), listener);
    list.expand(static_cast<u64>(kept - entries));
}

void DisplayBuffer::notifyListeners()
{
    containers::Array& list = m_listener->changeListeners;
    for (u64 i = 0; i < list.count(); ++i)
        list.at<BufferChangeListener*>(i)->bufferChanged(this);
}

} // namespace quern::graphics
