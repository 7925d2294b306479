#pragma once
// The player's key bindings: six lists of input origins parsed from the Input
// settings, rebound by the controls menu and written back as setting texts;
// the prompt text variables that name the input bound to an action; and the
// control names prompt texts use to refer to an action or a held state.

#include "harmonize/SettingsTable.h"
#include "harmonize/input/InputActions.h"
#include "quern/Types.h"
#include "quern/input/InputOrigin.h"

#include <string_view>

namespace quern::input {
class InputContext;
class InputManager;
} // namespace quern::input

namespace harmonize {

using quern::u64;

enum BindingListIndex : i32 {
    kBindingLeft = 0,
    kBindingRight = 1,
    kBindingUp = 2,
    kBindingDown = 3,
    kBindingJump = 4,
    kBindingSuit = 5,
    kBindingListCount = 6,
};

struct InputOriginList {
    static constexpr i32 kCapacity = 6;

    i32 origins[kCapacity] = {};
    u64 count = 0;

    bool contains(quern::input::InputOrigin origin) const;
    // Copies n origins (or, from null, only reserves n zeroed slots) after the
    // last one; the first new slot. More than the capacity holds is fatal.
    i32* append(const i32* source, u64 n);
    quern::input::InputOrigin at(u64 index) const { return static_cast<quern::input::InputOrigin>(origins[index]); }
};

// The process-wide lists, indexed by BindingListIndex.
InputOriginList& bindingList(i32 index);

// The device kind of an input event type: keys 1, mouse 2, controller 3,
// the other input types 4, anything else 0.
i32 inputDeviceKindOfEvent(quern::u16 eventType);

// Fills the six lists from the record's texts; a text that is empty or names
// no origin gives the list's built-in defaults.
void parseBindings(const InputSettings& input);
// Adds the origin to a list, taking it out of every other list. False, with
// nothing changed, when the list is full.
bool assignKey(i32 listIndex, quern::input::InputOrigin origin);
// The list's origin names joined by blanks, interned in the settings' strings.
const char* bindingText(const InputOriginList& list);
// Writes the six lists back into the record's texts.
void getBindingTexts(InputSettings& input);

// Sets the prompt variable of each prompt action the context binds to an
// input of the device's kind, to the name of that input on the device.
void updatePromptVariables(quern::u8 device, quern::input::InputManager& manager,
    const quern::input::InputContext& context);
// The eight prompt variables' names, and the action each one shows.
struct PromptVariable {
    const char* name;
    i32 action;
};
inline constexpr i32 kPromptVariableCount = 8;
extern const PromptVariable kPromptVariables[kPromptVariableCount];

struct ControlName {
    enum Kind : i32 { None = 0, Action = 1, State = 2 };

    i32 kind = None;
    i32 value = 0;
    i32 switcherState = -1; // -1 for the "controls." form
};

// "controls.<name>" (switcher state -1), "<prefix>.<name>" with a switcher
// state prefix, or a bare name in `defaultState`.
ControlName parseControlName(std::string_view text, i32 defaultState);

} // namespace harmonize
