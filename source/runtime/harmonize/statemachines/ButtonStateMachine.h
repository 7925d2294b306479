#pragma once
// The jump button as the player's rules see it: whether it went down or up
// in this tick, or stays where it was.
#include "harmonize/statemachines/StateMachine.h"

namespace harmonize {

enum ButtonState : quern::i32 {
    Held = 0,
    Up = 1,
    Released = 2, // went up in this tick
    Pressed = 3, // went down in this tick
};

// One tick of the button. An invalid state is fatal.
void updateButton(StateMachine& button, bool pressed);

} // namespace harmonize
