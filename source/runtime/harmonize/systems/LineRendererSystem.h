#pragma once
// World-space polylines, one per entity slot, in one polyline store that
// other systems write points into (lightning bolts, bubble tails, alarm
// beams). The store lives from world start to detach; the quick save keeps a
// packed copy of the lines that have points.

#include "quern/entity/System.h"
#include "quern/visuals/PolylineStore.h"

namespace harmonize {

struct AppContext;

class LineRendererSystem final : public quern::entity::System {
public:
    explicit LineRendererSystem(AppContext& context);

    void detach(quern::memory::Allocator* allocator) override;
    // One cleared line per slot the world can hold.
    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void describe(quern::entity::SystemInfo* info) override;

    // The quick save's copy: taken when a quick save is made, put back when
    // it is restored.
    void saveSnapshot();
    void restoreSnapshot();

    quern::visuals::PolylineStore& store() { return m_store; }
    const quern::visuals::PolylineSnapshot& snapshot() const { return m_snapshot; }

private:
    AppContext* m_context;
    quern::visuals::PolylineStore m_store;
    quern::visuals::PolylineSnapshot m_snapshot;
};

} // namespace harmonize
