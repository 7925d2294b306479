#include "RenderWorld.h"

#include "harmonize/systems/AnimationSystem.h"

#include "quern/graphics/Shader.h"
#include "quern/graphics/Uniform.h"
#include "quern/math/Ray.h"
#include "quern/scene/Camera.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

using namespace harmonize;
using harmonize::testing::RenderWorld;
using quern::f32;
using quern::i32;
using quern::u32;
using quern::u64;
using quern::u8;
using quern::graphics::GenericMaterial;
using quern::graphics::MaterialProperty;
using quern::math::Quaternion;
using quern::math::Vector3;
using quern::scene::Node;
using quern::visuals::Visual;

namespace {

constexpr u64 kCube = 101;
constexpr u64 kSkinned = 102;
constexpr u64 kStone = 201;
constexpr u64 kTick = RenderWorld::kTickStep;

const std::vector<Vector3> kUnitCube = { { -1, -1, -1 }, { 1, 1, 1 }, { 1, -1, -1 }, { -1, 1, 1 } };

class RenderSystemTest : public harmonize::testing::RenderWorldTest {
protected:
    GenericMaterial* entityMaterial(EntityHandle e)
    {
        Visual* visual = w->render->visual(e.index());
        return visual ? static_cast<GenericMaterial*>(visual->material()) : nullptr;
    }
    // The named property, or null when the material lacks it.
    static const MaterialProperty* property(GenericMaterial* material, const char* name)
    {
        const i32 index = material ? material->findProperty(name) : 0;
        return index ? &material->property(index) : nullptr;
    }
};

// Gives the entity a zeroed component of the named type, enabled.
void addComponent(RenderWorld& world, EntityHandle e, const char* name)
{
    const i32 type = findComponentType(name);
    ASSERT_GE(type, 0) << name;
    const u32 t = static_cast<u32>(type);
    std::memset(world.world().getComponent(e.index(), t), 0, ComponentSizeTable[t]);
    world.world().getComponentMask(e.index()).set(t);
    world.world().getEnabledMask(e.index()).set(t);
}

void expectVector(const f32* actual, std::initializer_list<f32> expected, f32 tolerance = 1e-6f)
{
    u32 i = 0;
    for (f32 value : expected)
        EXPECT_NEAR(actual[i++], value, tolerance) << "component " << i - 1;
}

TEST_F(RenderSystemTest, CameraLensClearModeChoosesWhatTheMainPassClears)
{
    struct Case {
        i32 mode;
        u32 flags;
    };
    const Case cases[] = { { 3, 2 }, { 4, 0 }, { 0, 0x7FFFFFFF }, { 5, 0x7FFFFFFF } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        RenderWorld world;
        const EntityHandle camera = world.scene.add("camera", { "Transform", "CameraLens" });
        world.scene.set(camera, "CameraLens", "clearMode", { static_cast<f64>(c.mode) });
        world.scene.set(camera, "CameraLens", "clearColour", { 0.25, 0.5, 0.75, 1.0 });
        world.start();
        EXPECT_EQ(world.render->pass(0)->clearFlags, c.flags);
        expectVector(world.render->pass(0)->clearColour, { 0.25f, 0.5f, 0.75f, 1.0f });
        EXPECT_EQ(world.render->pass(1)->clearFlags, 2u);
    }
}

TEST_F(RenderSystemTest, WithoutACameraThePassesKeepTheirOwnClear)
{
    w->scene.add("thing", { "Transform" });
    w->start();
    EXPECT_EQ(w->render->currentCamera(), nullptr);
    EXPECT_EQ(w->render->pass(0)->clearFlags, 0x7FFFFFFFu);
    expectVector(w->render->pass(0)->clearColour, { 2.0f / 255.0f, 95.0f / 255.0f, 213.0f / 255.0f, 1.0f });
    EXPECT_EQ(w->render->pass(1)->clearFlags, 2u);
}

// The game camera (lens, transform and rig) is the current camera; without
// one the first lens is. Both passes see through it.
TEST_F(RenderSystemTest, TheGameCameraIsCurrentElseTheFirstLens)
{
    for (bool withRig : { true, false }) {
        SCOPED_TRACE(withRig);
        RenderWorld world;
        const EntityHandle first = world.scene.add("first", { "Transform", "CameraLens" });
        const EntityHandle second = world.scene.add("second", { "Transform", "CameraLens" });
        world.scene.get<Transform>(first).position = { 1, 0, 0 };
        world.scene.get<Transform>(second).position = { 2, 0, 0 };
        if (withRig)
            addComponent(world, second, "GameCameraRig");
        world.start();
        world.updateAt(0);
        quern::scene::Camera* current = world.render->currentCamera();
        ASSERT_NE(current, nullptr);
        EXPECT_EQ(current->translation().x, withRig ? 2.0f : 1.0f);
        EXPECT_EQ(current->scale(), (Vector3 { 1, 1, -1 }));
        EXPECT_EQ(world.render->pass(0)->camera(), current);
        EXPECT_EQ(world.render->pass(1)->camera(), current);
    }
}

TEST_F(RenderSystemTest, TheLensSetsTheCameraProjection)
{
    const EntityHandle camera = w->scene.add("camera", { "Transform", "CameraLens" });
    w->scene.set(camera, "CameraLens", "nearPlane", { 0.5 });
    w->scene.set(camera, "CameraLens", "farPlane", { 900 });
    w->scene.set(camera, "CameraLens", "fieldOfView", { 60 });
    w->scene.set(camera, "CameraLens", "orthographicHalfHeight", { 5 });
    w->start();
    w->updateAt(0);
    quern::scene::Camera& perspective = *w->render->currentCamera();
    EXPECT_EQ(perspective.orthographic, 0);
    EXPECT_EQ(perspective.width, 640.0f);
    EXPECT_EQ(perspective.height, 360.0f);
    EXPECT_FLOAT_EQ(perspective.fieldOfView, 60.0f * 3.1415927f / 180.0f);
    EXPECT_EQ(perspective.nearPlane, 0.5f);
    EXPECT_EQ(perspective.farPlane, 900.0f);

    w->scene.set(camera, "CameraLens", "orthographic", { 1 });
    w->updateAt(kTick);
    EXPECT_EQ(perspective.orthographic, 1);
    EXPECT_EQ(perspective.height, 10.0f);
    EXPECT_FLOAT_EQ(perspective.width, 10.0f * 640.0f / 360.0f);
}

// Two ticks 20 ms apart, then a frame 10 ms after the second: a small move is
// drawn half a step further on; a move of a unit or more is drawn where it
// landed.
TEST_F(RenderSystemTest, SmallMovesAreExtrapolatedAndJumpsSnap)
{
    struct Case {
        const char* what;
        Vector3 move;
        Vector3 drawn;
    };
    const Case cases[] = {
        { "small move", { 0.5f, 0, 0 }, { 0.75f, 0, 0 } },
        { "just short of a unit", { 0, 0.99f, 0 }, { 0, 0.99f + 0.495f, 0 } },
        { "one unit", { 1, 0, 0 }, { 1, 0, 0 } },
        { "a unit diagonally", { 0.6f, 0.8f, 0 }, { 0.6f, 0.8f, 0 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RenderWorld world;
        const EntityHandle e = world.scene.add("mover", { "Transform" });
        world.start();
        world.tickAt(kTick);
        world.scene.get<Transform>(e).position = c.move;
        world.tickAt(2 * kTick);
        world.updateAt(2 * kTick + kTick / 2);
        const Vector3& drawn = world.node(e)->translation();
        EXPECT_NEAR(drawn.x, c.drawn.x, 1e-5f);
        EXPECT_NEAR(drawn.y, c.drawn.y, 1e-5f);
        EXPECT_NEAR(drawn.z, c.drawn.z, 1e-5f);
    }
}

TEST_F(RenderSystemTest, AfterAQuickSaveRestoreTheRestoredPlaceIsDrawnWithoutExtrapolation)
{
    RenderWorld world;
    const EntityHandle e = world.scene.add("mover", { "Transform" });
    world.start();
    world.tickAt(kTick);
    world.scene.get<Transform>(e).position = { 0.5f, 0, 0 };
    world.tickAt(2 * kTick);
    // The restore puts the entity back at the origin between ticks.
    world.scene.get<Transform>(e).position = { 0, 0, 0 };
    world.render->restoreQuickSave(world.world());
    world.updateAt(2 * kTick + kTick / 2);
    EXPECT_NEAR(world.node(e)->translation().x, 0.0f, 1e-6f);
}

// A turn about z by `angle` moves the quaternion by 2 sin(angle / 4): pi/8
// is reached at about 0.79 radians.
TEST_F(RenderSystemTest, RotationsOfAnEighthOfPiOrMoreSnap)
{
    for (f32 angle : { 0.5f, 0.78f, 0.8f, 1.2f }) {
        SCOPED_TRACE(angle);
        RenderWorld world;
        const EntityHandle e = world.scene.add("turner", { "Transform" });
        world.start();
        world.tickAt(kTick);
        const Quaternion newest = Quaternion::fromAxisAngle(angle, { 0, 0, 1 });
        world.scene.get<Transform>(e).rotation = newest;
        world.tickAt(2 * kTick);
        world.updateAt(2 * kTick + kTick / 2);
        const bool snaps = 2.0f * std::sin(angle / 4.0f) >= 0.39269909f;
        Quaternion expected = newest;
        if (!snaps) {
            // Half a step further on, normalised.
            const f32 q[4] = { 0, 0, newest.z * 1.5f, newest.w + (newest.w - 1.0f) * 0.5f };
            const f32 length = std::sqrt(q[2] * q[2] + q[3] * q[3]);
            expected = Quaternion { 0, 0, q[2] / length, q[3] / length };
        }
        const Quaternion& drawn = world.node(e)->rotation();
        EXPECT_NEAR(drawn.z, expected.z, 1e-5f);
        EXPECT_NEAR(drawn.w, expected.w, 1e-5f);
        EXPECT_EQ(snaps, angle > 0.79f);
    }
}

// A held body (collision mode 2 and above) keeps its node still; mode 1 does not.
TEST_F(RenderSystemTest, HeldBodiesKeepTheirNodeStill)
{
    for (u32 mode : { 1u, 2u, 3u }) {
        SCOPED_TRACE(mode);
        RenderWorld world;
        const EntityHandle e = world.scene.add("body", { "Transform", "CollisionLayer" });
        world.scene.set(e, "CollisionLayer", "mode", { static_cast<f64>(mode) });
        world.start();
        world.scene.get<Transform>(e).position = { 0.25f, 0, 0 };
        world.tickAt(kTick);
        world.updateAt(kTick);
        EXPECT_EQ(world.node(e)->translation().x, mode >= 2 ? 0.0f : 0.25f);
    }
}

// A Renderer starts switched off when its entity has cutscene trigger (45)
// or 62 enabled, or it or an ancestor has a snap box (100) enabled.
TEST_F(RenderSystemTest, TriggersAndSnapBoxesStartWithRenderingOff)
{
    struct Case {
        const char* what;
        const char* own; // a component of the entity, or null
        const char* ancestor; // a component of its grandparent, or null
        bool on;
    };
    const Case cases[] = {
        { "plain", nullptr, nullptr, true },
        { "cutscene trigger", "CutsceneTrigger", nullptr, false },
        { "component 62", "Component62", nullptr, false },
        { "own snap box", "Snapbox", nullptr, false },
        { "snap box above", nullptr, "Snapbox", false },
        { "trigger above", nullptr, "CutsceneTrigger", true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RenderWorld world;
        const EntityHandle top = world.scene.add("top", { "Transform" });
        const EntityHandle middle = world.scene.add("middle", { "Transform" }, top);
        const EntityHandle e = world.scene.add("drawn", { "Transform", "Renderer", "ParticleAppearance" }, middle);
        if (c.ancestor)
            addComponent(world, top, c.ancestor);
        if (c.own)
            addComponent(world, e, c.own);
        world.start();
        EXPECT_EQ(world.world().getEnabledMask(e.index()).test(Renderable::kType), c.on);
        world.updateAt(0);
        EXPECT_EQ(world.node(e)->hidden, c.on ? 0 : 1);
    }
}

TEST_F(RenderSystemTest, FogComesFromTheLastFogEntity)
{
    struct Case {
        const char* what;
        bool enabled;
        f32 start;
        f32 end;
        f32 inverseRange;
        bool warns;
    };
    const Case cases[] = {
        { "fog", true, 10, 30, 0.05f, false },
        { "reversed", true, 30, 10, -0.05f, false },
        { "no range", true, 10, 10, 0.0f, true },
        { "switched off", false, 10, 30, 0.0f, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RenderWorld world;
        const EntityHandle ignored = world.scene.add("earlier fog", { "Transform", "Fog" });
        world.scene.set(ignored, "Fog", "enabled", { 1 });
        world.scene.set(ignored, "Fog", "end", { 1000 });
        const EntityHandle fog = world.scene.add("mist", { "Transform", "Fog" });
        world.scene.set(fog, "Fog", "enabled", { c.enabled ? 1.0 : 0.0 });
        world.scene.set(fog, "Fog", "start", { c.start });
        world.scene.set(fog, "Fog", "end", { c.end });
        world.scene.set(fog, "Fog", "colour", { 0.1, 0.2, 0.3, 0.5 });
        quern::test::LogCapture warnings(2);
        world.start();
        EXPECT_EQ(warnings.contains("\"mist\""), c.warns) << warnings.text();

        GenericMaterial material;
        world.render->applyFog(material);
        const MaterialProperty* range = property(&material, "fog");
        const MaterialProperty* colour = property(&material, "fogColor");
        ASSERT_NE(range, nullptr);
        ASSERT_NE(colour, nullptr);
        EXPECT_TRUE(std::isfinite(range->value[1]));
        expectVector(range->value, { c.enabled ? c.start : 0.0f, c.inverseRange, 0.0f, 1.0f });
        if (c.enabled)
            expectVector(colour->value, { 0.1f, 0.2f, 0.3f, 0.5f });
        else
            expectVector(colour->value, { 0.0f, 0.0f, 0.0f, 1.0f });
    }
}

TEST_F(RenderSystemTest, MeshEntitiesDrawAClonedMeshWithTheirOwnMaterial)
{
    quern::visuals::MeshVisual* cube = w->preloadMesh(kCube, kUnitCube);
    GenericMaterial* stone = w->preloadMaterial(kStone);
    const EntityHandle lit = w->addMeshEntity("lit", kCube, { 0, 0, -5 });
    w->scene.set(lit, "Renderer", "material", { static_cast<f64>(kStone) });
    w->scene.set(lit, "Renderer", "lightmap", { 77 });
    w->scene.set(lit, "Renderer", "lightmapScale", { 2, 3 });
    w->scene.set(lit, "Renderer", "lightmapOffset", { 0.25, 0.5 });
    w->scene.set(lit, "Renderer", "castsShadows", { 1 });
    const EntityHandle plain = w->addMeshEntity("plain", kCube, { 3, 0, -5 });
    const EntityHandle other = w->addMeshEntity("other", kCube, { 6, 0, -5 });
    w->start();

    Visual* visual = w->render->visual(lit.index());
    ASSERT_NE(visual, nullptr);
    EXPECT_NE(visual, cube);
    EXPECT_EQ(visual->vertexBuffer(), cube->vertexBuffer());
    EXPECT_EQ(w->node(lit)->visual(), visual);
    EXPECT_EQ(w->node(lit)->shadowMode, 1u);
    EXPECT_EQ(w->node(plain)->shadowMode, 0u);
    Vector3 cubeCentre;
    const f32 cubeRadius = cube->getBoundingSphere(cubeCentre);
    const BoundingSphere& sphere = w->hierarchy->localBounds(lit.index());
    EXPECT_GT(sphere.radius, 1.7f);
    EXPECT_EQ(sphere.radius, cubeRadius);

    GenericMaterial* material = entityMaterial(lit);
    ASSERT_NE(material, nullptr);
    EXPECT_NE(material, stone);
    const MaterialProperty* lightmap = property(material, "lightmap");
    ASSERT_NE(lightmap, nullptr);
    EXPECT_EQ(lightmap->type, static_cast<u32>(quern::graphics::MaterialPropertyType::Texture));
    EXPECT_EQ(lightmap->textureRef.assetId, 77u);
    expectVector(lightmap->scale, { 2, 3 });
    expectVector(lightmap->offset, { 0.25f, 0.5f });
    EXPECT_EQ(lightmap->wrap, 15u);
    EXPECT_EQ(lightmap->unit, 4);
    EXPECT_NE(property(material, "fog"), nullptr);
    EXPECT_NE(property(material, "fogColor"), nullptr);
    EXPECT_NE(property(material, "ambientColor"), nullptr) << "the lighting system set it up";
    ASSERT_NE(property(material, "numBones"), nullptr);
    EXPECT_EQ(property(material, "numBones")->value[0], 0.0f);
    EXPECT_EQ(property(material, "skinningPalette"), nullptr);
    EXPECT_EQ(property(stone, "lightmap"), nullptr) << "the preloaded material is left alone";

    // Meshes without a material of their own share one plain material.
    Visual* plainVisual = w->render->visual(plain.index());
    ASSERT_NE(plainVisual, nullptr);
    EXPECT_NE(plainVisual->material(), nullptr);
    EXPECT_EQ(plainVisual->material(), w->render->visual(other.index())->material());
}

TEST_F(RenderSystemTest, NodesAreParentedAfterTheWholeBatchAndFollowParentChanges)
{
    const EntityHandle child = w->scene.add("child", { "Transform" });
    const EntityHandle parent = w->scene.add("parent", { "Transform" });
    const EntityHandle other = w->scene.add("other", { "Transform" });
    w->scene.setParent(child, parent);
    w->start();
    EXPECT_EQ(w->node(child)->parent(), w->node(parent));

    w->scene.setParent(child, other);
    w->tickAt(kTick);
    EXPECT_EQ(w->node(child)->parent(), w->node(other));
    EXPECT_EQ(w->node(parent)->childCount(), 0u);
}

// Lights are picked for the material the entity was given.
TEST_F(RenderSystemTest, EntityMaterialsAreLitByTheLightingSystem)
{
    w->preloadMesh(kCube, kUnitCube);
    w->preloadMaterial(kStone);
    const EntityHandle e = w->addMeshEntity("lit", kCube, { 0, 0, 0 });
    w->scene.set(e, "Renderer", "material", { static_cast<f64>(kStone) });
    const EntityHandle lamp = w->scene.add("lamp", { "Transform", "Light" });
    w->scene.get<Transform>(lamp).position = { 1, 2, 3 };
    w->scene.set(lamp, "Light", "kind", { Light::kPoint });
    w->scene.set(lamp, "Light", "range", { 10 });
    w->scene.set(lamp, "Light", "intensity", { 1 });
    w->start();
    w->updateAt(0);
    const MaterialProperty* light = property(entityMaterial(e), "pointLight0");
    ASSERT_NE(light, nullptr);
    expectVector(light->value, { 1, 2, 3, 10 });
}

TEST_F(RenderSystemTest, SkinnedMeshesGetAPaletteOrTheirOwnVertices)
{
    for (bool gpu : { true, false }) {
        SCOPED_TRACE(gpu);
        Settings::Animation.gpuSkinning = gpu;
        RenderWorld world;
        quern::visuals::MeshVisual* body = world.preloadMesh(kSkinned, kUnitCube, 3);
        world.preloadMaterial(kStone);
        const EntityHandle e = world.scene.add("skinned", { "Transform", "Renderer", "Component19" });
        world.scene.set(e, "Renderer", "material", { static_cast<f64>(kStone) });
        u8* record = static_cast<u8*>(world.scene.bytes(e, 19));
        const f32 bounds[6] = { 1, 2, 3, 0, 3, 4 }; // centre, half extent
        std::memcpy(record, bounds, sizeof bounds);
        std::memcpy(record + 308, &kSkinned, sizeof kSkinned);
        world.start();

        const BoundingSphere& sphere = world.hierarchy->localBounds(e.index());
        expectVector(sphere.centre, { 1, 2, 3 });
        EXPECT_EQ(sphere.radius, 5.0f);
        EXPECT_EQ(world.node(e)->identityLocal, 1);
        EXPECT_EQ(world.hierarchy->flags(e.index()), kParentOnly);
        Visual* visual = world.render->visual(e.index());
        ASSERT_NE(visual, nullptr);
        EXPECT_EQ(visual->vertexBuffer() == body->vertexBuffer(), gpu) << "CPU skinning writes its own copy";
        auto* material = static_cast<GenericMaterial*>(visual->material());
        const MaterialProperty* bones = property(material, "numBones");
        ASSERT_NE(bones, nullptr);
        EXPECT_EQ(bones->value[0], gpu ? 3.0f : 0.0f);
        const MaterialProperty* palette = property(material, "skinningPalette");
        EXPECT_EQ(palette != nullptr, gpu);
        if (palette) {
            ASSERT_NE(palette->uniform, nullptr);
            EXPECT_EQ(palette->uniform->count(), 48u);
            EXPECT_EQ(palette->uniform->type(), quern::graphics::UniformType::Matrix4Array);
        }
    }
}

// Text, lines and trails draw vertices built at run time; particles draw
// through their emitter. Detached, world-space things ignore their parent.
TEST_F(RenderSystemTest, EachRendererKindGetsItsVisualAndNodeFlags)
{
    struct Case {
        const char* what;
        const char* kinds[2];
        u8 detachByte; // the line's or emitter's detach flag
        bool visual;
        u8 flags; // identity local 1, detached 2, cancel parent scale 4
    };
    const Case cases[] = {
        { "text", { "TextLabel", nullptr }, 0, true, 0 },
        { "attached line", { "Line", nullptr }, 0, true, 0 },
        { "detached line", { "Line", nullptr }, 1, true, 3 },
        { "trail", { "Component22", nullptr }, 0, true, 3 },
        { "local particles", { "ParticleSpawner", "ParticleAppearance" }, 0, false, 4 },
        { "world particles", { "ParticleSpawner", "ParticleAppearance" }, 1, false, 7 },
        { "appearance only", { "ParticleAppearance", nullptr }, 0, false, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RenderWorld world;
        const EntityHandle e = world.scene.add("thing", { "Transform", "Renderer" });
        for (const char* kind : c.kinds)
            if (kind)
                addComponent(world, e, kind);
        auto* bytes = static_cast<u8*>(world.scene.bytes(e, LineStrip::kType));
        bytes[64] = c.detachByte;
        world.scene.get<ParticleSpawner>(e).worldSpace = c.detachByte;
        world.start();

        const Node& node = *world.node(e);
        EXPECT_EQ(world.hierarchy->flags(e.index()), c.flags);
        EXPECT_EQ(node.identityLocal, c.flags & 1 ? 1 : 0);
        EXPECT_EQ(node.detached, c.flags & 2 ? 1 : 0);
        EXPECT_EQ(node.cancelParentScale, c.flags & 4 ? 1 : 0);
        Visual* visual = world.render->visual(e.index());
        EXPECT_EQ(visual != nullptr, c.visual);
        EXPECT_EQ(node.visual(), visual);
        if (visual) {
            ASSERT_NE(visual->vertexBuffer(), nullptr);
            EXPECT_EQ(visual->vertexBuffer()->format().stride, 24u);
            EXPECT_EQ(visual->vertexBuffer()->usage(), 6u);
            EXPECT_EQ(visual->subMeshCount(), 1u);
        }
    }
}

// Whatever made the entity's visual, the destroyed entity's node and
// material outlive it until the frame's resources are released; then the
// node also leaves the parent that lives on.
TEST_F(RenderSystemTest, DestroyedEntitiesLetGoOfTheirNodeAndMaterialAtTheFrameRelease)
{
    w->preloadMesh(kCube, kUnitCube);
    w->preloadMaterial(kStone);
    const EntityHandle parent = w->scene.add("parent", { "Transform" });
    const EntityHandle child = w->addMeshEntity("child", kCube, { 1, 0, 0 }, parent);
    w->scene.set(child, "Renderer", "material", { static_cast<f64>(kStone) });
    w->start();
    w->render->commitDynamicVisuals();
    Node* node = w->node(child);
    GenericMaterial* material = entityMaterial(child);
    ASSERT_NE(material, nullptr);
    ASSERT_NE(material->shader(), nullptr);
    quern::RefCounted::retain(node);
    quern::RefCounted::retain(material);
    const i32 nodeCount = node->refCount();

    w->world().destroyEntities(&child, 1);
    EXPECT_EQ(w->node(child), nullptr);
    EXPECT_EQ(w->render->visual(child.index()), nullptr);
    EXPECT_EQ(node->refCount(), nodeCount) << "held until the release";
    EXPECT_EQ(w->node(parent)->childCount(), 1u);
    EXPECT_NE(material->shader(), nullptr);

    w->render->releaseFrameResources();
    EXPECT_EQ(w->node(parent)->childCount(), 0u);
    EXPECT_EQ(node->refCount(), 1);
    EXPECT_EQ(material->shader(), nullptr) << "its resources went back to the cache";
    quern::RefCounted::release(node);
    quern::RefCounted::release(material);
}

// The visuals made in a frame get their device buffers and state objects
// before the frame is drawn; one nobody else holds any more is skipped.
TEST_F(RenderSystemTest, CommittingMakesTheStateObjectsOfNewVisuals)
{
    w->preloadMesh(kCube, kUnitCube);
    w->preloadMaterial(kStone);
    const EntityHandle e = w->addMeshEntity("cube", kCube, { 0, 0, 0 });
    w->scene.set(e, "Renderer", "material", { static_cast<f64>(kStone) });
    const EntityHandle gone = w->scene.add("gone", { "Transform" });
    w->start();
    Visual* orphan = w->render->getOrCreateVisual(gone.index());
    ASSERT_NE(orphan, nullptr);
    quern::RefCounted::retain(orphan);
    const quern::graphics::Shader* orphanShader = orphan->material()->shader();
    w->world().destroyEntities(&gone, 1);
    w->render->releaseFrameResources();
    const i32 orphanCount = orphan->refCount();

    Visual* visual = w->render->visual(e.index());
    const i32 visualCount = visual->refCount();
    GenericMaterial* material = entityMaterial(e);
    EXPECT_TRUE(material->isDirty());
    device.shaders.clear();
    w->render->commitDynamicVisuals();
    EXPECT_FALSE(material->isDirty());
    ASSERT_NE(material->shader(), nullptr);
    bool made = false;
    for (const auto& [handle, shader] : device.shaders) {
        made = made || shader == material->shader();
        EXPECT_NE(shader, orphanShader) << "a visual only the list held";
    }
    EXPECT_TRUE(made);
    EXPECT_EQ(visual->refCount(), visualCount - 1) << "the list let go";
    EXPECT_EQ(orphan->refCount(), orphanCount - 1);
    quern::RefCounted::release(orphan);
}

// The list of visuals waiting for their commit lets go of them while it
// still holds them: after detach only the test's reference is left.
TEST_F(RenderSystemTest, DetachLetsGoOfUncommittedVisualsBeforeFreeingTheList)
{
    const EntityHandle e = w->scene.add("emitter", { "Transform" });
    w->start();
    Visual* visual = w->render->getOrCreateVisual(e.index());
    ASSERT_NE(visual, nullptr);
    EXPECT_EQ(w->render->getOrCreateVisual(e.index()), visual);
    EXPECT_EQ(w->node(e)->visual(), visual);
    quern::RefCounted::retain(visual);
    w->world().clear();
    EXPECT_EQ(visual->refCount(), 1);
    quern::RefCounted::release(visual);
}

TEST_F(RenderSystemTest, SubtreesMoveBetweenPassesAndSwitchRenderingTogether)
{
    const EntityHandle root = w->scene.add("root", { "Transform", "Renderer", "ParticleAppearance" });
    const EntityHandle child = w->scene.add("child", { "Transform", "Renderer", "ParticleAppearance" }, root);
    const EntityHandle grandchild
        = w->scene.add("grandchild", { "Transform", "Renderer", "ParticleAppearance" }, child);
    const EntityHandle bare = w->scene.add("bare", { "Transform" }, child);
    const EntityHandle sibling = w->scene.add("sibling", { "Transform", "Renderer", "ParticleAppearance" });
    w->start();

    w->render->setRenderEnabledRecursive(root, w->world(), false);
    for (EntityHandle e : { root, child, grandchild })
        EXPECT_FALSE(w->world().getEnabledMask(e.index()).test(Renderable::kType)) << e.index();
    EXPECT_FALSE(w->world().getEnabledMask(bare.index()).test(Renderable::kType)) << "it has none to switch on";
    EXPECT_TRUE(w->world().getEnabledMask(sibling.index()).test(Renderable::kType));
    w->updateAt(0);
    EXPECT_EQ(w->node(grandchild)->hidden, 1);
    EXPECT_EQ(w->node(sibling)->hidden, 0);
    w->render->setRenderEnabledRecursive(child, w->world(), true);
    EXPECT_FALSE(w->world().getEnabledMask(root.index()).test(Renderable::kType));
    EXPECT_TRUE(w->world().getEnabledMask(grandchild.index()).test(Renderable::kType));
}

// The ray through the middle of the frame runs along the camera's view; the
// frame is found inside a viewport that does not cover the target.
TEST_F(RenderSystemTest, ScreenPointsGiveRaysThroughTheCamerasView)
{
    const EntityHandle camera = w->scene.add("camera", { "Transform", "CameraLens" });
    w->scene.get<Transform>(camera).position = { 3, 4, -10 };
    w->scene.set(camera, "CameraLens", "fieldOfView", { 60 });
    w->scene.set(camera, "CameraLens", "nearPlane", { 1 });
    w->scene.set(camera, "CameraLens", "farPlane", { 100 });
    w->start();
    w->updateAt(0);

    quern::math::Ray ray;
    w->render->screenPointToRay(ray, 320, 180);
    EXPECT_NEAR(ray.origin.x, 3.0f, 1e-4f);
    EXPECT_NEAR(ray.origin.y, 4.0f, 1e-4f);
    EXPECT_NEAR(ray.direction.x, 0.0f, 1e-5f);
    EXPECT_NEAR(ray.direction.y, 0.0f, 1e-5f);
    EXPECT_NEAR(ray.direction.z, 1.0f, 1e-5f);
    w->render->screenPointToRay(ray, 10, 10);
    EXPECT_LT(ray.direction.x, 0.0f);
    EXPECT_GT(ray.direction.y, 0.0f);

    // A 320 x 180 viewport 100 pixels from the left and 50 from the bottom
    // has its middle at (260, 220) from the frame's top left.
    const quern::i32 viewport[4] = { 100, 50, 320, 180 };
    std::memcpy(w->render->pass(0)->viewport, viewport, sizeof viewport);
    w->render->screenPointToRay(ray, 260, 220);
    EXPECT_NEAR(ray.direction.x, 0.0f, 1e-5f);
    EXPECT_NEAR(ray.direction.y, 0.0f, 1e-5f);
}

// The frame animation scrolls the material's main texture: u by the frame's
// share of the count, v as the record says.
TEST_F(RenderSystemTest, FrameAnimationsOffsetTheMainTexture)
{
    w->preloadMesh(kCube, kUnitCube);
    w->preloadMaterial(kStone);
    const EntityHandle e = w->addMeshEntity("sign", kCube, { 0, 0, 0 });
    w->scene.set(e, "Renderer", "material", { static_cast<f64>(kStone) });
    w->scene.set(e, "FrameAnimation", "frameCount", { 4 });
    w->scene.set(e, "FrameAnimation", "currentFrame", { 1 });
    w->scene.set(e, "FrameAnimation", "currentValue", { 0.25 });
    w->start();
    w->updateAt(0);
    GenericMaterial* material = entityMaterial(e);
    const MaterialProperty* mainTexture = property(material, "_MainTex");
    ASSERT_NE(mainTexture, nullptr);
    expectVector(mainTexture->offset, { 0.25f, 0.25f });

    // Once the pass exists the uniform is written too.
    w->render->commitDynamicVisuals();
    ASSERT_FALSE(material->isDirty());
    ASSERT_NE(mainTexture->scaleOffsetUniform, nullptr);
    w->scene.set(e, "FrameAnimation", "currentFrame", { 2 });
    w->updateAt(kTick);
    expectVector(mainTexture->scaleOffsetUniform->storage(), { 1.0f, 1.0f, 0.5f, 0.25f });

    w->scene.set(e, "FrameAnimation", "frameCount", { 0 });
    w->updateAt(2 * kTick);
    EXPECT_EQ(mainTexture->offset[0], 0.0f) << "no frames: no division";
}

// The animation system scrolls the surface by the world clock; the offset
// reaches the entity's own material and, once its pass exists, the uniform.
TEST_F(RenderSystemTest, TextureScrollReachesTheEntitysMaterial)
{
    auto* animation = new AnimationSystem(w->context);
    w->scene.addSystem(animation);
    w->preloadMesh(kCube, kUnitCube);
    w->preloadMaterial(kStone);
    const EntityHandle e = w->addMeshEntity("river", kCube, { 1.5f, 2.0f, 0.0f });
    w->scene.set(e, "Renderer", "material", { static_cast<f64>(kStone) });
    w->scene.set(e, "TextureScroll", "speed", { 0.5 });
    w->scene.set(e, "TextureScroll", "timeOffset", { 1.0 });
    w->scene.set(e, "TextureScroll", "uRate", { 2.0 });
    w->scene.set(e, "TextureScroll", "vRate", { -1.0 });
    w->start();
    w->updateAt(3'000'000); // f = (3 + 1) * 0.5
    const MaterialProperty* mainTexture = property(entityMaterial(e), "_MainTex");
    ASSERT_NE(mainTexture, nullptr);
    expectVector(mainTexture->offset, { 4.0f, -2.0f });

    w->render->commitDynamicVisuals();
    ASSERT_NE(mainTexture->scaleOffsetUniform, nullptr);
    w->updateAt(5'000'000);
    expectVector(mainTexture->scaleOffsetUniform->storage(), { 1.0f, 1.0f, 6.0f, -3.0f });

    // A random start derived from where the surface stands.
    w->scene.set(e, "TextureScroll", "randomU", { 1 });
    w->updateAt(5'000'000);
    u64 x = 0;
    std::memcpy(&x, &w->scene.get<Transform>(e).position, sizeof x);
    x = x * 4561u + 51349u;
    EXPECT_FLOAT_EQ(mainTexture->offset[0], 6.0f + static_cast<f32>(x) / 18446744073709551616.0f * 20.0f - 10.0f);
    EXPECT_FLOAT_EQ(mainTexture->offset[1], -3.0f);
}

using RenderSystemDeathTest = RenderSystemTest;

TEST_F(RenderSystemDeathTest, ARendererOfNoKnownKindIsFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    w->scene.add("mystery", { "Transform", "Renderer" });
    EXPECT_DEATH(w->start(), "Unknown renderer type");
}

} // namespace
