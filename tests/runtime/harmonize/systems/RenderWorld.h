#pragma once
// A game world with the three systems that draw it (transform hierarchy,
// lighting, render), a loading worker whose cache plays the level's preload,
// and the clock driven by hand. Build it after the display the test draws
// with is installed, and destroy it before that display goes.

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/display/DisplaySettings.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/EntityScenePass.h"
#include "harmonize/systems/LightingSystem.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/systems/TransformHierarchySystem.h"
#include "harmonize/tasks/LoadingWorker.h"

#include "quern/assets/ResourceCache.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/scene/Node.h"
#include "quern/visuals/MeshVisual.h"

#include "harmonize/Scenario.h"
#include "support/RecordingGraphicsBackEnd.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace harmonize::testing {

class RenderWorld {
public:
    static constexpr u64 kTickStep = 20'000; // microseconds

    explicit RenderWorld(u64 capacity = 32, TaskDispatcher* dispatcher = nullptr)
        : scene(capacity)
    {
        context.services.loadingWorker = &worker;
        context.services.taskDispatcher = dispatcher;
        hierarchy = new TransformHierarchySystem;
        context.transformHierarchy = hierarchy;
        lighting = new LightingSystem(context);
        context.lighting = lighting;
        render = new RenderSystem(context, *lighting, *hierarchy);
        context.render = render;
        scene.addSystem(hierarchy);
        scene.addSystem(lighting);
        scene.addSystem(render);
        world().clock.step = kTickStep;
    }

    quern::entity::World& world() { return scene.world(); }

    // Attaches the systems, starts the world and computes the world spheres.
    void start()
    {
        world().attachSystems(nullptr);
        scene.start();
        hierarchy->updateWorldMatrices(world());
    }

    // One fixed tick stamped `time`.
    void tickAt(u64 time)
    {
        world().clock.tickBase = time;
        world().fixedTick(1);
    }
    // One frame's update at `time`, then the matrices the update task keeps.
    void updateAt(u64 time)
    {
        world().variableUpdate(time);
        hierarchy->updateWorldMatrices(world());
    }

    // A mesh the level preloaded: its vertices at `points`, one sub-mesh.
    quern::visuals::MeshVisual* preloadMesh(u64 id, const std::vector<quern::math::Vector3>& points, u64 bones = 0)
    {
        auto* mesh = preload<quern::visuals::MeshVisual>(id, quern::assets::ResourceType::Mesh);
        quern::graphics::VertexBuffer* vertices
            = mesh->getVertexBuffer(quern::graphics::BufferUsage::Static | quern::graphics::BufferUsage::Draw);
        vertices->setVertexFormat(quern::graphics::vertexFormatFromString("position"));
        vertices->resizeElements(points.size());
        if (!points.empty()) {
            quern::u8* at = vertices->lockVertices(quern::containers::BufferBase::Lock::Write, 0, points.size());
            for (const quern::math::Vector3& p : points) {
                const f32 xyz[3] = { p.x, p.y, p.z };
                std::memcpy(at, xyz, sizeof xyz);
                at += sizeof xyz;
            }
            vertices->unlockVertices();
        }
        mesh->getFirstSubMesh();
        mesh->boneMatrices().expand(bones);
        return mesh;
    }

    // A material the level preloaded, with a "_MainTex" texture property.
    quern::graphics::GenericMaterial* preloadMaterial(u64 id)
    {
        auto* material = preload<quern::graphics::GenericMaterial>(id, quern::assets::ResourceType::Material);
        material->addProperty("_MainTex", quern::graphics::MaterialPropertyType::Texture);
        return material;
    }

    // An entity drawn with the preloaded mesh `mesh` at `position`.
    EntityHandle addMeshEntity(const char* name, u64 mesh, quern::math::Vector3 position, EntityHandle parent = {})
    {
        const EntityHandle e = scene.add(name, { "Transform", "Renderer", "MeshReference" }, parent);
        scene.set(e, "MeshReference", "mesh", { static_cast<f64>(mesh) });
        scene.get<Transform>(e).position = position;
        return e;
    }

    quern::scene::Node* node(EntityHandle entity) const
    {
        const std::vector<quern::Ref>& nodes = render->pass(0)->nodes;
        return entity.index() < nodes.size() ? nodes[entity.index()].get<quern::scene::Node>() : nullptr;
    }

    LoadingWorker worker { nullptr, nullptr };
    AppContext context;
    Scenario scene;
    TransformHierarchySystem* hierarchy;
    LightingSystem* lighting;
    RenderSystem* render;

    // A resource of type T the level preloaded under `id`, default-made.
    template <class T> T* preload(u64 id, u64 type)
    {
        quern::assets::ResourceCache& cache = worker.cache();
        const u32 handle = cache.allocateAndInsert(quern::assets::resourceKey(id, type), type, sizeof(T), alignof(T));
        u64 found = 0;
        T* object = new (cache.entry(handle, found)) T();
        quern::RefCounted::retain(object); // the cache's reference
        cache.release(handle);
        return object;
    }
};

// Draws on the recording device with a 640 x 360 display; the settings the
// render tests change are put back afterwards.
class RenderWorldTest : public quern::test::RecordingDisplayTest {
protected:
    void SetUp() override
    {
        RecordingDisplayTest::SetUp();
        m_display = processDisplaySize();
        m_animation = Settings::Animation;
        m_renderer = Settings::Renderer;
        m_threading = Settings::Threading;
        processDisplaySize() = DisplaySize { 640, 360 };
        w = std::make_unique<RenderWorld>();
    }
    void TearDown() override
    {
        w.reset();
        processDisplaySize() = m_display;
        Settings::Animation = m_animation;
        Settings::Renderer = m_renderer;
        Settings::Threading = m_threading;
        RecordingDisplayTest::TearDown();
    }

    std::unique_ptr<RenderWorld> w;

private:
    DisplaySize m_display;
    AnimationSettings m_animation;
    RendererSettings m_renderer;
    ThreadingSettings m_threading;
};

} // namespace harmonize::testing
