#include "harmonize/input/InputReplayFiles.h"

#include "harmonize/Settings.h"
#include "harmonize/input/MemoryByteSink.h"
#include "quern/debug/Log.h"
#include "quern/entity/InputRecordingSystem.h"
#include "quern/io/FilePath.h"
#include "quern/io/HomeFileSystem.h"
#include "quern/serialize/BinaryPODToken.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <ostream>

namespace harmonize {
namespace {

// The recording setUpReplay last prepared, and the name of its level; the
// recording itself belongs to its world's recording system.
quern::input::InputReplay* g_recording = nullptr;
char g_levelName[256] = {};
char g_recordedLevelName[256] = {};
std::unique_ptr<quern::io::HomeFileSystem> g_replayFiles;

void copyName(char (&target)[256], const char* name)
{
    if (std::snprintf(target, sizeof target, "%s", name ? name : "") < 0)
        target[0] = '\0';
}

void startPlayback(quern::entity::InputRecordingSystem& recording, const char* fileName)
{
    quern::entity::loadInputRecording(recording.replay, fileName, *g_replayFiles);
    recording.mode = quern::entity::InputRecordingSystem::Play;
    recording.player.reset();
}

} // namespace

// Names longer than the buffer are cut, never written past it.
void replayTestFileName(char (&name)[256], const char* directory, const char* levelName)
{
    const int length = directory && directory[0] != '\0'
        ? std::snprintf(name, sizeof name, "%s/%s.replay", directory, levelName)
        : std::snprintf(name, sizeof name, "%s.replay", levelName);
    if (length < 0)
        name[0] = '\0';
}

void replaySaveFileName(char (&name)[256], const char* levelName, quern::i64 localTime)
{
    const std::time_t time = static_cast<std::time_t>(localTime);
    std::tm local {};
    char stamp[128] = {};
    if (localtime_r(&time, &local))
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    if (std::snprintf(name, sizeof name, "%s-%s.replay", levelName, stamp) < 0)
        name[0] = '\0';
}

const char* savedReplayLevelName() { return g_recording ? g_recordedLevelName : ""; }

void setUpReplay(quern::entity::InputRecordingSystem& recording, const char* worldAssetName)
{
    const ReplaySettings& replay = Settings::Replay;
    if (!replay.enabled)
        return;
    copyName(g_levelName, quern::io::fileNamePart(worldAssetName ? worldAssetName : ""));
    recording.recordingName = g_levelName;
    recording.recordingUser = nullptr;
    recording.checksums = replay.verify;
    recording.recordingCallback = onRecordingStarted;

    g_replayFiles = std::make_unique<quern::io::HomeFileSystem>();
    g_replayFiles->setDirectory(quern::io::getHomeFileSystem().directory());
    g_replayFiles->setAcceptExistingPaths(true);
    g_replayFiles->setQuiet(true);

    if (replay.file && replay.file[0] != '\0')
        startPlayback(recording, replay.file);
    if (replay.runTests) {
        char name[256];
        replayTestFileName(name, replay.directory, g_levelName);
        if (g_replayFiles->fileSize(name).code != quern::io::UserStorageError::NoError) {
            QUERN_LOG(2) << "Replay file '" << name << "' not found" << std::endl;
            return;
        }
        startPlayback(recording, name);
        QUERN_LOG(3) << "Using replay file " << name << std::endl;
    }
}

void onRecordingStarted(quern::input::InputReplay& replay, const char* levelName, void*)
{
    g_recording = &replay;
    copyName(g_recordedLevelName, levelName);
}

void saveReplay()
{
    if (!g_recording || g_recording->frameCount() == 0)
        return;
    MemoryByteSink sink;
    quern::serialize::BinaryPODToken token;
    g_recording->write(sink, token);
    quern::io::HomeFileSystem& files = quern::io::getHomeFileSystem();
    char name[256];
    replaySaveFileName(name, g_recordedLevelName, static_cast<quern::i64>(std::time(nullptr)));
    // Two saves within one second (F6 twice, a reload and then the shutdown)
    // must not replace each other: later ones get a number.
    char stem[256];
    if (std::snprintf(stem, sizeof stem, "%.*s", static_cast<int>(std::strlen(name) - std::strlen(".replay")), name) < 0)
        return;
    for (int copy = 2; copy < 100 && files.fileSize(name).code == quern::io::UserStorageError::NoError; ++copy)
        if (std::snprintf(name, sizeof name, "%s-%d.replay", stem, copy) < 0)
            return;
    QUERN_LOG(3) << "Save replay " << name << std::endl;
    files.write(name, sink.bytes.c_str(), sink.bytes.length());
}

void shutdownReplay()
{
    g_replayFiles.reset();
    if (Settings::Replay.persistent)
        saveReplay();
    // The recording goes with its level; no later save may read it.
    g_recording = nullptr;
}

} // namespace harmonize
