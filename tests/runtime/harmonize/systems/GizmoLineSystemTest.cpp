#include "harmonize/systems/GizmoLineSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/systems/AppContext.h"
#include "quern/entity/World.h"
#include "quern/graphics/BatchVertex.h"
#include "quern/render/Gizmos.h"
#include "quern/visuals/BatchVisual.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace harmonize {
namespace {

using quern::entity::World;
using quern::math::Vector3;
using quern::render::Gizmos;

class GizmoLineSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::Development.gizmos = true;
        context.gizmos = quern::Ref(new Gizmos());
        world.clock.step = 10'000; // 0.01 s
        lines = new GizmoLineSystem(context);
        world.addSystem(lines);
    }
    void TearDown() override { Settings::Development.gizmos = false; }

    // The line vertices the pass holds for the frame, then a fresh frame.
    std::vector<quern::graphics::BatchVertex> drawn()
    {
        auto* batch = context.gizmos.get<Gizmos>()->batchVisual()->getBatch(quern::graphics::PrimitiveType::LineList);
        std::vector<quern::graphics::BatchVertex> out;
        for (quern::u64 i = 0; i < batch->current.count(); ++i)
            out.push_back(batch->current.at<quern::graphics::BatchVertex>(i));
        batch->swapBuffers();
        return out;
    }
    void update() { lines->update(nullptr, world); }

    AppContext context;
    World world;
    GizmoLineSystem* lines = nullptr;
};

TEST_F(GizmoLineSystemTest, ALineIsDrawnInExactlyOneUpdate)
{
    lines->addLine({ 1, 2, 3 }, { 4, 5, 6 }, Gizmos::Green);
    update();
    const auto vertices = drawn();
    ASSERT_EQ(vertices.size(), 2u);
    EXPECT_EQ(vertices[0].x, 1.0f);
    EXPECT_EQ(vertices[1].z, 6.0f);
    EXPECT_EQ(vertices[0].colour[1], 255);
    EXPECT_EQ(vertices[0].colour[0], 0);
    EXPECT_EQ(lines->lines.count(), 0u);
    update();
    EXPECT_TRUE(drawn().empty());
}

TEST_F(GizmoLineSystemTest, LongerLifetimesAgeByTheFixedStepAndKeepTheirOrder)
{
    lines->addLine({ 0, 0, 0 }, { 1, 0, 0 }, Gizmos::Red);
    lines->addLine({ 0, 0, 0 }, { 2, 0, 0 }, Gizmos::Red);
    lines->addLine({ 0, 0, 0 }, { 3, 0, 0 }, Gizmos::Red);
    lines->lines.at<GizmoLineRecord>(0).lifetime = 0.025f;
    lines->lines.at<GizmoLineRecord>(2).lifetime = 0.015f;
    world.deltaTime = 1.0f; // a long frame ages nothing faster
    update();
    ASSERT_EQ(lines->lines.count(), 2u);
    EXPECT_EQ(lines->lines.at<GizmoLineRecord>(0).to.x, 1.0f);
    EXPECT_EQ(lines->lines.at<GizmoLineRecord>(1).to.x, 3.0f);
    update();
    ASSERT_EQ(lines->lines.count(), 1u);
    EXPECT_EQ(lines->lines.at<GizmoLineRecord>(0).to.x, 1.0f);
    update();
    EXPECT_EQ(lines->lines.count(), 0u);
    EXPECT_EQ(drawn().size(), 2u * (3 + 2 + 1));
}

TEST_F(GizmoLineSystemTest, NothingIsAddedDrawnOrAgedWhileGizmosAreOff)
{
    lines->addLine({ 0, 0, 0 }, { 1, 0, 0 }, Gizmos::Red);
    Settings::Development.gizmos = false;
    lines->addLine({ 0, 0, 0 }, { 2, 0, 0 }, Gizmos::Red);
    EXPECT_EQ(lines->lines.count(), 1u);
    update();
    EXPECT_EQ(lines->lines.count(), 1u);
    EXPECT_TRUE(drawn().empty());
    Settings::Development.gizmos = true;
    update();
    EXPECT_EQ(drawn().size(), 2u);
}

TEST_F(GizmoLineSystemTest, AColourOutsideThePaletteIsDropped)
{
    lines->addLine({ 0, 0, 0 }, { 1, 0, 0 }, Gizmos::PaletteSize);
    lines->addLine({ 0, 0, 0 }, { 1, 0, 0 }, -1);
    EXPECT_EQ(lines->lines.count(), 0u);
}

TEST_F(GizmoLineSystemTest, ARectangleIsItsLeftBottomRightAndTopEdgesAtGroundLevel)
{
    lines->drawRect(1.0f, 2.0f, 3.0f, 4.0f, Gizmos::Green);
    ASSERT_EQ(lines->lines.count(), 4u);
    const struct {
        Vector3 from, to;
    } edges[] = {
        { { -2, -2, 0 }, { -2, 6, 0 } },
        { { -2, -2, 0 }, { 4, -2, 0 } },
        { { 4, -2, 0 }, { 4, 6, 0 } },
        { { -2, 6, 0 }, { 4, 6, 0 } },
    };
    for (quern::u64 i = 0; i < 4; ++i) {
        const GizmoLineRecord& line = lines->lines.at<GizmoLineRecord>(i);
        EXPECT_EQ(line.from, edges[i].from) << "edge " << i;
        EXPECT_EQ(line.to, edges[i].to) << "edge " << i;
        EXPECT_EQ(line.colour, Gizmos::Green);
    }
    Settings::Development.gizmos = false;
    lines->drawRect(0.0f, 0.0f, 1.0f, 1.0f, Gizmos::Red);
    EXPECT_EQ(lines->lines.count(), 4u);
}

TEST_F(GizmoLineSystemTest, ACrossIsTheDiagonalsOfAFiveUnitSquareAtThePointsDepth)
{
    lines->drawCross({ 10.0f, 20.0f, 3.0f });
    ASSERT_EQ(lines->lines.count(), 2u);
    const GizmoLineRecord& a = lines->lines.at<GizmoLineRecord>(0);
    const GizmoLineRecord& b = lines->lines.at<GizmoLineRecord>(1);
    EXPECT_EQ(a.from, (Vector3 { 7.5f, 17.5f, 3.0f }));
    EXPECT_EQ(a.to, (Vector3 { 12.5f, 22.5f, 3.0f }));
    EXPECT_EQ(b.from, (Vector3 { 12.5f, 17.5f, 3.0f }));
    EXPECT_EQ(b.to, (Vector3 { 7.5f, 22.5f, 3.0f }));
    EXPECT_EQ(a.colour, 2);
}

TEST_F(GizmoLineSystemTest, ACircleIsAClosedRingOf32SegmentsOnlyWhileGizmosAreOn)
{
    const Vector3 c { 1.0f, -2.0f, 0.5f };
    lines->drawCircle(c, 4.0f);
    ASSERT_EQ(lines->lines.count(), 32u);
    for (quern::u64 i = 0; i < 32; ++i) {
        const GizmoLineRecord& line = lines->lines.at<GizmoLineRecord>(i);
        EXPECT_NEAR(std::hypot(line.to.x - c.x, line.to.y - c.y), 4.0f, 1e-5f) << "segment " << i;
        EXPECT_EQ(line.to.z, c.z);
        if (i > 0) {
            EXPECT_EQ(line.from, lines->lines.at<GizmoLineRecord>(i - 1).to);
        }
    }
    EXPECT_EQ(lines->lines.at<GizmoLineRecord>(0).from, (Vector3 { 5.0f, -2.0f, 0.5f }));
    EXPECT_NEAR(lines->lines.at<GizmoLineRecord>(31).to.x, 5.0f, 1e-5f);
    EXPECT_NEAR(lines->lines.at<GizmoLineRecord>(31).to.y, -2.0f, 1e-5f);
    Settings::Development.gizmos = false;
    lines->drawCircle(c, 4.0f);
    lines->drawCross(c);
    EXPECT_EQ(lines->lines.count(), 32u);
}

TEST_F(GizmoLineSystemTest, AWorldWithoutAGizmoPassStillAgesItsLines)
{
    context.gizmos.reset();
    lines->addLine({ 0, 0, 0 }, { 1, 0, 0 }, Gizmos::Red);
    update();
    EXPECT_EQ(lines->lines.count(), 0u);
}

} // namespace
} // namespace harmonize
