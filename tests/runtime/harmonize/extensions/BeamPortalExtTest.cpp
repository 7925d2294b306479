#include "ContactWorld.h"

#include "harmonize/extensions/RaceLook.h"
#include "quern/platform/AssertDebug.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace harmonize {
namespace {

using quern::math::Vector3;
using testing::ContactWorld;

// Collects the messages of warning assertions while it lives.
class WarningRecorder {
    static std::map<quern::i32, quern::platform::AssertionHandler>& handlers()
    {
        return quern::platform::assertionHandlers();
    }

public:
    WarningRecorder()
        : m_previous(handlers()[quern::debug::kAssertWarning])
    {
        messages.clear();
        handlers()[quern::debug::kAssertWarning] = &record;
    }
    ~WarningRecorder() { handlers()[quern::debug::kAssertWarning] = m_previous; }
    WarningRecorder(const WarningRecorder&) = delete;
    WarningRecorder& operator=(const WarningRecorder&) = delete;

    static inline std::vector<std::string> messages;

private:
    static void record(const quern::debug::AssertionRecord& r) { messages.emplace_back(r.message); }

    quern::platform::AssertionHandler m_previous;
};

// Two armed portals: the entrance at the origin beams to the exit at
// (10, 5, 3), whose exit offset is (1, 2). Both spawn the same effect.
struct PortalWorld : ContactWorld {
    PortalWorld()
    {
        effect = scene.add("beam effect", { "Transform" }, {}, true);
        entrance = addPortal("entrance", { 0.0f, 0.0f, 0.0f });
        exit = addPortal("exit", { 10.0f, 5.0f, 3.0f });
        get<BeamPortal>(entrance).target = exit;
        get<BeamPortal>(exit).target = entrance;
        get<BeamPortal>(exit).exitOffset = { 1.0f, 2.0f };
        get<Transform>(player).position = { 0.5f, 0.0f, 0.0f };
        start();
    }
    EntityHandle addPortal(const char* name, const Vector3& at)
    {
        const EntityHandle portal = scene.add(name, { "Transform", "Collider", "BeamPortal" });
        get<Transform>(portal).position = at;
        get<BeamPortal>(portal).armed = 1;
        get<BeamPortal>(portal).effectPrefab = effect;
        return portal;
    }
    void enter(EntityHandle portal) { onBeamPortalEnter(pair(player, portal), world(), context); }
    const Vector3& playerAt() { return get<Transform>(player).position; }

    EntityHandle effect, entrance, exit;
};

TEST(BeamPortalExt, BeamsThePlayerToTheTargetAndDisarmsItForATenthOfASecond)
{
    PortalWorld w;
    const u64 before = w.liveEntityCount();
    onBeamPortalEnter(ContactWorld::pair(w.entrance, w.player), w.world(), w.context);
    EXPECT_EQ(w.playerAt().x, 11.0f);
    EXPECT_EQ(w.playerAt().y, 7.0f);
    EXPECT_EQ(w.playerAt().z, 0.0f);
    EXPECT_EQ(w.liveEntityCount(), before + 1); // the effect at the entrance
    ASSERT_EQ(w.sound->requestCount(), 1u);
    EXPECT_EQ(w.sound->request(0).soundId, worldTextKey(w.world(), "FX_Beam"));
    EXPECT_EQ(w.sound->request(0).positional, 0);
    EXPECT_EQ(w.sound->request(0).position.x, 0.0f);
    EXPECT_EQ(w.coroutineCount(), 1u);

    w.tick();
    EXPECT_EQ(w.get<BeamPortal>(w.exit).armed, 0);
    // Arriving inside the disarmed exit beams nobody back.
    w.enter(w.exit);
    EXPECT_EQ(w.playerAt().x, 11.0f);
    w.tick(8);
    EXPECT_EQ(w.get<BeamPortal>(w.exit).armed, 0);
    w.tick(4);
    EXPECT_EQ(w.get<BeamPortal>(w.exit).armed, 1);
    EXPECT_EQ(w.liveEntityCount(), before + 2); // and one at the exit on re-arming
    EXPECT_EQ(w.coroutineCount(), 0u);
    // The entrance was never disarmed.
    EXPECT_EQ(w.get<BeamPortal>(w.entrance).armed, 1);
}

TEST(BeamPortalExt, ADisarmedPortalOrOneWithoutATargetPortalBeamsNobody)
{
    PortalWorld disarmed;
    disarmed.get<BeamPortal>(disarmed.entrance).armed = 0;
    disarmed.enter(disarmed.entrance);

    PortalWorld nowhere;
    const EntityHandle plain = nowhere.scene.add("plain", { "Transform" });
    nowhere.get<BeamPortal>(nowhere.entrance).target = plain;
    nowhere.enter(nowhere.entrance);

    PortalWorld outside;
    outside.get<BeamPortal>(outside.entrance).target = EntityHandle::make(0xfff0, 1);
    outside.enter(outside.entrance);

    for (PortalWorld* w : { &disarmed, &nowhere, &outside }) {
        EXPECT_EQ(w->playerAt().x, 0.5f);
        EXPECT_EQ(w->sound->requestCount(), 0u);
        EXPECT_EQ(w->coroutineCount(), 0u);
    }
}

TEST(BeamPortalExt, APortalWithoutAnEffectWarnsAndStillBeams)
{
    PortalWorld w;
    WarningRecorder warnings;
    w.get<BeamPortal>(w.entrance).effectPrefab = EntityHandle::make(EntityHandle::kNoIndex, 1);
    w.get<BeamPortal>(w.exit).effectPrefab = EntityHandle {};
    const u64 before = w.liveEntityCount();
    w.enter(w.entrance);
    EXPECT_EQ(w.playerAt().x, 11.0f);
    EXPECT_EQ(warnings.messages, std::vector<std::string> { "Missing beam effect" });
    w.tick(15);
    EXPECT_EQ(w.get<BeamPortal>(w.exit).armed, 1);
    EXPECT_EQ(warnings.messages, (std::vector<std::string> { "Missing beam effect", "Missing beam effect" }));
    EXPECT_EQ(w.liveEntityCount(), before);
}

TEST(BeamPortalExt, APortalWithoutATransformPlacesItsEffectAtTheOrigin)
{
    PortalWorld w;
    const EntityHandle bare = w.scene.add("bare portal", { "Collider", "BeamPortal" });
    w.get<BeamPortal>(bare).effectPrefab = w.effect;
    w.get<Transform>(w.effect).position = { 4.0f, 4.0f, 4.0f };
    const u64 before = w.liveEntityCount();
    BeamPortal::spawnBeamEffect(bare, w.world());
    EXPECT_EQ(w.liveEntityCount(), before + 1);
}

} // namespace
} // namespace harmonize
