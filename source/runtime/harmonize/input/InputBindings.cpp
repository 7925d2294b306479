#include "harmonize/input/InputBindings.h"

#include "harmonize/Settings.h"
#include "harmonize/utils/TextVariables.h"
#include "quern/input/InputBackEnd.h"
#include "quern/input/InputContext.h"
#include "quern/input/InputManager.h"
#include "quern/platform/ErrorReporting.h"

#include <string>

namespace harmonize {
namespace {

using quern::input::InputOrigin;

InputOriginList g_lists[kBindingListCount];

// Controller entries first, as the controls menu shows them.
const char* const kDefaultLeft[] = { "Xbox360DPadLeft", "Xbox360LeftStickLeft", "KeyboardCursorLeft", "KeyboardA" };
const char* const kDefaultRight[]
    = { "Xbox360DPadRight", "Xbox360LeftStickRight", "KeyboardCursorRight", "KeyboardD" };
const char* const kDefaultUp[] = { "Xbox360DPadUp", "Xbox360LeftStickUp", "KeyboardCursorUp", "KeyboardW" };
const char* const kDefaultDown[] = { "Xbox360DPadDown", "Xbox360LeftStickDown", "KeyboardCursorDown", "KeyboardS" };
const char* const kDefaultJump[] = { "Xbox360ButtonA", "KeyboardSpace", "KeyboardShiftLeft" };
const char* const kDefaultSuit[]
    = { "Xbox360ButtonX", "Xbox360LeftBumper", "Xbox360RightBumper", "KeyboardTab", "KeyboardReturn" };

struct DefaultList {
    const char* const* names;
    u64 count;
};
const DefaultList kDefaults[kBindingListCount] = {
    { kDefaultLeft, std::size(kDefaultLeft) },
    { kDefaultRight, std::size(kDefaultRight) },
    { kDefaultUp, std::size(kDefaultUp) },
    { kDefaultDown, std::size(kDefaultDown) },
    { kDefaultJump, std::size(kDefaultJump) },
    { kDefaultSuit, std::size(kDefaultSuit) },
};

const char* const& settingText(const InputSettings& input, i32 list)
{
    const char* const* texts[kBindingListCount]
        = { &input.left, &input.right, &input.up, &input.down, &input.jump, &input.suit };
    return *texts[list];
}

void parseList(InputOriginList& list, const char* text, const DefaultList& defaults)
{
    list.count = 0;
    if (text && text[0] != '\0') {
        InputOrigin origins[InputOriginList::kCapacity];
        const i32 found = quern::input::parseInputOrigins(text, origins, InputOriginList::kCapacity);
        for (i32 i = 0; i < found; ++i)
            list.origins[list.count++] = static_cast<i32>(origins[i]);
    }
    if (list.count != 0)
        return;
    for (u64 i = 0; i < defaults.count; ++i) {
        InputOrigin origin;
        quern::input::findInputOrigin(defaults.names[i], origin);
        list.origins[list.count++] = static_cast<i32>(origin);
    }
}

void removeOrigin(InputOriginList& list, InputOrigin origin)
{
    u64 kept = 0;
    for (u64 i = 0; i < list.count; ++i)
        if (list.at(i) != origin)
            list.origins[kept++] = list.origins[i];
    list.count = kept;
}

} // namespace

const PromptVariable kPromptVariables[kPromptVariableCount] = {
    { "suit", kActionHarmonize },
    { "skip", kActionSkip },
    { "proceed", kActionProceedCutscene },
    { "retry", kActionRepeatLevel },
    { "back", kActionBack },
    { "leaderboards_open", kActionLeaderboardsOpen },
    { "leaderboards_switch", kActionLeaderboardsSwitch },
    { "leaderboards_top", kActionLeaderboardsTop },
};

bool InputOriginList::contains(InputOrigin origin) const
{
    for (u64 i = 0; i < count; ++i)
        if (at(i) == origin)
            return true;
    return false;
}

i32* InputOriginList::append(const i32* source, u64 n)
{
    if (n > kCapacity - count)
        QUERN_FATAL("Input origin list is full");
    i32* first = origins + count;
    for (u64 i = 0; i < n; ++i)
        first[i] = source ? source[i] : 0;
    count += n;
    return first;
}

InputOriginList& bindingList(i32 index) { return g_lists[index]; }

i32 inputDeviceKindOfEvent(quern::u16 eventType)
{
    if (eventType <= quern::input::KeyUp)
        return quern::input::kInputDeviceKeyboard;
    if (eventType <= quern::input::MouseWheel)
        return quern::input::kInputDeviceMouse;
    if (eventType <= quern::input::ControllerAxis)
        return quern::input::kInputDeviceGameController;
    if (eventType <= quern::input::kLastInputEventType)
        return 4;
    return quern::input::kInputDeviceNone;
}

void parseBindings(const InputSettings& input)
{
    for (i32 i = 0; i < kBindingListCount; ++i)
        parseList(g_lists[i], settingText(input, i), kDefaults[i]);
}

bool assignKey(i32 listIndex, InputOrigin origin)
{
    InputOriginList& list = g_lists[listIndex];
    if (list.contains(origin))
        return true;
    if (list.count >= InputOriginList::kCapacity)
        return false;
    for (i32 i = 0; i < kBindingListCount; ++i)
        if (i != listIndex)
            removeOrigin(g_lists[i], origin);
    list.origins[list.count++] = static_cast<i32>(origin);
    return true;
}

const char* bindingText(const InputOriginList& list)
{
    std::string text;
    for (u64 i = 0; i < list.count; ++i) {
        if (i != 0)
            text += ' ';
        text += quern::input::toString(list.at(i));
    }
    return Settings::internText(text.c_str());
}

void getBindingTexts(InputSettings& input)
{
    const char** texts[kBindingListCount]
        = { &input.left, &input.right, &input.up, &input.down, &input.jump, &input.suit };
    for (i32 i = 0; i < kBindingListCount; ++i)
        *texts[i] = bindingText(g_lists[i]);
}

void updatePromptVariables(quern::u8 device, quern::input::InputManager& manager,
    const quern::input::InputContext& context)
{
    quern::input::InputBackEnd* backEnd = manager.getBackEnd();
    if (!backEnd)
        return;
    quern::input::InputDeviceInfo info;
    backEnd->getDeviceInfo(device, info);
    const quern::containers::Array& bindings = context.actionBindings();
    for (u64 i = 0; i < bindings.count(); ++i) {
        const auto& binding = bindings.at<quern::input::ActionBinding>(i);
        if (binding.code == -1 || inputDeviceKindOfEvent(static_cast<quern::u16>(binding.eventType)) != info.kind)
            continue;
        for (const PromptVariable& variable : kPromptVariables) {
            if (variable.action != binding.action)
                continue;
            const InputOrigin origin
                = backEnd->getInputOrigin(device, static_cast<quern::u16>(binding.eventType), binding.code);
            TextVariables::set(variable.name, quern::input::toString(origin));
        }
    }
}

ControlName parseControlName(std::string_view text, i32 defaultState)
{
    struct Prefix {
        std::string_view text;
        i32 state;
    };
    static constexpr Prefix kPrefixes[] = { { "game.", kInputStateGame }, { "cutscene.", kInputStateCutscene },
        { "loading.", kInputStateLoadingScreen }, { "menu.", kInputStateMenu } };
    static constexpr std::pair<std::string_view, i32> kStates[]
        = { { "jump", kHeldJump }, { "up", kHeldUp }, { "down", kHeldDown }, { "left", kHeldLeft },
              { "right", kHeldRight } };

    ControlName result;
    constexpr std::string_view kControls = "controls.";
    if (text.starts_with(kControls)) {
        result.switcherState = -1;
        text.remove_prefix(kControls.size());
    } else {
        result.switcherState = defaultState;
        for (const Prefix& prefix : kPrefixes) {
            if (text.starts_with(prefix.text)) {
                text.remove_prefix(prefix.text.size());
                result.switcherState = prefix.state;
                break;
            }
        }
    }
    for (const PromptVariable& variable : kPromptVariables)
        if (text == variable.name)
            result = { ControlName::Action, variable.action, result.switcherState };
    for (const auto& [name, state] : kStates)
        if (text == name)
            result = { ControlName::State, state, result.switcherState };
    return result;
}

} // namespace harmonize
