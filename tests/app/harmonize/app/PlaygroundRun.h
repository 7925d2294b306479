#pragma once
// Driving the App through the playground game frame by frame: the frames of
// the level load, the app events of each frame, the entities by name.

#include "harmonize/app/App.h"
#include "quern/entity/World.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <cstring>
#include <thread>
#include <vector>

namespace harmonize::testing {

inline quern::entity::EntityHandle entityNamed(quern::entity::World& world, const char* name)
{
    for (quern::u64 i = 0; i < world.getSlotCount(); ++i) {
        const auto e = quern::entity::EntityHandle::make(static_cast<quern::u16>(i), world.getGeneration(i));
        if (std::strcmp(world.getEntityName(e), name) == 0)
            return e;
    }
    ADD_FAILURE() << "no entity " << name;
    return {};
}

// Whether a live entity of that name is in the world.
inline bool entityExists(quern::entity::World& world, const char* name)
{
    for (quern::u64 i = 0; i < world.getSlotCount(); ++i) {
        const auto e = quern::entity::EntityHandle::make(static_cast<quern::u16>(i), world.getGeneration(i));
        if (world.isValid(e) && std::strcmp(world.getEntityName(e), name) == 0)
            return true;
    }
    return false;
}

// The replays a run recorded into `folder`: every ".replay" file but `played`.
inline std::vector<std::filesystem::path> recordedReplays(const std::filesystem::path& folder, const char* played)
{
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.path().extension() == ".replay" && entry.path().filename() != played)
            found.push_back(entry.path());
    return found;
}

// The first tick at or after `from` whose sample matches; -1 when none does.
template <class Sample, class Match> quern::i32 firstTick(const std::vector<Sample>& samples, quern::i32 from, Match&& match)
{
    for (const Sample& s : samples)
        if (s.tick >= from && match(s))
            return s.tick;
    return -1;
}

// The frame's app events; a menu request waits for the menu level, which
// this game lacks, and is dropped.
inline void dropAppEvents(App& app)
{
    AppEventQueue& queue = app.appEventQueue();
    for (quern::i32 t = queue.frontStoredType(); t >= 0; t = queue.frontStoredType()) {
        if (appEventTypeOf(static_cast<quern::u16>(t)) == AppEventType::ShowMenu)
            queue.drop();
        else if (!dispatchAppEvent(static_cast<quern::u16>(t), queue, app))
            break;
    }
}

// Runs frames `step` counter ticks apart until the level is in; false, as a
// test failure, when it never comes. With threading the level loads on
// workers, in real time.
inline bool runUntilLevelLoads(App& app, quern::i64& time, quern::i64 step, bool threading)
{
    for (quern::i32 i = 0; i < 5000 && app.currentLevelIndex() < 0; ++i) {
        time += step;
        app.runFrame(time);
        dropAppEvents(app);
        if (threading)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (app.currentLevelIndex() >= 0)
        return true;
    ADD_FAILURE() << "the level did not load";
    return false;
}

} // namespace harmonize::testing
