#pragma once
// Speech bubbles: every fixed tick each bubble (an entity with an enabled
// SpeechBubble) is kept beside the entity that speaks, lagging softly behind
// it, or held at an anchor entity; its tail line runs from the bubble's root
// to its body. Opening and closing pop the root's scale as a coroutine, and a
// closed bubble is destroyed with its whole subtree. Paused worlds keep their
// bubbles still.

#include "quern/entity/EntityHandle.h"
#include "quern/entity/System.h"

namespace harmonize {

struct AppContext;

class BubbleSystem final : public quern::entity::System {
public:
    explicit BubbleSystem(AppContext& context);

    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;

    // Shows the bubble's subtree and pops it open. A bubble opened with
    // `stayOpen` stays until closeBubble; any other closes itself after its
    // display time.
    void openBubble(bool stayOpen, quern::entity::EntityHandle bubble, quern::entity::World& world);
    // Shrinks the bubble away and destroys it with its subtree.
    void closeBubble(quern::entity::EntityHandle bubble);

private:
    AppContext* m_context;
};

} // namespace harmonize
