#pragma once
// Tells on-screen prompts which input the player has to press: the input bound
// to an action or a held state in one input state's context, on the device the
// player last used, as an input origin (the region name of its glyph in the
// prompt atlas) or as a display name; and which prompt atlas holds the glyphs
// of that device's controller type.
//
// Main thread only: the App's event dispatch updates it between world updates
// and the HUD reads it while a frame is prepared.

#include "harmonize/input/InputActions.h"
#include "harmonize/input/InputBindings.h"
#include "quern/Types.h"
#include "quern/input/InputEvent.h"

#include <string>

namespace quern::input {
class InputContext;
class InputManager;
} // namespace quern::input

namespace harmonize {

class InputSwitcher;
class LevelList;

class InputPrompter {
public:
    static constexpr u8 kNoDevice = 255;

    // Until a device reports in, prompts show the generic controller glyphs.
    InputPrompter(const LevelList& levelList, const InputSwitcher& switcher);
    InputPrompter(const InputPrompter&) = delete;
    InputPrompter& operator=(const InputPrompter&) = delete;

    // The player moved to `device`: it becomes the active device, with its
    // kind, and a controller picks the prompt atlas of its type. kNoDevice
    // only keeps the manager.
    void onInputDeviceChanged(u8 device, quern::input::InputManager& manager);

    // Empties `out`, then lists the origins bound to the query's control. A
    // switcher state outside the input states asks the configured key
    // bindings (for a held state or the suit action; anything else is fatal).
    void getBindings(const ControlName& query, InputOriginList& out) const;
    // The display name of the input bound to the query's control, or the
    // control's own name when nothing is bound; "unknown" for no control.
    const char* getBindingName(const ControlName& query) const;
    // That name as prompts write it where no glyph shows: letters a to z
    // upper-cased.
    std::string promptName(const ControlName& query) const;

    // The asset id of the prompt atlas of the current controller type; the
    // default prompt atlas when none was chosen.
    u64 promptAtlasId() const;

    i32 deviceKind() const { return m_deviceKind; }
    u8 activeDevice() const { return m_activeDevice; }
    // The input state whose context prompts are shown for; the App sets it
    // when the input context changes.
    i32 promptState() const { return m_promptState; }
    void setPromptState(i32 state) { m_promptState = state; }
    // 0 until a controller chose one.
    u64 atlasId() const { return m_atlasId; }

private:
    struct Binding {
        quern::u16 eventType;
        i32 code;
    };
    // The first binding of the control to an input of the active device's
    // kind; false when there is none.
    bool findBinding(const ControlName& query, const quern::input::InputContext& context, Binding& found) const;
    quern::input::InputOrigin originOf(const Binding& binding) const;
    const quern::input::InputContext* contextOf(i32 switcherState) const;

    const LevelList& m_levelList;
    const InputSwitcher& m_switcher;
    i32 m_deviceKind = quern::input::kInputDeviceGameController;
    u8 m_activeDevice = kNoDevice;
    i32 m_promptState = kInputStateGame;
    quern::input::InputManager* m_manager = nullptr;
    u64 m_atlasId = 0;
};

} // namespace harmonize
