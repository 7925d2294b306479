#pragma once
// Replay scripts: input replays written by hand as a list of stretches of
// fixed ticks, each with what the game's input context holds during it.
//
//   <ticks> [left] [right] [up] [down] [jump] [harmonize] [stick <x> <y>]
//
// One stretch a line, in play order; '#' starts a comment. Every line gives
// the whole input of its ticks: states not named are released, and without
// `stick` the stick is centred. `harmonize` presses the action once, in the
// first tick of the line. `stick` deflects the controller stick by x and y
// (-1 to 1; x to the right, y downwards, as a controller reports them).
// After the last line everything is released.
//
// The replay is what the engine's recorder would have made of a player doing
// exactly that, so the game plays it like any recorded replay.

#include "quern/Types.h"

#include <string>

namespace quern::input {
class InputReplay;
}

namespace quern::replaybuild {

// A stretch holds at most this many ticks (more than four hours at 100 ticks a
// second), a script at most this many in all, so every tick fits a frame number.
inline constexpr i64 kMaxTicksPerLine = 1 << 24;
inline constexpr i64 kMaxScriptTicks = 0x7ffffff0;

// Appends the script's frames to an empty `replay`. False with a message
// naming the line for a tick count that is no number from 1 to
// kMaxTicksPerLine, an unknown or repeated word, a stick without two numbers
// from -1 to 1, and a script longer than kMaxScriptTicks ticks.
bool readReplayScript(const std::string& text, input::InputReplay& replay, std::string& error);

// Reads the script file and writes its replay to `outPath`, in the binary form
// the game loads. False with a message naming the script (and its line).
bool buildReplayFile(const std::string& scriptPath, const std::string& outPath, std::string& error);

} // namespace quern::replaybuild
