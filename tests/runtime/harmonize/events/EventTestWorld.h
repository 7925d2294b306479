#pragma once
// A small level world with one game event queue, for the dispatcher's tests:
// events are pushed typed and the queue is drained as a system's tick does.

#include "harmonize/Scenario.h"
#include "harmonize/events/GameEvents.h"
#include "harmonize/systems/AppContext.h"

#include <gtest/gtest.h>

#include <cstring>

namespace harmonize::testing {

struct EventTestWorld {
    EventTestWorld() { queue.reserve(1024); }

    template <class Payload> void push(GameEventType type, const Payload& payload)
    {
        void* place = queue.push(static_cast<u16>(type), sizeof(Payload));
        ASSERT_NE(place, nullptr);
        std::memcpy(place, &payload, sizeof(Payload));
    }
    void pushPair(GameEventType type, EntityHandle a, EntityHandle b) { push(type, PairEvent { a.value, b.value }); }
    void dispatch() { dispatchGameEvents(queue, scene.world(), context); }

    Scenario scene;
    AppContext context;
    GameEventQueue queue;
};

} // namespace harmonize::testing
