#pragma once
// Naming, loading and saving of input replay files around the engine's
// input-recording system. Replays are read and written in the user directory,
// where saved replays are found again; an absolute name of an existing file is
// used as it is.

#include "quern/Types.h"

namespace quern::entity {
class InputRecordingSystem;
}
namespace quern::input {
class InputReplay;
}

namespace harmonize {

// At a level start: the level's name (the file-name part of its world asset's
// name), the recording callbacks, and playback of Replay.file or, for test
// runs, of the level's own replay file when one exists.
void setUpReplay(quern::entity::InputRecordingSystem& recording, const char* worldAssetName);
// The recording system's start callback: remembers the live recording.
void onRecordingStarted(quern::input::InputReplay& replay, const char* levelName, void* user);
// Writes the current recording, as it stands now, to "<level>-<time>.replay"
// in the user directory. Nothing without a recorded frame.
void saveReplay();
// At the switch to another world and at shutdown, while the level's world
// still holds its recording: saves it when Replay.persistent is set, then
// forgets it.
void shutdownReplay();

// The file a test run plays for a level: "<directory>/<level>.replay", or
// "<level>.replay" without a directory.
void replayTestFileName(char (&name)[256], const char* directory, const char* levelName);
// The name saveReplay gives a replay taken at `localTime` (a time_t).
void replaySaveFileName(char (&name)[256], const char* levelName, quern::i64 localTime);
// The level name of the recording being kept, "" when none.
const char* savedReplayLevelName();

} // namespace harmonize
