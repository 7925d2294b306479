#pragma once
// The common base of vertex, index and pixel buffers: data that lives in
// memory and, while the display is open, in a device object too. The buffer
// listens to the display so that its device object goes when the display
// closes and comes back when it opens, and it tells the objects that mirror
// its contents when those change.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/containers/ElementBuffer.h"
#include "quern/graphics/Display.h"

namespace quern::graphics {

class DisplayBuffer;

// What the data is for; combinations of these bits.
namespace BufferUsage {
inline constexpr u32 Static = 1; // written once
inline constexpr u32 Dynamic = 2; // rewritten often
inline constexpr u32 Draw = 4; // read by the device for drawing
inline constexpr u32 Stream = 8; // rewritten every use
} // namespace BufferUsage

enum class DisplayBufferKind : u32 {
    Vertex = 1,
    Index = 2,
    Pixel = 3,
};

// An object that mirrors a buffer's contents (sub-meshes, visuals).
class BufferChangeListener {
public:
    virtual ~BufferChangeListener() = default;
    virtual void bufferChanged(DisplayBuffer* buffer) = 0;
};

// A buffer's own display listener, and the list of its change listeners.
class DisplayBufferListener final : public DisplayListener {
public:
    explicit DisplayBufferListener(DisplayBuffer* buffer);
    ~DisplayBufferListener() override;

    // Opened: makes the device object again when a closing display released
    // it. Closing: discards (a = 1) or releases (a = 0) an existing device object.
    void onDisplayEvent(const DisplayEvent& event) override;
    void detach() override { owner = nullptr; }

    containers::Array changeListeners; // BufferChangeListener*, not owned
    // Non-null exactly while registered with the current display.
    DisplayBuffer* owner = nullptr;
    u8 recreate = 0;

private:
    DisplayBuffer* m_buffer;
};

class DisplayBuffer : public containers::ElementBuffer {
public:
    // No data, no device object; the listener registers with the global
    // display when one is set.
    DisplayBuffer(DisplayBufferKind kind, u32 usage, u64 elementSize);
    // A deep copy of the data with the same kind and usage; no device object
    // and no change listeners.
    DisplayBuffer(const DisplayBuffer& other);
    DisplayBuffer& operator=(const DisplayBuffer&) = delete;
    ~DisplayBuffer() override;

    // Base: marks the device object present and registers the listener with
    // the global display when it is not registered.
    virtual void createDeviceObject();
    // Base: marks the device object gone; registers as createDeviceObject does.
    virtual void releaseDeviceObject();
    // Makes the device object current, creating it first when there is none.
    virtual void bind() = 0;
    virtual void unbind() = 0;
    // Gives up the device object for good when the display closes.
    virtual void discard() = 0;

    // Appends: a listener added twice is called twice.
    void addListener(BufferChangeListener* listener);
    // Removes every occurrence, keeping the order of the rest.
    void removeListener(BufferChangeListener* listener);
    // bufferChanged(this) on each change listener, in order.
    void notifyListeners();
    u64 changeListenerCount() const { return m_listener->changeListeners.count(); }

    DisplayBufferKind kind() const { return m_kind; }
    u32 usage() const { return m_usage; }
    bool hasDeviceObject() const { return m_hasDeviceObject != 0; }
    DisplayBufferListener* displayListener() const { return m_listener; }
    bool isRegisteredWithDisplay() const { return m_listener->owner != nullptr; }

protected:
    void setHasDeviceObject(bool present) { m_hasDeviceObject = present ? 1 : 0; }
    // Registers the display listener with the global display when one is set
    // and the listener is not registered.
    void registerWithDisplay();

private:
    DisplayBufferListener* m_listener;
    DisplayBufferKind m_kind;
    u32 m_usage;
    u8 m_hasDeviceObject = 0;
};

} // namespace quern::graphics
