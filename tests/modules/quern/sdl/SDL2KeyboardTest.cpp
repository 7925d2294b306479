// Keys pressed through the X server's test extension into a focused window,
// so SDL sees them (and the server's autorepeat) as from a real keyboard.

#include "SDL2TestSupport.h"
#include "runtime/quern/graphics/DisplayTestSupport.h"

#include "quern/containers/EventQueue.h"
#include "quern/sdl/SDL2Display.h"
#include "quern/sdl/SDL2InputBackEnd.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

// Last: the X11 headers define macros such as None and Status.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace quern::test {
namespace {

using input::InputEvent;

struct KeyCounts {
    u64 downs = 0;
    u64 ups = 0;
};

class SDL2Keyboard : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("SDL_VIDEODRIVER");
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "no X server";
        m_x = XOpenDisplay(nullptr);
        ASSERT_NE(m_x, nullptr);
        int eventBase = 0, errorBase = 0, major = 0, minor = 0;
        ASSERT_TRUE(XTestQueryExtension(m_x, &eventBase, &errorBase, &major, &minor));
        XAutoRepeatOn(m_x);

        display = std::make_unique<sdl::SDL2Display>(&device, graphics::GraphicsBackEndVersion::Null);
        graphics::DisplayConfiguration configuration;
        configuration.caption = "keyboard";
        display->openWithVideoMode(makeMode(200, 200), configuration);
        input.reset(static_cast<sdl::SDL2InputBackEnd*>(display->createInputBackEnd()));
        input::InputBackEndStatus status;
        input->open(status);
        ring.reserve(2048);
        sdlSymbol<void (*)(SDL_EventFilter, void*)>("SDL_AddEventWatch")(&countRawKeyDowns, this);

        const Window window = reinterpret_cast<Window>(display->getWindow()->getNativeHandle());
        ASSERT_NE(window, 0u);
        XWindowAttributes attributes {};
        for (int i = 0; i < 100; ++i) {
            XGetWindowAttributes(m_x, window, &attributes);
            if (attributes.map_state == IsViewable)
                break;
            pollFor(std::chrono::milliseconds(10));
        }
        ASSERT_EQ(attributes.map_state, IsViewable);
        XSetInputFocus(m_x, window, RevertToParent, CurrentTime);
        XSync(m_x, False);
        pollFor(std::chrono::milliseconds(50));
        m_keyA = XKeysymToKeycode(m_x, XK_a);
    }
    void TearDown() override
    {
        if (m_x) {
            if (m_keyA)
                key(false);
            XCloseDisplay(m_x);
        }
        if (sdl::isSDLLoaded())
            sdlSymbol<void (*)(SDL_EventFilter, void*)>("SDL_DelEventWatch")(&countRawKeyDowns, this);
        input.reset();
        display.reset();
    }

    static int countRawKeyDowns(void* self, SDL_Event* event)
    {
        if (event->type == SDL_KEYDOWN && event->key.keysym.scancode == SDL_SCANCODE_A)
            ++static_cast<SDL2Keyboard*>(self)->rawKeyDowns;
        return 0;
    }

    void key(bool down)
    {
        XTestFakeKeyEvent(m_x, m_keyA, down ? True : False, CurrentTime);
        XSync(m_x, False);
    }

    // Polls (as the game's frames do) for a while, counting the A key's events.
    KeyCounts pollFor(std::chrono::milliseconds duration)
    {
        KeyCounts counts;
        const auto end = std::chrono::steady_clock::now() + duration;
        do {
            input->pollEvents(ring);
            while (!ring.isEmpty()) {
                containers::EventHeader* header = ring.front();
                InputEvent event;
                std::memcpy(&event, containers::EventQueue::payload(header), sizeof event);
                if (header->type == input::KeyDown && event.code == 'a')
                    ++counts.downs;
                if (header->type == input::KeyUp && event.code == 'a')
                    ++counts.ups;
                ring.pop();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (std::chrono::steady_clock::now() < end);
        return counts;
    }

    RecordingBackEnd device;
    std::unique_ptr<sdl::SDL2Display> display;
    std::unique_ptr<sdl::SDL2InputBackEnd> input;
    containers::EventQueue ring;
    u64 rawKeyDowns = 0;

private:
    ::Display* m_x = nullptr;
    KeyCode m_keyA = 0;
};

TEST_F(SDL2Keyboard, HeldKeyGivesOneKeyDownHoweverManyRepeatsAndOneKeyUp)
{
    key(true);
    // Longer than the server's autorepeat delay, so SDL sees repeats.
    const KeyCounts held = pollFor(std::chrono::milliseconds(1200));
    key(false);
    const KeyCounts released = pollFor(std::chrono::milliseconds(100));
    EXPECT_GT(rawKeyDowns, 1u) << "the server sent no repeats";
    EXPECT_EQ(held.downs, 1u);
    EXPECT_EQ(held.ups + released.ups, 1u);
    EXPECT_EQ(released.downs, 0u);

    // Once a poll has ended with the key up, the next press is a new KeyDown.
    key(true);
    const KeyCounts again = pollFor(std::chrono::milliseconds(100));
    key(false);
    EXPECT_EQ(again.downs, 1u);
}

// The snapshot still shows the key down from the last poll, so a release and
// a new press between two polls give the KeyUp but no second KeyDown.
TEST_F(SDL2Keyboard, ReleaseAndPressBetweenTwoPollsGivesOnlyTheKeyUp)
{
    key(true);
    ASSERT_EQ(pollFor(std::chrono::milliseconds(100)).downs, 1u);
    key(false);
    // Apart in server time: SDL takes a release and press with one time stamp for autorepeat.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    key(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    input->pollEvents(ring); // one poll sees both
    KeyCounts between;
    while (!ring.isEmpty()) {
        containers::EventHeader* header = ring.front();
        InputEvent event;
        std::memcpy(&event, containers::EventQueue::payload(header), sizeof event);
        between.downs += header->type == input::KeyDown && event.code == 'a';
        between.ups += header->type == input::KeyUp && event.code == 'a';
        ring.pop();
    }
    EXPECT_EQ(between.ups, 1u);
    EXPECT_EQ(between.downs, 0u);
    key(false);
    EXPECT_EQ(pollFor(std::chrono::milliseconds(100)).ups, 1u);
}

TEST(SDL2KeyEvents, KeysWithoutAnEngineCodeStillComeThroughWithCodeZero)
{
    sdl::SDL2InputBackEnd input(nullptr);
    for (const SDL_Scancode scancode : { SDL_SCANCODE_APOSTROPHE, SDL_SCANCODE_GRAVE }) {
        SDL_Event event {};
        event.type = SDL_KEYDOWN;
        event.key.keysym.scancode = scancode;
        InputEvent out;
        ASSERT_TRUE(input.translate(event, out));
        EXPECT_EQ(out.type, input::KeyDown);
        EXPECT_EQ(out.device, 0);
        EXPECT_EQ(out.code, 0);
        event.type = SDL_KEYUP;
        ASSERT_TRUE(input.translate(event, out));
        EXPECT_EQ(out.type, input::KeyUp);
    }
}

} // namespace
} // namespace quern::test
