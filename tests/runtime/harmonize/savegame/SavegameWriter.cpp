// Records finishes and writes the savegame after each one, through the real
// storage worker, until it is killed: the kill test's subject. The folder to
// write into is the one argument.

#include "harmonize/savegame/Savegame.h"

#include "quern/io/HomeFileSystem.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/threads/TaskQueuePool.h"

#include "SavegameTestSupport.h"
#include "support/harmonize/RecordingPlatformServices.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    using namespace harmonize;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    quern::io::HomeFileSystem fileSystem;
    fileSystem.setDirectory(argv[1]);
    fileSystem.setQuiet(true);
    quern::threads::startBackgroundWorker();
    quern::io::AsyncUserStorage storage;
    storage.init(&fileSystem, quern::threads::getBackgroundPool());

    LevelList levels;
    std::string error;
    if (!test::buildLevels("world 0 0\nworld 0 1\nworld 0 2\n"
                           "level 0 id 11 name One\nlevel 1 id 12 name Two\nlevel 2 id 13 name Three\n",
            levels, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    AppEventQueueStorage events;
    test::RecordingPlatformServices platform;
    Savegame savegame;
    savegame.status = SavegameStatus::Loaded;
    for (i32 i = 0;; ++i) {
        const LevelResult result { i % 7, i, i % 16, 15, 0 };
        savegame.onLevelFinished(i % 3, (i + 1) % 3, result, levels, platform, storage, events.queue);
        const test::HandledEvent stored = test::dispatchSavegameEvent(savegame, storage, events.queue, levels);
        if (stored.type != AppEventType::SavegameStored || !stored.succeeded) {
            std::fprintf(stderr, "write failed: %s\n", stored.errorText.c_str());
            return 1;
        }
    }
}
