#include "SceneTestSupport.h"

#include "quern/math/Ray.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quern::test {
namespace {

using scene::Node;
constexpr f32 kHalfPi = 1.5707964f;

// Brings every cache of the subtree up to date, so that flags() is 0.
void settle(Node& node)
{
    node.getWorldTransform();
    node.getWorldScale();
    math::Vector3 a, b;
    node.getBoundingSphere(a);
    node.getBoundingBox(a, b);
    for (u64 i = 0; i < node.childCount(); ++i)
        settle(*node.child(i));
}

// root -> middle -> leaf
struct Chain {
    Chain()
    {
        root = namedNode("root", holdRoot);
        middle = new Node();
        middle->setName("middle");
        leaf = new Node();
        leaf->setName("leaf");
        root->addChild(middle);
        middle->addChild(leaf);
        settle(*root);
    }
    Ref holdRoot;
    Node* root;
    Node* middle;
    Node* leaf;
};

TEST(Node, SettersMarkTheNodeItsSubtreeAndItsAncestors)
{
    struct Case {
        const char* setter;
        u32 self;
        u32 below;
    };
    const u32 bounds = Node::kBoundsDirty;
    const Case cases[] = {
        { "translation", Node::LocalDirty | Node::WorldDirty | bounds, Node::WorldDirty | bounds },
        { "rotation", Node::LocalDirty | Node::WorldDirty | bounds, Node::WorldDirty | bounds },
        { "scale", Node::LocalDirty | Node::WorldDirty | Node::WorldScaleDirty | bounds,
            Node::WorldDirty | Node::WorldScaleDirty | bounds },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setter);
        Chain chain;
        ASSERT_EQ(chain.root->flags() | chain.middle->flags() | chain.leaf->flags(), 0u);
        const std::string setter = c.setter;
        auto apply = [&](f32 v) {
            if (setter == "translation")
                chain.middle->setTranslation(v, 0, 0);
            else if (setter == "rotation")
                chain.middle->setRotation(0, 0, v, 1);
            else
                chain.middle->setScale(v + 1, 1, 1);
        };
        apply(0.0f); // the current value
        EXPECT_EQ(chain.root->flags() | chain.middle->flags() | chain.leaf->flags(), 0u);
        apply(0.5f);
        EXPECT_EQ(chain.middle->flags(), c.self);
        EXPECT_EQ(chain.leaf->flags(), c.below);
        EXPECT_EQ(chain.root->flags(), bounds);
    }
}

TEST(Node, AddChildMovesANodeFromItsOldParent)
{
    Ref a, b;
    Node* first = namedNode("first", a);
    Node* second = namedNode("second", b);
    Node* child = new Node();
    first->addChild(child);
    first->addChild(new Node());
    second->addChild(new Node());

    second->addChild(child);
    EXPECT_EQ(first->childCount(), 1u);
    ASSERT_EQ(second->childCount(), 2u);
    EXPECT_EQ(second->child(1), child);
    EXPECT_EQ(child->parent(), second);

    settle(*second);
    second->addChild(child); // already its child
    EXPECT_EQ(second->childCount(), 2u);
    EXPECT_EQ(second->flags() | child->flags(), 0u);
}

TEST(Node, AChildDoesNotKeepItsParentAlive)
{
    Ref holdChild;
    Node* child = namedNode("child", holdChild);
    {
        Ref holdParent;
        Node* parent = namedNode("parent", holdParent);
        parent->addChild(child);
        EXPECT_EQ(child->parent(), parent);
        EXPECT_EQ(child->refCount(), 2);
    }
    EXPECT_EQ(child->parent(), nullptr);
    EXPECT_EQ(child->refCount(), 1);
}

TEST(Node, WorldTransformIsLocalFollowedByTheParentsWorld)
{
    Ref hold;
    Node* parent = namedNode("parent", hold);
    parent->setTranslation(10, 0, 0);
    const math::Quaternion quarterZ = turn(kHalfPi, math::kUnitZ);
    parent->setRotation(quarterZ.x, quarterZ.y, quarterZ.z, quarterZ.w);
    parent->setScale(2, 2, 2);
    Node* child = new Node();
    parent->addChild(child);
    child->setTranslation(1, 0, 0);

    // The child's origin: scaled by 2, turned onto +Y, moved by 10 along X.
    EXPECT_TRUE(near(child->getWorldTransform().transformPoint(math::kZeroVector), { 10, 2, 0 }));
    EXPECT_TRUE(near(child->getWorldScale(), { 2, 2, 2 }));
}

TEST(Node, WorldRotationMatchesTheWorldTransform)
{
    Ref hold;
    Node* parent = namedNode("parent", hold);
    const math::Quaternion quarterX = turn(kHalfPi, math::kUnitX);
    parent->setRotation(quarterX.x, quarterX.y, quarterX.z, quarterX.w);
    Node* child = new Node();
    parent->addChild(child);
    const math::Quaternion quarterZ = turn(kHalfPi, math::kUnitZ);
    child->setRotation(quarterZ.x, quarterZ.y, quarterZ.z, quarterZ.w);

    const math::Matrix4 fromRotation = child->getWorldRotation().toMatrix4();
    EXPECT_TRUE(near(fromRotation, child->getWorldTransform()));
    // +X turns to +Y under the child, then to +Z under the parent.
    EXPECT_TRUE(near(fromRotation.transformVector(math::kUnitX), math::kUnitZ));
}

TEST(Node, RotateTurnsInTheNodesOwnFrameFirst)
{
    Ref hold;
    Node* node = namedNode("node", hold);
    const math::Quaternion quarterZ = turn(kHalfPi, math::kUnitZ);
    node->setRotation(quarterZ.x, quarterZ.y, quarterZ.z, quarterZ.w);
    node->rotate(turn(kHalfPi, math::kUnitX));
    // +Y: about X onto +Z, which the turn about Z keeps.
    EXPECT_TRUE(near(node->getWorldTransform().transformVector(math::kUnitY), math::kUnitZ));
}

// Every combination of the drawing flags leaves the node as it was, with a
// parent scaled by 2.
TEST(Node, RenderTransformLeavesTheNodeAsItWas)
{
    for (int combination = 0; combination < 8; ++combination) {
        SCOPED_TRACE(combination);
        Ref hold;
        Node* parent = namedNode("parent", hold);
        parent->setScale(2, 2, 2);
        parent->setTranslation(5, 0, 0);
        Node* node = new Node();
        parent->addChild(node);
        parent->addChild(new Node());
        node->setTranslation(1, 2, 3);
        const math::Quaternion q = turn(0.5f, { 1, 2, 3 });
        node->setRotation(q.x, q.y, q.z, q.w);
        node->setScale(3, 4, 5);
        node->identityLocal = combination & 1;
        node->cancelParentScale = (combination >> 1) & 1;
        node->detached = (combination >> 2) & 1;

        math::Matrix4 drawn;
        node->getRenderTransform(drawn);
        EXPECT_EQ(node->translation(), math::Vector3(1, 2, 3));
        EXPECT_EQ(node->rotation(), q);
        EXPECT_EQ(node->scale(), math::Vector3(3, 4, 5));
        EXPECT_EQ(node->parent(), parent);
        EXPECT_EQ(parent->child(node->detached ? 1 : 0), node);

        // What was drawn: the node's own transform, or none of it, under
        // the parent or not, with the parent's scale undone or not.
        Node expected;
        if (!node->identityLocal) {
            expected.setTranslation(1, 2, 3);
            expected.setRotation(q.x, q.y, q.z, q.w);
            expected.setScale(3, 4, 5);
        }
        // The parent's scale is undone before the node is taken off it.
        if (node->cancelParentScale)
            expected.setScale(0.5f, 0.5f, 0.5f);
        math::Matrix4 want = expected.getWorldTransform();
        if (!node->detached)
            want = parent->getWorldTransform() * want;
        EXPECT_TRUE(near(drawn, want));
        // The node draws with its own transform again afterwards.
        math::Matrix4 plain = node->getWorldTransform();
        EXPECT_TRUE(near(plain, parent->getWorldTransform() * node->localTransform()));
    }
}

TEST(Node, ANodeWithoutVisualOrChildrenIsAPointAtItsPosition)
{
    Ref hold;
    Node* node = namedNode("node", hold);
    node->setTranslation(4, 5, 6);
    math::Vector3 centre, min, max;
    EXPECT_EQ(node->getBoundingSphere(centre), 0.0f);
    EXPECT_EQ(centre, math::Vector3(4, 5, 6));
    node->getBoundingBox(min, max);
    EXPECT_EQ(min, math::kZeroVector);
    EXPECT_EQ(max, math::kZeroVector);
}

TEST(Node, BoundsCoverTheVisualScaledAndTheChildren)
{
    Ref hold;
    Node* root = namedNode("root", hold);
    root->setVisual(sphereVisual({ 0, 0, 0 }, 1.0f));
    root->setScale(1, 3, -4); // a mirrored axis stretches as far
    Node* child = new Node();
    root->addChild(child);
    child->setVisual(sphereVisual({ 0, 0, 0 }, 1.0f));
    child->setTranslation(10, 0, 0);

    math::Vector3 centre;
    const f32 radius = root->getBoundingSphere(centre);
    // Radius 4 around the origin, radius 4 around x = 10: together 9 around x = 5.
    EXPECT_FLOAT_EQ(radius, 9.0f);
    EXPECT_TRUE(near(centre, { 5, 0, 0 }));

    math::Vector3 min, max;
    root->getBoundingBox(min, max);
    EXPECT_TRUE(near(min, { -1, -3, -4 }));
    EXPECT_TRUE(near(max, { 11, 3, 4 }));

    // A change of the child's visual reaches the root's bounds.
    static_cast<visuals::MeshVisual*>(child->visual())->setExplicitSphere({ 0, 0, 0 }, 1.0f);
    child->visual()->notifyChanged();
    EXPECT_NE(root->flags() & Node::SphereDirty, 0u);
}

TEST(Node, MergingSpheres)
{
    struct Case {
        math::Vector3 a;
        f32 ra;
        math::Vector3 b;
        f32 rb;
        math::Vector3 centre;
        f32 radius;
    };
    const Case cases[] = {
        { { 0, 0, 0 }, 0, { 1, 2, 3 }, 2, { 1, 2, 3 }, 2 }, // an empty sphere takes the other
        { { 0, 0, 0 }, 5, { 1, 0, 0 }, 2, { 0, 0, 0 }, 5 }, // the other lies inside
        { { 0, 0, 0 }, 1, { 1, 0, 0 }, 5, { 1, 0, 0 }, 5 }, // this one lies inside
        { { 0, 0, 0 }, 1, { 10, 0, 0 }, 3, { 6, 0, 0 }, 7 }, // apart: spans -1 to 13
        { { 0, 0, 0 }, 2, { 0, 0, 0 }, 0, { 0, 0, 0 }, 2 }, // the other is empty
    };
    for (const Case& c : cases) {
        math::Vector3 centre = c.a;
        const f32 radius = scene::mergeSpheres(centre, c.ra, c.b, c.rb);
        EXPECT_FLOAT_EQ(radius, c.radius);
        EXPECT_TRUE(near(centre, c.centre));
    }
}

TEST(Node, CullingClassifiesBySphereThenBox)
{
    Ref hold;
    Node* root = namedNode("root", hold);
    struct Child {
        const char* name;
        math::Vector3 at;
        f32 radius;
        Node::CullStrategy strategy;
        u32 flag;
    };
    const Child children[] = {
        { "ahead", { 0, 0, -10 }, 1, Node::CullStrategy::BoundingSphere, 1 },
        { "behind", { 0, 0, 10 }, 1, Node::CullStrategy::BoundingSphere, 0 },
        { "straddling", { 0, 0, -1 }, 1, Node::CullStrategy::BoundingSphere, 2 },
        { "boxed", { 0, 0, -10 }, 1, Node::CullStrategy::BoundingBox, 1 },
        { "forced", { 0, 0, 10 }, 1, Node::CullStrategy::AlwaysInside, 1 },
    };
    for (const Child& c : children) {
        Node* node = new Node();
        node->setName(c.name);
        node->setVisual(sphereVisual(math::kZeroVector, c.radius));
        node->setTranslation(c.at.x, c.at.y, c.at.z);
        node->setCullStrategy(c.strategy);
        root->addChild(node);
    }
    // Under a culled node everything is outside; under a forced one inside.
    Node* underBehind = new Node();
    underBehind->setName("underBehind");
    root->child(1)->addChild(underBehind);
    Node* underForced = new Node();
    underForced->setName("underForced");
    underForced->setTranslation(0, 0, 50);
    root->child(4)->addChild(underForced);

    RecordingVisitor visitor;
    root->cull(visitor, lookingDownMinusZ());
    EXPECT_EQ(visitor.flagOf("root"), 2u);
    for (const Child& c : children)
        EXPECT_EQ(visitor.flagOf(c.name), c.flag) << c.name;
    EXPECT_EQ(visitor.flagOf("underBehind"), 0u);
    EXPECT_EQ(visitor.flagOf("underForced"), 1u);
}

TEST(NodeDeathTest, AnUnknownCullStrategyIsFatal)
{
    Ref hold;
    Node* node = namedNode("node", hold);
    node->setCullStrategy(static_cast<Node::CullStrategy>(7));
    RecordingVisitor visitor;
    EXPECT_DEATH(node->cull(visitor, lookingDownMinusZ()), "Invalid enum value for type Node::CullStrategy");
}

TEST(Node, ARayAtExactlyTheRadiusMayHit)
{
    Ref hold;
    Node* node = namedNode("node", hold);
    node->setVisual(sphereVisual(math::kZeroVector, 2.0f));
    Node* child = new Node();
    child->setName("child");
    child->setVisual(sphereVisual(math::kZeroVector, 1.0f));
    node->addChild(child);
    math::Ray ray;
    ray.origin = { -10, 2, 0 };
    ray.direction = { 1, 0, 0 };
    RecordingVisitor visitor;
    node->raycast(visitor, ray);
    EXPECT_EQ(visitor.flagOf("node"), 2u);
    EXPECT_EQ(visitor.flagOf("child"), 0u);

    ray.origin = { -10, 2.001f, 0 };
    node->raycast(visitor, ray);
    EXPECT_EQ(visitor.visits.back(), (Visit { "node", "child", 0 }));
    EXPECT_EQ(visitor.visits[visitor.visits.size() - 2].flag, 0u);
}

TEST(Node, CloneIsADeepCopyWithFreshIds)
{
    Ref hold;
    Node* root = namedNode("root", hold);
    Node* next = new Node();
    EXPECT_EQ(next->id(), root->id() + 1);
    root->addChild(next);
    next->setName("child");
    next->setTranslation(1, 2, 3);
    next->hidden = 1;
    root->setVisual(sphereVisual(math::kZeroVector, 1.0f));

    Ref holdCopy(root->clone());
    Node* copy = holdCopy.get<Node>();
    EXPECT_NE(copy->id(), root->id());
    EXPECT_EQ(copy->parent(), nullptr);
    EXPECT_EQ(copy->visual(), root->visual());
    ASSERT_EQ(copy->childCount(), 1u);
    Node* copiedChild = copy->child(0);
    EXPECT_NE(copiedChild, next);
    EXPECT_NE(copiedChild->id(), next->id());
    EXPECT_EQ(copiedChild->parent(), copy);
    EXPECT_EQ(copiedChild->name(), "child");
    EXPECT_EQ(copiedChild->translation(), math::Vector3(1, 2, 3));
    EXPECT_EQ(copiedChild->hidden, 1);
    // The copy hears its visual's changes as the original does.
    root->visual()->notifyChanged();
    EXPECT_NE(copy->flags() & Node::SphereDirty, 0u);
}

TEST(Node, DescribeListsOneItemPerLine)
{
    Ref hold;
    Node* parent = namedNode("parent", hold);
    Node* node = new Node();
    node->setName("node");
    parent->addChild(node);
    node->setTranslation(1, 2, 3);
    std::ostringstream text;
    node->describe(text);
    const std::string out = text.str();
    EXPECT_EQ(out.rfind("node (#" + std::to_string(node->id()) + ")\nParent: parent (#", 0), 0u) << out;
    EXPECT_NE(out.find("Translation: 1, 2, 3\n"), std::string::npos);
    EXPECT_NE(out.find("Rotation:    0, 0, 0, 1\n"), std::string::npos);
    EXPECT_NE(out.find("Scale:       1, 1, 1\n"), std::string::npos);
    EXPECT_NE(out.find("Transformation matrix: "), std::string::npos);
    EXPECT_NE(out.find("Bounding sphere: center = 1, 2, 3, radius = 0\n"), std::string::npos);
    EXPECT_NE(out.find("Bounding box: 0, 0, 0 --> 0, 0, 0\n"), std::string::npos);
    std::ostringstream rootText;
    parent->describe(rootText);
    EXPECT_NE(rootText.str().find("\nRoot node\n"), std::string::npos);
}

} // namespace
} // namespace quern::test

namespace quern::test {
namespace {

class OrderListener final : public scene::NodeListener {
public:
    OrderListener(std::vector<std::string>& log, std::string name)
        : m_log(log)
        , m_name(std::move(name))
    {
    }
    void onNotify(f32 a, f32 b) override { m_log.push_back(m_name + " " + std::to_string(int(a + b))); }
    void onOwnNotify(f32, f32) override { m_log.push_back(m_name + " own"); }
    void detach() override { m_log.push_back(m_name + " detached"); }

private:
    std::vector<std::string>& m_log;
    std::string m_name;
};

TEST(Node, NotifyReachesTheNodeThenItsVisualThenItsChildrenFromTheLast)
{
    std::vector<std::string> log;
    Ref hold;
    Node* root = namedNode("root", hold);
    root->setVisual(sphereVisual(math::kZeroVector, 1));
    for (int i = 0; i < 2; ++i)
        root->addChild(new Node());
    auto* own = new OrderListener(log, "root");
    own->wantsOwnNotification = 1;
    root->addListener(own);
    root->visual()->addListener(new OrderListener(log, "visual"));
    root->child(0)->addListener(new OrderListener(log, "first"));
    root->child(1)->addListener(new OrderListener(log, "second"));
    root->notify(1, 2);
    EXPECT_EQ(log, (std::vector<std::string> { "root 3", "root own", "visual 3", "second 3", "first 3" }));
    log.clear();
    root->removeListener(own);
    EXPECT_EQ(log, (std::vector<std::string> { "root detached" }));
    EXPECT_EQ(root->listenerCount(), 0u);
}

TEST(Visual, IntersectsBoundsTestsTheNodesWorldSphere)
{
    Ref hold;
    Node* node = namedNode("node", hold);
    node->setVisual(sphereVisual(math::kZeroVector, 1));
    node->setTranslation(0, 10, 0);
    node->setScale(2, 2, 2);
    math::Ray ray;
    ray.origin = { -5, 11.9f, 0 };
    ray.direction = { 3, 0, 0 };
    EXPECT_TRUE(node->visual()->intersectsBounds(ray, *node));
    ray.origin.y = 12.1f;
    EXPECT_FALSE(node->visual()->intersectsBounds(ray, *node));
}

} // namespace
} // namespace quern::test
