#pragma once
// A game world built in memory for tests: entities with components of the
// game's model, named as level sources name them, fields set by name, fixed
// ticks stepped by hand. Records can then be read back typed or as bytes.
//
//   harmonize::testing::Scenario scene;
//   auto root = scene.add("root", { "Transform" });
//   auto arm = scene.add("arm", { "Transform", "Race" }, root);
//   scene.set(arm, "Transform", "position", { 1, 0, 0 });
//   scene.start();
//   scene.tick(2);

#include "harmonize/components/ComponentTypes.h"

#include "quern/entity/World.h"

#include <initializer_list>
#include <vector>

namespace quern::entity {
class System;
}

namespace harmonize::testing {

class Scenario {
public:
    explicit Scenario(u64 capacity = 64);

    // A new entity with the named components at their defaults; `parent`, when
    // given, goes into its Transform. A dormant entity starts with nothing
    // enabled, as a level's prefab templates do, and stays inactive at start.
    EntityHandle add(const char* name, std::initializer_list<const char*> components, EntityHandle parent = {},
        bool dormant = false);
    // Sets the field's elements in order; adds the component when missing.
    void set(EntityHandle entity, const char* component, const char* field, std::initializer_list<f64> values);
    void setParent(EntityHandle child, EntityHandle parent);

    template <class Record> Record& get(EntityHandle entity)
    {
        return *static_cast<Record*>(m_world.getComponent(entity.index(), Record::kType));
    }
    void* bytes(EntityHandle entity, u32 type) { return m_world.getComponent(entity.index(), type); }

    // The World owns the system from here on.
    void addSystem(quern::entity::System* system) { m_world.addSystem(system); }
    // Announces the entities to the systems and activates those not dormant.
    void start();
    void tick(u32 count = 1) { m_world.fixedTick(count); }

    quern::entity::World& world() { return m_world; }

private:
    void addComponent(EntityHandle entity, u32 type);
    bool isDormant(EntityHandle entity) const { return entity.index() < m_dormant.size() && m_dormant[entity.index()]; }

    quern::entity::World m_world;
    std::vector<bool> m_dormant; // by slot
};

} // namespace harmonize::testing
