#include "harmonize/Scenario.h"

#include "harmonize/components/ComponentFields.h"
#include "harmonize/components/Transform.h"

#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Format.h"

namespace harmonize::testing {

namespace {

u32 typeNamed(const char* name)
{
    const i32 type = findComponentType(name);
    if (type < 0)
        QUERN_FATAL(quern::strings::format<256>("Scenario: no component type %s", name));
    return static_cast<u32>(type);
}

} // namespace

Scenario::Scenario(u64 capacity)
{
    m_world.allocateComponentStore(ComponentSizeTable, kComponentTypeCount, capacity, nullptr);
}

void Scenario::addComponent(EntityHandle entity, u32 type)
{
    if (m_world.getComponentMask(entity.index()).test(type))
        return;
    fillComponentDefaults(componentLayout(type), m_world.getComponent(entity.index(), type));
    m_world.getComponentMask(entity.index()).set(type);
    if (!isDormant(entity))
        m_world.getEnabledMask(entity.index()).set(type);
}

EntityHandle Scenario::add(
    const char* name, std::initializer_list<const char*> components, EntityHandle parent, bool dormant)
{
    const EntityHandle entity = m_world.createEntity();
    m_world.setEntityName(entity, name);
    if (m_dormant.size() <= entity.index())
        m_dormant.resize(entity.index() + 1u, false);
    m_dormant[entity.index()] = dormant;
    for (const char* component : components)
        addComponent(entity, typeNamed(component));
    if (!parent.isNull())
        setParent(entity, parent);
    return entity;
}

void Scenario::set(EntityHandle entity, const char* component, const char* fieldName, std::initializer_list<f64> values)
{
    const u32 type = typeNamed(component);
    const ComponentField* field = findComponentField(componentLayout(type), fieldName);
    if (!field)
        QUERN_FATAL(quern::strings::format<256>("Scenario: %s has no field %s", component, fieldName));
    if (values.size() != field->count)
        QUERN_FATAL(quern::strings::format<256>("Scenario: %s.%s takes %u values", component, fieldName, field->count));
    addComponent(entity, type);
    u32 index = 0;
    for (f64 value : values)
        writeFieldFloat(*field, m_world.getComponent(entity.index(), type), index++, value);
}

void Scenario::setParent(EntityHandle child, EntityHandle parent)
{
    addComponent(child, Transform::kType);
    get<Transform>(child).parent = parent;
}

void Scenario::start() { m_world.start(); }

} // namespace harmonize::testing
