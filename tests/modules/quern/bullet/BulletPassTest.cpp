// A real Bullet world with a box and a sphere drawn through the physics debug
// pass on the recording device.

#include "support/LogCapture.h"
#include "support/RecordingGraphicsBackEnd.h"

#include "quern/bullet/BulletPass.h"
#include "quern/render/PassList.h"
#include "quern/scene/Camera.h"
#include "quern/visuals/BatchVisual.h"

#include <btBulletDynamicsCommon.h>
#include <gtest/gtest.h>

#include <memory>

namespace quern::test {
namespace {

using graphics::BatchVertex;

// A dynamics world with a unit box at the origin and a sphere above it.
struct PhysicsWorld {
    PhysicsWorld()
        : dispatcher(&configuration)
        , world(&dispatcher, &broadphase, &solver, &configuration)
        , box(btVector3(0.5f, 0.5f, 0.5f))
        , sphere(0.5f)
    {
        add(box, btVector3(0, 0, 0), 0.0f);
        add(sphere, btVector3(0, 3, 0), 1.0f);
    }
    ~PhysicsWorld()
    {
        for (auto& body : bodies)
            world.removeRigidBody(body.get());
    }
    void add(btCollisionShape& shape, const btVector3& at, btScalar mass)
    {
        btVector3 inertia(0, 0, 0);
        if (mass > 0)
            shape.calculateLocalInertia(mass, inertia);
        states.push_back(std::make_unique<btDefaultMotionState>(btTransform(btQuaternion::getIdentity(), at)));
        bodies.push_back(std::make_unique<btRigidBody>(
            btRigidBody::btRigidBodyConstructionInfo(mass, states.back().get(), &shape, inertia)));
        world.addRigidBody(bodies.back().get());
    }

    btDefaultCollisionConfiguration configuration;
    btCollisionDispatcher dispatcher;
    btDbvtBroadphase broadphase;
    btSequentialImpulseConstraintSolver solver;
    btDiscreteDynamicsWorld world;
    btBoxShape box;
    btSphereShape sphere;
    std::vector<std::unique_ptr<btDefaultMotionState>> states;
    std::vector<std::unique_ptr<btRigidBody>> bodies;
};

using BulletPassTest = RecordingDisplayTest;

TEST_F(BulletPassTest, TheWorldsLinesAreDrawnOneFrameLate)
{
    PhysicsWorld physics;
    Ref cameraHold(new scene::Camera());
    cameraHold.get<scene::Camera>()->setTranslation(0, 1, 10);
    auto* pass = new bullet::BulletPass(&physics.world);
    EXPECT_EQ(pass->name(), "BulletPass");
    EXPECT_EQ(pass->drawer().getDebugMode(), 0x8001);
    pass->setCamera(cameraHold.get<scene::Camera>());
    render::PassList passes;
    passes.addPass(pass);

    passes.renderFrame(*display);
    visuals::BatchVisual& visual = *pass->drawer().batchVisual();
    ASSERT_EQ(visual.batchCount(), 1u);
    visuals::PrimitiveBatch& lines = *visual.batch(0);
    const u64 drawnNextFrame = lines.previous.count();
    // Twelve box edges and the sphere's circles, two vertices a line.
    EXPECT_GE(drawnNextFrame, 24u);
    EXPECT_EQ(drawnNextFrame % 2, 0u);
    EXPECT_EQ(physics.world.getDebugDrawer(), nullptr);
    bool boxCorner = false;
    for (u64 i = 0; i < drawnNextFrame; ++i) {
        const BatchVertex& v = lines.previous.at<BatchVertex>(i);
        boxCorner |= std::fabs(std::fabs(v.x) - 0.5f) < 0.05f && std::fabs(std::fabs(v.y) - 0.5f) < 0.05f
            && std::fabs(std::fabs(v.z) - 0.5f) < 0.05f;
        EXPECT_EQ(v.colour[3], 255);
    }
    EXPECT_TRUE(boxCorner);
    EXPECT_TRUE(device.draws.empty());

    passes.renderFrame(*display);
    ASSERT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(device.draws[0].vertices, visual.vertexBuffer());
    EXPECT_EQ(device.draws[0].count, drawnNextFrame);
}

TEST_F(BulletPassTest, DrawerColoursAndWarnings)
{
    bullet::BulletDebugDrawer drawer;
    drawer.drawLine(btVector3(1, 2, 3), btVector3(4, 5, 6), btVector3(1, 0.5f, 0));
    drawer.drawLine(btVector3(0, 0, 0), btVector3(1, 1, 1), btVector3(0, 0, 1), btVector3(0, 1, 0));
    visuals::PrimitiveBatch& lines = *drawer.batchVisual()->getBatch(graphics::PrimitiveType::LineList);
    ASSERT_EQ(lines.current.count(), 4u);
    const BatchVertex& first = lines.current.at<BatchVertex>(0);
    EXPECT_EQ(first.colour[0], 255);
    EXPECT_EQ(first.colour[1], 128);
    EXPECT_EQ(first.colour[2], 0);
    EXPECT_EQ(first.colour[3], 255);
    EXPECT_EQ(lines.current.at<BatchVertex>(1).z, 6.0f);
    EXPECT_EQ(lines.current.at<BatchVertex>(2).colour[2], 255);
    EXPECT_EQ(lines.current.at<BatchVertex>(3).colour[1], 255);
    drawer.setDebugMode(3);
    EXPECT_EQ(drawer.getDebugMode(), 3);

    LogCapture warnings(2);
    drawer.reportErrorWarning("solver gave up");
    EXPECT_TRUE(warnings.contains("solver gave up"));
}

} // namespace
} // namespace quern::test
