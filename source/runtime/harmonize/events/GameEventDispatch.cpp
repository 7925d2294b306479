#include "harmonize/events/GameEventRules.h"
#include "harmonize/events/GameEvents.h"
#include "harmonize/utils/FrameStatistics.h"

#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace harmonize {
namespace {

u64 payloadSizeOf(i32 type)
{
    return type == static_cast<i32>(GameEventType::RaceChanged) ? sizeof(RaceChangedEvent) : sizeof(PairEvent);
}

} // namespace

void dispatchGameEvents(GameEventQueue& queue, quern::entity::World& world, AppContext& context)
{
    // The rules may push more events onto this queue; the loop reads the queue
    // afresh each time, so those are dispatched in this same drain.
    while (quern::containers::EventHeader* record = queue.front()) {
        const i32 type = static_cast<quern::i16>(record->type);
        currentFrameStatistics().gameEvents.fetch_add(1, std::memory_order_relaxed);

        // Copied before the pop: the record's bytes may be overwritten by the
        // first push a rule makes. A record shorter than its type's payload
        // reads as zeros past its end rather than as its neighbour's bytes.
        GameEventPayload payload {};
        std::memcpy(&payload, GameEventQueue::payload(record), std::min<u64>(record->payloadSize, payloadSizeOf(type)));
        queue.pop();

        if (type < 0 || type >= kGameEventTypeCount)
            QUERN_FATAL("Invalid event type");
        runGameEventRules(static_cast<GameEventType>(type), payload, world, context);
    }
}

} // namespace harmonize
