#include "harmonize/statemachines/ButtonStateMachine.h"

#include "quern/platform/ErrorReporting.h"

namespace harmonize {

void updateButton(StateMachine& button, bool pressed)
{
    switch (button[kMachineState]) {
    case Held:
    case Pressed:
        transition(button, pressed ? Held : Released);
        return;
    case Up:
    case Released:
        transition(button, pressed ? Pressed : Up);
        return;
    default:
        QUERN_FATAL("Unreachable code hit");
    }
}

} // namespace harmonize
