#include "SceneTestSupport.h"

#include "quern/render/Culler.h"
#include "quern/render/RenderLists.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quern::test {
namespace {

using scene::Camera;
using scene::Light;
using scene::Node;

// Counts how often the local transform is computed.
class CountingCamera final : public Camera {
public:
    void computeLocalTransform(math::Matrix4& out) override
    {
        ++computations;
        Camera::computeLocalTransform(out);
    }
    int computations = 0;
};

TEST(Camera, Defaults)
{
    Ref hold(new Camera());
    Camera& camera = *hold.get<Camera>();
    EXPECT_EQ(camera.fieldOfView, 1.0471973f);
    EXPECT_NE(camera.fieldOfView, 1.0471976f);
    EXPECT_EQ(camera.width / camera.height, 4.0f / 3.0f);
    EXPECT_EQ(camera.nearPlane, 1.0f);
    EXPECT_EQ(camera.farPlane, 100000.0f);
    EXPECT_EQ(camera.flags(), Node::LocalDirty | Node::ProjectionDirty);
    camera.refresh();
    EXPECT_EQ(camera.flags() & (Node::LocalDirty | Node::ProjectionDirty), 0u);
    EXPECT_TRUE(
        near(camera.projectionMatrix(), math::Matrix4::perspective(1.0471973f, 4.0f / 3.0f, 1.0f, 100000.0f, true)));
}

TEST(Camera, OrthographicProjectionSpansWidthAndHeight)
{
    Ref hold(new Camera());
    Camera& camera = *hold.get<Camera>();
    camera.orthographic = 1;
    camera.zeroToOneDepth = 1;
    camera.width = 8;
    camera.height = 6;
    camera.refresh();
    EXPECT_TRUE(near(camera.projectionMatrix(), math::Matrix4::orthographic(-4, 3, 4, -3, 1, 100000, false)));
}

TEST(Camera, ViewIsTheInverseOfTheWorldTransform)
{
    Ref hold(new Camera());
    Camera& camera = *hold.get<Camera>();
    camera.setTranslation(1, 2, 3);
    const math::Quaternion q = turn(0.7f, { 0, 1, 0 });
    camera.setRotation(q.x, q.y, q.z, q.w);
    const math::Matrix4& view = camera.getViewMatrix();
    EXPECT_TRUE(near(view * camera.getWorldTransform(), math::Matrix4()));
    std::ostringstream text;
    camera.describe(text);
    EXPECT_NE(text.str().find("\nView matrix: [ "), std::string::npos);
    // Forward is the negated third axis.
    EXPECT_TRUE(near(camera.viewDirection(), -camera.getWorldTransform().transformVector(math::kUnitZ)));
}

TEST(Camera, RefreshingComputesTheLocalTransformOnce)
{
    for (bool withTarget : { false, true }) {
        SCOPED_TRACE(withTarget);
        Ref holdParent(new Node());
        Node* parent = holdParent.get<Node>();
        parent->setTranslation(0, 5, 0);
        auto* camera = new CountingCamera();
        parent->addChild(camera);
        Ref holdTarget(new Node());
        Node* target = holdTarget.get<Node>();
        target->setTranslation(10, 5, 0);
        if (withTarget)
            camera->setLookAtTarget(target);
        camera->setTranslation(0, 0, 0.5f);
        camera->setScale(1, 1, 1);
        camera->setFlags(
            Node::LocalDirty | Node::WorldDirty | Node::WorldScaleDirty | Node::kBoundsDirty | Node::ProjectionDirty);

        camera->refresh();
        EXPECT_EQ(camera->computations, 1);
        EXPECT_EQ(camera->flags() & (Node::LocalDirty | Node::WorldDirty | Node::ProjectionDirty), 0u);
        // The view is up to date: the camera sits at the origin of its view.
        const math::Vector3 eye = camera->worldPosition();
        EXPECT_TRUE(near(camera->viewMatrix().transformPoint(eye), math::kZeroVector, 1e-4f));
        if (withTarget) {
            // The target lies straight ahead, down -Z.
            const math::Vector3 seen = camera->viewMatrix().transformPoint({ 10, 5, 0 });
            EXPECT_NEAR(seen.x, 0.0f, 1e-4f);
            EXPECT_NEAR(seen.y, 0.0f, 1e-4f);
            EXPECT_LT(seen.z, 0.0f);
            // A camera with a target is refreshed at every use, once.
            camera->refresh();
            EXPECT_EQ(camera->computations, 2);
        }
    }
}

TEST(Camera, FollowsItsTargetWithCleanFlags)
{
    Ref holdCamera(new Camera());
    Camera& camera = *holdCamera.get<Camera>();
    Ref holdTarget(new Node());
    Node* target = holdTarget.get<Node>();
    target->setTranslation(0, 0, -10);
    camera.setLookAtTarget(target);
    camera.refresh();
    target->setTranslation(10, 0, 0);
    EXPECT_EQ(camera.flags() & (Node::LocalDirty | Node::WorldDirty), 0u);
    const math::Vector3 seen = camera.getViewMatrix().transformPoint({ 10, 0, 0 });
    EXPECT_NEAR(seen.x, 0.0f, 1e-4f);
    EXPECT_NEAR(seen.z, -10.0f, 1e-4f);
}

TEST(Camera, LookingAtItsOwnPositionChangesNothing)
{
    Ref hold(new Camera());
    Camera& camera = *hold.get<Camera>();
    camera.setTranslation(1, 1, 1);
    camera.lookAt({ 1.001f, 1.001f, 1.001f }); // 3e-6 away, squared
    EXPECT_EQ(camera.rotation(), math::Quaternion());
    camera.lookAt({ 1.01f, 1, 1 });
    EXPECT_NE(camera.rotation(), math::Quaternion());
}

TEST(Camera, CloneKeepsTheTargetAndSettings)
{
    Ref holdCamera(new Camera());
    Camera& camera = *holdCamera.get<Camera>();
    Ref holdTarget(new Node());
    camera.setLookAtTarget(holdTarget.get<Node>());
    camera.fieldOfView = 0.5f;
    camera.orthographic = 1;
    Ref holdCopy(camera.clone());
    auto* copy = holdCopy.get<Camera>();
    EXPECT_EQ(copy->lookAtTarget(), holdTarget.get<Node>());
    EXPECT_EQ(copy->fieldOfView, 0.5f);
    EXPECT_EQ(copy->orthographic, 1);
    EXPECT_NE(copy->id(), camera.id());
    // The target going away clears both links.
    holdTarget.reset();
    EXPECT_EQ(camera.lookAtTarget(), nullptr);
    EXPECT_EQ(copy->lookAtTarget(), nullptr);
}

TEST(Light, ConfiguresItsShadowCamera)
{
    Ref holdParent(new Node());
    Node* parent = holdParent.get<Node>();
    parent->setTranslation(0, 10, 0);
    const math::Quaternion quarterX = turn(1.5707964f, math::kUnitX);
    parent->setRotation(quarterX.x, quarterX.y, quarterX.z, quarterX.w);
    auto* light = new Light();
    parent->addChild(light);
    light->setTranslation(0, 0, 2);
    light->angle = 0.7853982f;
    light->width = 5;
    light->height = 7;
    light->range = 50;

    Ref holdCamera(new Camera());
    Camera& camera = *holdCamera.get<Camera>();
    camera.refresh();
    light->configureCamera(camera);
    EXPECT_FALSE(camera.orthographic);
    EXPECT_FLOAT_EQ(camera.fieldOfView, 1.5707964f);
    EXPECT_EQ(camera.width, 5.0f);
    EXPECT_EQ(camera.height, 7.0f);
    EXPECT_EQ(camera.farPlane, 50.0f);
    EXPECT_NE(camera.flags() & Node::ProjectionDirty, 0u);
    // Placed and turned as the light is in the world.
    EXPECT_TRUE(near(camera.getWorldTransform(), light->getWorldTransform()));

    light->kind = Light::kOrthographicKind;
    camera.fieldOfView = 1.0f;
    light->configureCamera(camera);
    EXPECT_TRUE(camera.orthographic);
    EXPECT_EQ(camera.fieldOfView, 1.0f);
}

TEST(Light, IsAlwaysInsideWhileItsChildrenAreTested)
{
    Ref hold(new Light());
    auto* light = hold.get<Light>();
    light->setName("light");
    light->setTranslation(0, 0, 500); // far behind the camera
    Node* child = new Node();
    child->setName("child");
    child->setVisual(sphereVisual(math::kZeroVector, 1));
    light->addChild(child);
    RecordingVisitor visitor;
    light->cull(visitor, lookingDownMinusZ());
    ASSERT_EQ(visitor.visits.size(), 2u);
    EXPECT_EQ(visitor.visits[0], (Visit { "light", "light", 1 }));
    EXPECT_EQ(visitor.visits[1], (Visit { "node", "child", 0 }));
}

TEST(CullVisitor, KeepsOnlyShownNodesWithVisuals)
{
    Ref hold(new Node());
    Node* root = hold.get<Node>();
    root->setCullStrategy(Node::CullStrategy::AlwaysInsideSubtree);
    auto add = [&](f32 z, bool visual, bool hidden) {
        Node* node = new Node();
        node->setTranslation(0, 0, z);
        if (visual)
            node->setVisual(sphereVisual(math::kZeroVector, 1));
        node->hidden = hidden;
        node->setCullStrategy(Node::CullStrategy::BoundingSphere);
        root->addChild(node);
        return node;
    };
    Node* shown = add(-10, true, false);
    add(-10, true, true); // hidden
    add(-10, false, false); // nothing to draw
    Node* behind = add(10, true, false);

    render::RenderLists lists;
    render::SceneCuller culler(root);
    culler.cull(lookingDownMinusZ(), lists);
    // Under an always-inside root everything counts as visible.
    ASSERT_EQ(lists.visibleCount(), 2u);
    EXPECT_EQ(lists.visibleNode(0), shown);
    EXPECT_EQ(lists.visibleNode(1), behind);
    EXPECT_EQ(lists.all.count(), 2u);

    root->setCullStrategy(Node::CullStrategy::BoundingSphere);
    culler.cull(lookingDownMinusZ(), lists);
    ASSERT_EQ(lists.visibleCount(), 1u);
    EXPECT_EQ(lists.visibleNode(0), shown);
    ASSERT_EQ(lists.culled.count(), 1u);
    EXPECT_EQ(lists.culled.at<Node*>(0), behind);
    EXPECT_EQ(lists.all.count(), 2u);
}

} // namespace
} // namespace quern::test
