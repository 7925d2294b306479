#pragma once
// Lightning bolts: each bolt is a polyline of the line renderer from its
// entity to a target entity. Every frame, while rendering is on, its inner
// points jump sideways by a random amount up to the bolt's amplitude; with
// rendering off the bolts keep their last shape.

#include "quern/entity/System.h"

namespace harmonize {

struct AppContext;

class LightningJitterSystem final : public quern::entity::System {
public:
    static constexpr quern::u64 kRandomSeed = 42;

    explicit LightningJitterSystem(AppContext& context);

    void entitiesCreated(const quern::entity::EntityHandle* handles, quern::u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void entitiesDestroyed(const quern::entity::EntityHandle* handles, quern::u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;

    quern::u64 randomState() const { return m_random; }

private:
    // Gives the line of each handed slot the point count countOf(index)
    // names; a negative count leaves the line as it is.
    template <class CountOf>
    void setLineCounts(const quern::entity::EntityHandle* handles, quern::u64 count, CountOf&& countOf);

    AppContext* m_context;
    // One sequence for the system's life: never reset, not even by a new level.
    quern::u64 m_random = kRandomSeed;
};

} // namespace harmonize
