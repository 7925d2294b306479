#include "quern/graphics/DisplayBuffer.h"

#include "DisplayTestSupport.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/NullGraphicsBackEnd.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace quern::test {
namespace {

using graphics::BufferChangeListener;
using graphics::Display;
using graphics::DisplayBuffer;
using graphics::DisplayBufferKind;
using graphics::NullDisplay;
using graphics::NullGraphicsBackEnd;
namespace BufferUsage = graphics::BufferUsage;

// A buffer whose device operations record what the display made them do;
// discard gives the device object up as vertex buffers do.
class TestBuffer final : public DisplayBuffer {
public:
    TestBuffer()
        : DisplayBuffer(DisplayBufferKind::Vertex, BufferUsage::Static | BufferUsage::Draw, 12)
    {
    }
    TestBuffer(const TestBuffer& other)
        : DisplayBuffer(other)
    {
    }

    void createDeviceObject() override
    {
        calls.push_back("create");
        DisplayBuffer::createDeviceObject();
    }
    void releaseDeviceObject() override
    {
        calls.push_back("release");
        DisplayBuffer::releaseDeviceObject();
    }
    void bind() override { }
    void unbind() override { }
    void discard() override
    {
        calls.push_back("discard");
        DisplayBuffer::releaseDeviceObject();
    }

    std::vector<std::string> calls;
};

class RecordingChangeListener final : public BufferChangeListener {
public:
    RecordingChangeListener(std::vector<std::string>& log, std::string name)
        : m_log(log)
        , m_name(std::move(name))
    {
    }
    void bufferChanged(DisplayBuffer*) override { m_log.push_back(m_name); }

private:
    std::vector<std::string>& m_log;
    std::string m_name;
};

class DisplayBufferTest : public DisplayFixture {
protected:
    // A display of our own device, installed as the global one.
    NullDisplay& installDisplay()
    {
        auto* display = new NullDisplay(&m_device);
        Display::set(display);
        return *display;
    }

    NullGraphicsBackEnd m_device;
};

TEST_F(DisplayBufferTest, ConstructionRecordsKindAndUsageWithoutADeviceObject)
{
    TestBuffer buffer;
    EXPECT_EQ(buffer.kind(), DisplayBufferKind::Vertex);
    EXPECT_EQ(buffer.usage(), 5u);
    EXPECT_EQ(buffer.elementSize(), 12u);
    EXPECT_EQ(buffer.byteSize(), 0u);
    EXPECT_FALSE(buffer.hasDeviceObject());
}

TEST_F(DisplayBufferTest, ABufferMadeWithoutADisplayRegistersOnItsFirstDeviceObject)
{
    TestBuffer buffer;
    EXPECT_FALSE(buffer.isRegisteredWithDisplay());
    EXPECT_EQ(Display::current(), nullptr); // asking did not make a display

    NullDisplay& display = installDisplay();
    EXPECT_FALSE(display.hasListener(buffer.displayListener()));
    buffer.createDeviceObject();
    EXPECT_TRUE(buffer.hasDeviceObject());
    EXPECT_TRUE(buffer.isRegisteredWithDisplay());
    EXPECT_TRUE(display.hasListener(buffer.displayListener()));
}

TEST_F(DisplayBufferTest, DestroyingARegisteredBufferRemovesItsListener)
{
    NullDisplay& display = installDisplay();
    graphics::DisplayListener* listener = nullptr;
    {
        TestBuffer buffer;
        listener = buffer.displayListener();
        EXPECT_TRUE(display.hasListener(listener));
    }
    EXPECT_EQ(display.context().listeners.count(), 0u);
}

TEST_F(DisplayBufferTest, ClosingTheDisplayDiscardsOnlyBuffersWithDeviceObjects)
{
    NullDisplay& display = installDisplay();
    display.openWithVideoMode(makeMode(640, 480), graphics::DisplayConfiguration {});
    TestBuffer withObject;
    TestBuffer withoutObject;
    withObject.createDeviceObject();
    withObject.calls.clear();

    display.close();
    EXPECT_EQ(withObject.calls, std::vector<std::string> { "discard" });
    EXPECT_FALSE(withObject.hasDeviceObject());
    EXPECT_TRUE(withoutObject.calls.empty());

    // Discarded for good: reopening makes nothing again.
    display.openWithVideoMode(makeMode(640, 480), graphics::DisplayConfiguration {});
    EXPECT_EQ(withObject.calls, std::vector<std::string> { "discard" });
}

TEST_F(DisplayBufferTest, AClosingEventThatKeepsDataReleasesAndTheNextOpenRecreates)
{
    NullDisplay& display = installDisplay();
    TestBuffer released;
    TestBuffer idle;
    released.createDeviceObject();
    released.calls.clear();

    display.context().notifyListeners(DisplayEvent { DisplayEvent::Closing, 0x100, 0 }); // first byte of a is 0
    EXPECT_EQ(released.calls, std::vector<std::string> { "release" });
    EXPECT_EQ(released.displayListener()->recreate, 1);
    EXPECT_TRUE(idle.calls.empty());

    display.context().notifyListeners(DisplayEvent { DisplayEvent::Opened, 640, 480 });
    EXPECT_EQ(released.calls, (std::vector<std::string> { "release", "create" }));
    EXPECT_TRUE(released.hasDeviceObject());
    EXPECT_EQ(released.displayListener()->recreate, 0);
    EXPECT_TRUE(idle.calls.empty());

    // Other events leave the buffers alone.
    display.setActive(false);
    display.context().notifyListeners(DisplayEvent { DisplayEvent::Resized, 10, 10 });
    EXPECT_EQ(released.calls.size(), 2u);
}

TEST_F(DisplayBufferTest, ReplacingTheDisplayDetachesAndTheNextDeviceObjectRegistersAnew)
{
    installDisplay();
    TestBuffer buffer;
    EXPECT_TRUE(buffer.isRegisteredWithDisplay());

    NullDisplay& second = installDisplay();
    EXPECT_FALSE(buffer.isRegisteredWithDisplay());
    EXPECT_FALSE(second.hasListener(buffer.displayListener()));
    buffer.releaseDeviceObject();
    EXPECT_TRUE(second.hasListener(buffer.displayListener()));
}

TEST_F(DisplayBufferTest, ChangeListenersAreToldInOrderAndRemovedEveryTime)
{
    TestBuffer buffer;
    std::vector<std::string> log;
    RecordingChangeListener a(log, "a");
    RecordingChangeListener b(log, "b");
    RecordingChangeListener c(log, "c");
    buffer.addListener(&a);
    buffer.addListener(&b);
    buffer.addListener(&a);
    buffer.addListener(&c);
    buffer.notifyListeners();
    EXPECT_EQ(log, (std::vector<std::string> { "a", "b", "a", "c" }));

    log.clear();
    buffer.removeListener(&a);
    buffer.notifyListeners();
    EXPECT_EQ(log, (std::vector<std::string> { "b", "c" }));
    EXPECT_EQ(buffer.changeListenerCount(), 2u);
}

TEST_F(DisplayBufferTest, ACopyHasItsOwnDataAndNoDeviceObjectOrChangeListeners)
{
    NullDisplay& display = installDisplay();
    TestBuffer original;
    original.setSize(24);
    std::memcpy(original.data(), "abcdefghijklmnopqrstuvw", 24);
    original.createDeviceObject();
    std::vector<std::string> log;
    RecordingChangeListener listener(log, "l");
    original.addListener(&listener);

    TestBuffer copy(original);
    EXPECT_EQ(copy.byteSize(), 24u);
    EXPECT_NE(copy.data(), original.data());
    EXPECT_EQ(std::memcmp(copy.data(), original.data(), 24), 0);
    EXPECT_EQ(copy.kind(), original.kind());
    EXPECT_EQ(copy.usage(), original.usage());
    EXPECT_FALSE(copy.hasDeviceObject());
    EXPECT_EQ(copy.changeListenerCount(), 0u);
    EXPECT_NE(copy.displayListener(), original.displayListener());
    EXPECT_TRUE(display.hasListener(copy.displayListener()));

    copy.data()[0] = 'Z';
    EXPECT_EQ(original.data()[0], 'a');
}

} // namespace
} // namespace quern::test
