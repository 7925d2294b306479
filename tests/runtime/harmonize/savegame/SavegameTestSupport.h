#pragma once
// Shared by the savegame tests and the writer helper: level lists made by the
// content tool from their text, and the savegame events handled the way the
// app-event dispatcher handles them.

#include "harmonize/levels/LevelList.h"
#include "harmonize/savegame/Savegame.h"
#include "harmonize/utils/AppEventQueue.h"

#include "LevelListWriter.h"

#include "quern/debug/Log.h"
#include "quern/io/AsyncUserStorage.h"

#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace harmonize::test {

// False, with the reason, when the tool or the reader refuses the text.
inline bool buildLevels(const std::string& source, LevelList& levels, std::string& error)
{
    std::vector<u8> image;
    return quern::assetbuild::buildLevelList(source, {}, image, error)
        && levels.parse(image.data(), image.size(), &error);
}

// The file image of a record.
inline std::vector<u8> imageOf(const ProgressRecord& record)
{
    std::vector<u8> image(kSavegameImageSize);
    Savegame::scrambleImage(record, image.data());
    return image;
}

struct HandledEvent {
    AppEventType type = AppEventType::Invalid;
    bool succeeded = false;
    std::string errorText;
};

// Waits (up to ten seconds) for an event to arrive; false when none did.
inline bool waitForEvent(AppEventQueue& queue)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (queue.frontStoredType() < 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Takes the next savegame event and handles it as the dispatcher does: the
// savegame handles a success; a failure is logged and ends in status None;
// then, with status None or Loaded, the level table is refreshed. Invalid
// when no savegame event came.
inline HandledEvent dispatchSavegameEvent(
    Savegame& savegame, quern::io::AsyncUserStorage& storage, AppEventQueue& queue, const LevelList& levels)
{
    HandledEvent handled;
    if (!waitForEvent(queue))
        return handled;
    const AppEventType type = appEventTypeOf(static_cast<u16>(queue.frontStoredType()));
    SavegameResultEvent event {};
    if (!queue.popByType(event, storedTypeOf(type)))
        return handled;
    handled.type = type;
    handled.succeeded = event.succeeded != 0;
    handled.errorText = event.errorText ? event.errorText : "";
    savegame.handleStorageResult(type, event, storage, queue, levels);
    return handled;
}

} // namespace harmonize::test
