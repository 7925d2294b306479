#pragma once
// A level world with the save-game system and the app event queue it posts
// to, its other systems left out unless a test puts them into the context.

#include "harmonize/Scenario.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/SaveGameSystem.h"
#include "harmonize/utils/AppEventQueue.h"

namespace harmonize::testing {

inline constexpr quern::u64 kLevelAssetId = 0x6c6576656c31ull;

// Takes every event out of the queue; how many of them were SaveProgress.
inline int takeSaveRequests(AppEventQueue& queue)
{
    int saves = 0;
    for (i32 type; (type = queue.frontStoredType()) >= 0; queue.drop())
        saves += type == storedTypeOf(AppEventType::SaveProgress);
    return saves;
}

struct SaveGameLevel {
    explicit SaveGameLevel(quern::io::HomeFileSystem* files = nullptr,
        u64 eventCapacity = AppEventQueueStorage::kInitialCapacity, u64 capacity = 32)
        : events(nullptr, eventCapacity)
        , scene(capacity)
    {
        context.services.appEventQueue = &events.queue;
        context.levelAssetId = kLevelAssetId;
        system = new SaveGameSystem(context, files);
        context.saveGame = system;
        scene.addSystem(system);
    }

    EntityHandle addPlayer(f32 x = 0.0f)
    {
        const EntityHandle player = scene.add("player", { "Transform", "PlayerMovement" });
        scene.set(player, "Transform", "position", { x, 0.0, 0.0 });
        return player;
    }
    Transform& transform(EntityHandle entity) { return scene.get<Transform>(entity); }

    int takeSaveRequests() { return testing::takeSaveRequests(events.queue); }

    AppEventQueueStorage events;
    AppContext context;
    Scenario scene;
    SaveGameSystem* system = nullptr; // owned by the world
};

} // namespace harmonize::testing
