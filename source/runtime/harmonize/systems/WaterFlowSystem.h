#pragma once
// Water jets pour from their entity along its local -Y axis until something
// solid stops them. Every fixed tick each jet is measured with a ray, grows
// towards that length at its growth speed (or is cut back at once), stretches
// its body between the source and the end, keeps its tip at the end, drops a
// splash where a sudden cut stops it, and kills a player of the opposite race
// that it touches.
//
// The jet steps run as one task, in parallel when threading is on. A step
// writes only its own jet, body, tip and job; everything that creates
// entities, draws gizmos or kills comes after the task on the calling thread,
// so the outcome does not depend on how the jets were spread over workers.

#include "harmonize/components/Components.h"

#include "quern/containers/Array.h"
#include "quern/entity/System.h"
#include "quern/math/Vector3.h"

#include <atomic>
#include <vector>

namespace harmonize {

struct AppContext;
class TaskDispatcher;

// One jet's work in a tick and what it leaves for the calling thread.
struct WaterFlowJob {
    EntityHandle jet;
    EntityHandle splashPrefab; // 0: no splash this tick
    Vec2f splashPosition;
    Vec2f direction;
    u8 cut; // cut by more than the splash distance this tick
    quern::math::Vector3 cutFrom; // the gizmo line of the cut
    quern::math::Vector3 cutTo;
};

class WaterFlowSystem final : public quern::entity::System {
public:
    static constexpr quern::u64 kSetUpRandomSeed = 2345231;
    // A jet cut back by more than this in one tick splashes.
    static constexpr f32 kSplashCut = 10.0f;
    static constexpr quern::u64 kHitListRoom = 16;
    static constexpr f32 kBodyDepth = 3.0f;

    explicit WaterFlowSystem(AppContext& context);
    ~WaterFlowSystem() override;
    WaterFlowSystem(const WaterFlowSystem&) = delete;
    WaterFlowSystem& operator=(const WaterFlowSystem&) = delete;

    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // The world direction a jet pours in: its world rotation applied to -Y.
    static quern::math::Vector3 jetDirection(quern::entity::World& world, const Transform& jet);

    // Read access for the level's checks.
    quern::u64 hitListCount() const { return m_hitLists.size(); }
    const quern::containers::Array& hitList(quern::u64 worker) const { return m_hitLists[worker]; }
    const quern::containers::Array& jobs() const { return m_jobs; }
    EntityHandle playerToKill() const { return EntityHandle { static_cast<quern::u32>(m_playerToKill.load()) }; }
    bool isSetUp() const { return m_setUpDone != 0; }

    // One jet's step on the hit list of the worker that runs it; `order`
    // decides which player wins when several jets name one in a tick.
    void stepJet(quern::entity::World& world, WaterFlowJob& job, quern::u32 order, quern::containers::Array& hits);

private:
    void setUp(quern::entity::World& world);
    void collectJobs(quern::entity::World& world);
    void runJobs(quern::entity::World& world);
    void finishJobs(quern::entity::World& world);
    void spawnSplash(quern::entity::World& world, const WaterFlowJob& job);
    f32 measure(quern::entity::World& world, const WaterFlow& flow, const quern::math::Vector3& origin,
        const quern::math::Vector3& direction, quern::containers::Array& hits) const;
    void layOut(quern::entity::World& world, const WaterFlow& flow, const Transform& jet, f32 length,
        const quern::math::Vector3& source, const quern::math::Vector3& direction) const;
    EntityHandle playerInJet(quern::entity::World& world, EntityHandle jet, const WaterFlow& flow,
        const quern::math::Vector3& origin, const quern::math::Vector3& direction) const;
    void offerPlayer(EntityHandle player, quern::u32 order);

    AppContext* m_context;
    TaskDispatcher* m_dispatcher;
    quern::containers::Array m_jobs;
    std::vector<quern::containers::Array> m_hitLists; // one per worker
    // The player to kill in the low half, one plus the offering job's index
    // in the high half: the last job in index order wins, as without threads.
    std::atomic<quern::u64> m_playerToKill { 0 };
    u8 m_setUpDone = 0;
};

} // namespace harmonize
