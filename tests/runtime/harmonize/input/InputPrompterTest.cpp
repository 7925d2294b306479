#include "harmonize/input/InputPrompter.h"

#include "harmonize/Settings.h"
#include "harmonize/input/InputBindings.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/levels/LevelList.h"
#include "modules/quern/sdl/SDL2TestSupport.h"
#include "quern/input/InputManager.h"
#include "quern/input/KeyCodes.h"
#include "quern/sdl/SDL2InputBackEnd.h"
#include "runtime/harmonize/levels/LevelListBytes.h"
#include "runtime/quern/input/ScriptedInputBackEnd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace harmonize {
namespace {

using namespace quern::input;

// The level list's seventh, eighth and ninth ids: the prompt atlases of
// "Wireless Controller" pads, of every other pad, and of Xbox One pads.
constexpr u64 kWirelessAtlas = 0x3401;
constexpr u64 kDefaultAtlas = 0x3c01;
constexpr u64 kXboxOneAtlas = 0x4401;

constexpr i32 kAction = ControlName::Action;
constexpr i32 kState = ControlName::State;

// The default key bindings in the switcher's contexts, and a level list with
// every prompt atlas.
void prepareGame(InputSwitcher& switcher, LevelList& list)
{
    Settings::resetToDefaults();
    parseBindings(Settings::Input);
    switcher.bindContexts();
    const test::LevelListImage image = test::writeLevelListImage(test::fullLevelListSpec());
    ASSERT_TRUE(list.parse(image.bytes.data(), image.bytes.size(), nullptr));
}

std::vector<InputOrigin> originsOf(const InputOriginList& list)
{
    std::vector<InputOrigin> origins;
    for (u64 i = 0; i < list.count; ++i)
        origins.push_back(list.at(i));
    return origins;
}

// The prompter of a game whose input runs through SDL, with SDL's virtual
// pads for controllers and pushed key events for the keyboard.
class InputPrompterSDL : public ::testing::Test {
protected:
    void SetUp() override
    {
        prepareGame(switcher, levelList);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        quern::sdl::initSDL2(quern::sdl::kInputSubsystems);
        backEnd = std::make_unique<quern::sdl::SDL2InputBackEnd>(nullptr);
        InputBackEndStatus status;
        backEnd->open(status);
        ASSERT_EQ(status.code, 0);
        manager = std::make_unique<InputManager>(backEnd.get());
        switcher.attach(*manager);
        switcher.takeDeviceChanged();
    }
    void TearDown() override
    {
        switcher.detach(*manager);
        manager.reset();
        backEnd.reset();
        quern::sdl::shutdownSDL();
        unsetenv("SDL_VIDEODRIVER");
        Settings::resetToDefaults();
    }

    // Frames until the switcher saw the player move to another device, which
    // the App passes on to the prompter; false after a second without.
    bool deliverDeviceChange()
    {
        for (int attempt = 0; attempt < 50; ++attempt) {
            backEnd->pollEvents(manager->getEventQueue());
            manager->update();
            if (switcher.takeDeviceChanged()) {
                prompter.onInputDeviceChanged(switcher.lastDevice(), *manager);
                return true;
            }
            quern::test::sdlSymbol<void (*)(Uint32)>("SDL_Delay")(20);
        }
        return false;
    }
    void pressKey(SDL_Scancode scancode)
    {
        SDL_Event event {};
        event.type = SDL_KEYDOWN;
        event.key.state = SDL_PRESSED;
        event.key.keysym.scancode = scancode;
        ASSERT_EQ(quern::test::sdlSymbol<int (*)(SDL_Event*)>("SDL_PushEvent")(&event), 1);
    }
    // Attaches a pad SDL opens as a game controller and presses its A button;
    // the pad's device number.
    u8 useNewPad(const char* name)
    {
        pads.attachController(name);
        backEnd->pollEvents(manager->getEventQueue());
        manager->update();
        const u64 slot = backEnd->slotCount() - 1;
        quern::test::VirtualPads::setButton(backEnd->slot(slot).joystick, SDL_CONTROLLER_BUTTON_A, true);
        EXPECT_TRUE(deliverDeviceChange()) << name;
        return backEnd->slot(slot).device;
    }
    std::vector<InputOrigin> bindings(i32 kind, i32 value, i32 state = kInputStateGame)
    {
        InputOriginList list;
        prompter.getBindings({ kind, value, state }, list);
        return originsOf(list);
    }

    LevelList levelList;
    InputSwitcher switcher;
    InputPrompter prompter { levelList, switcher };
    std::unique_ptr<quern::sdl::SDL2InputBackEnd> backEnd;
    std::unique_ptr<InputManager> manager;
    quern::test::VirtualPads pads;
};

TEST_F(InputPrompterSDL, BeforeAnyDeviceThePromptsShowTheGenericControllerGlyphs)
{
    EXPECT_EQ(prompter.activeDevice(), InputPrompter::kNoDevice);
    EXPECT_EQ(prompter.deviceKind(), kInputDeviceGameController);
    EXPECT_EQ(prompter.promptState(), kInputStateGame);
    EXPECT_EQ(prompter.atlasId(), 0u);
    EXPECT_EQ(prompter.promptAtlasId(), kDefaultAtlas);
    // The suit list starts with the pad's X button, before the Tab key.
    EXPECT_EQ(bindings(kAction, kActionHarmonize), std::vector<InputOrigin> { InputOrigin::Xbox360ButtonX });
    EXPECT_EQ(bindings(kState, kHeldJump), std::vector<InputOrigin> { InputOrigin::Xbox360ButtonA });
    EXPECT_STREQ(prompter.getBindingName({ kAction, kActionHarmonize, kInputStateGame }), "X");
}

TEST_F(InputPrompterSDL, AKeyPressSwitchesPromptsToTheBoundKeys)
{
    pressKey(SDL_SCANCODE_H);
    ASSERT_TRUE(deliverDeviceChange());
    EXPECT_EQ(prompter.activeDevice(), 0);
    EXPECT_EQ(prompter.deviceKind(), kInputDeviceKeyboard);
    EXPECT_EQ(bindings(kAction, kActionHarmonize), std::vector<InputOrigin> { InputOrigin::KeyboardTab });
    EXPECT_EQ(bindings(kState, kHeldJump), std::vector<InputOrigin> { InputOrigin::KeyboardSpace });
    EXPECT_EQ(bindings(kAction, kActionSelect, kInputStateMenu), std::vector<InputOrigin> { InputOrigin::KeyboardReturn });
    EXPECT_STREQ(prompter.getBindingName({ kAction, kActionHarmonize, kInputStateGame }), "Tab");
    EXPECT_STREQ(prompter.getBindingName({ kState, kHeldJump, kInputStateGame }), "Space");
    // The cursor keys have no display name: the held state names itself.
    EXPECT_STREQ(prompter.getBindingName({ kState, kHeldUp, kInputStateGame }), "Up");
    // A keyboard has no glyph atlas of its own: the last one stays.
    EXPECT_EQ(prompter.atlasId(), 0u);
}

TEST_F(InputPrompterSDL, APadChoosesTheAtlasOfItsControllerType)
{
    struct Case {
        const char* name;
        u64 atlas;
        InputOrigin suit; // Unknown: the back end has no glyph names for the type
        const char* suitName;
    };
    const Case cases[] = {
        { "Wireless Controller", kWirelessAtlas, InputOrigin::Unknown, "X" },
        { "Quern test pad", kDefaultAtlas, InputOrigin::Xbox360ButtonX, "X" },
        { "Wireless Controller", kWirelessAtlas, InputOrigin::Unknown, "X" },
        { "Xbox 360 Wired Controller", kDefaultAtlas, InputOrigin::Xbox360ButtonX, "X" },
    };
    for (const Case& c : cases) {
        const u8 device = useNewPad(c.name);
        EXPECT_EQ(prompter.activeDevice(), device) << c.name;
        EXPECT_EQ(prompter.deviceKind(), kInputDeviceGameController) << c.name;
        EXPECT_EQ(prompter.promptAtlasId(), c.atlas) << c.name;
        const std::vector<InputOrigin> expected
            = c.suit == InputOrigin::Unknown ? std::vector<InputOrigin> {} : std::vector<InputOrigin> { c.suit };
        EXPECT_EQ(bindings(kAction, kActionHarmonize), expected) << c.name;
        EXPECT_STREQ(prompter.getBindingName({ kAction, kActionHarmonize, kInputStateGame }), c.suitName) << c.name;
    }
}

TEST_F(InputPrompterSDL, NoDeviceOnlyTakesTheManager)
{
    useNewPad("Wireless Controller");
    const u8 device = prompter.activeDevice();
    prompter.onInputDeviceChanged(InputPrompter::kNoDevice, *manager);
    EXPECT_EQ(prompter.activeDevice(), device);
    EXPECT_EQ(prompter.deviceKind(), kInputDeviceGameController);
    EXPECT_EQ(prompter.promptAtlasId(), kWirelessAtlas);
}

// Controller types the SDL back end never reports, from a scripted back end.
class InputPrompterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        prepareGame(switcher, levelList);
        backEnd.devices.resize(3);
        backEnd.devices[1].kind = kInputDeviceMouse;
        backEnd.devices[2].kind = kInputDeviceGameController;
    }
    void TearDown() override { Settings::resetToDefaults(); }

    void usePad(i32 archetype, bool hasMapping = true)
    {
        backEnd.devices[2].hasMapping = hasMapping;
        backEnd.devices[2].mapping.archetype = archetype;
        prompter.onInputDeviceChanged(2, manager);
    }
    std::vector<InputOrigin> bindings(i32 kind, i32 value, i32 state)
    {
        InputOriginList list;
        list.count = 3; // whatever was there before goes
        prompter.getBindings({ kind, value, state }, list);
        return originsOf(list);
    }

    quern::testing::ScriptedInputBackEnd backEnd;
    InputManager manager { &backEnd };
    LevelList levelList;
    InputSwitcher switcher;
    InputPrompter prompter { levelList, switcher };
};

TEST_F(InputPrompterTest, ControllerTypeTable)
{
    struct Step {
        i32 archetype;
        bool hasMapping;
        u64 atlas; // after the step
    };
    // Types without an atlas of their own keep the last one.
    const Step steps[] = {
        { kArchetypeXboxOne, true, kXboxOneAtlas },
        { 5, true, kXboxOneAtlas },
        { kArchetypeWirelessB, true, kWirelessAtlas },
        { -1, true, kWirelessAtlas },
        { kArchetypeWirelessA, true, kDefaultAtlas },
        { kArchetypeWirelessB, true, kWirelessAtlas },
        { kArchetypeXboxOne, false, kDefaultAtlas },
        { kArchetypeXboxOne, true, kXboxOneAtlas },
        { kArchetypeXbox360, true, kDefaultAtlas },
    };
    for (const Step& step : steps) {
        usePad(step.archetype, step.hasMapping);
        EXPECT_EQ(prompter.promptAtlasId(), step.atlas) << step.archetype << " " << step.hasMapping;
    }
}

TEST_F(InputPrompterTest, XboxOneAtlasOutlivesNoDeviceAndAMouse)
{
    usePad(kArchetypeXboxOne);
    prompter.onInputDeviceChanged(InputPrompter::kNoDevice, manager);
    EXPECT_EQ(prompter.promptAtlasId(), kXboxOneAtlas);
    prompter.onInputDeviceChanged(1, manager);
    EXPECT_EQ(prompter.deviceKind(), kInputDeviceMouse);
    EXPECT_EQ(prompter.promptAtlasId(), kXboxOneAtlas);
}

TEST_F(InputPrompterTest, WithoutPromptAtlasesInTheLevelListTheIdIsZero)
{
    LevelList empty;
    InputPrompter bare { empty, switcher };
    EXPECT_EQ(bare.promptAtlasId(), 0u);
    bare.onInputDeviceChanged(2, manager);
    EXPECT_EQ(bare.promptAtlasId(), 0u);
}

TEST_F(InputPrompterTest, BindingsOfUnnamedOrUnboundControls)
{
    prompter.onInputDeviceChanged(0, manager);
    struct Case {
        i32 kind;
        i32 value;
        i32 state;
        const char* name;
    };
    const Case cases[] = {
        { ControlName::None, kActionHarmonize, kInputStateGame, "unknown" },
        { 3, kActionHarmonize, kInputStateGame, "unknown" },
        // Bound only to "every key", which names no key.
        { kAction, kActionAnyKey, kInputStateGame, "AnyKey" },
        { kAction, kActionLeaderboardsTop, kInputStateGame, "LeaderboardsTop" },
        { kAction, 40, kInputStateGame, "<Invalid InputAction>" },
        { kState, kHeldUp, kInputStateCutscene, "Up" },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bindings(c.kind, c.value, c.state), std::vector<InputOrigin> {}) << c.name;
        EXPECT_STREQ(prompter.getBindingName({ c.kind, c.value, c.state }), c.name);
    }
}

TEST_F(InputPrompterTest, TheControlsFormListsTheConfiguredBindings)
{
    using O = InputOrigin;
    const std::vector<O> up { O::Xbox360DPadUp, O::Xbox360LeftStickUp, O::KeyboardCursorUp, O::KeyboardW };
    const std::vector<O> suit { O::Xbox360ButtonX, O::Xbox360LeftBumper, O::Xbox360RightBumper, O::KeyboardTab,
        O::KeyboardReturn };
    for (const i32 state : { -1, 7, 1000 }) {
        EXPECT_EQ(bindings(kState, kHeldUp, state), up) << state;
        EXPECT_EQ(bindings(kAction, kActionHarmonize, state), suit) << state;
    }
    EXPECT_EQ(parseControlName("controls.suit", kInputStateGame).switcherState, -1);

    // A list the controls menu emptied lists nothing and is named by its control.
    ASSERT_TRUE(assignKey(kBindingLeft, O::Xbox360ButtonA));
    ASSERT_TRUE(assignKey(kBindingRight, O::KeyboardSpace));
    ASSERT_TRUE(assignKey(kBindingUp, O::KeyboardShiftLeft));
    EXPECT_EQ(bindingList(kBindingJump).count, 0u);
    EXPECT_EQ(bindings(kState, kHeldJump, -1), std::vector<O> {});
    EXPECT_STREQ(prompter.getBindingName({ kState, kHeldJump, -1 }), "Jump");
}

TEST_F(InputPrompterTest, OtherControlsOfTheControlsFormAreFatal)
{
    InputOriginList list;
    for (const ControlName& query : { ControlName { kAction, kActionSkip, -1 }, ControlName { kState, 5, 7 },
             ControlName { ControlName::None, 0, -1 } })
        EXPECT_DEATH(prompter.getBindings(query, list), "Unreachable code hit") << query.kind << " " << query.value;
}

TEST_F(InputPrompterTest, MappingTypesBeyondTheListAreFatal)
{
    InputOriginList list;
    for (const i32 kind : { -1, 4 }) {
        EXPECT_DEATH(prompter.getBindings({ kind, 0, kInputStateGame }, list),
            "Invalid enum value for type InputMappingType");
        EXPECT_DEATH(prompter.getBindingName({ kind, 0, kInputStateGame }),
            "Invalid enum value for type InputMappingType");
    }
}

TEST(InputOriginList, AppendCopiesOrReservesAndNeverOverflows)
{
    InputOriginList list;
    const i32 two[] = { 7, 9 };
    EXPECT_EQ(list.append(two, 2), list.origins);
    i32* reserved = list.append(nullptr, 3);
    EXPECT_EQ(reserved, list.origins + 2);
    EXPECT_EQ(list.count, 5u);
    EXPECT_EQ(list.origins[1], 9);
    EXPECT_EQ(reserved[0], 0);
    EXPECT_EQ(list.append(two, 0), list.origins + 5);
    list.append(two, 1);
    EXPECT_EQ(list.count, 6u);
    EXPECT_DEATH(list.append(nullptr, 1), "Input origin list is full");
    list.count = 0;
    EXPECT_DEATH(list.append(nullptr, 7), "Input origin list is full");
}

} // namespace
} // namespace harmonize
