#include "quern/graphics/GenericMaterial.h"

#include "quern/assets/AssetLoaderContext.h"
#include "quern/assets/ResourceCache.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/ShaderProgram.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/Uniform.h"
#include "quern/graphics/materials/MaterialSupport.h"
#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/graphics/renderstate/TextureState.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Hashes.h"

#include <cstring>
#include <utility>

namespace quern::graphics {
namespace {

constexpr u64 kReservedProperties = 8;
constexpr auto kVertex = ShaderProgramState::VertexStage;
constexpr auto kFragment = ShaderProgramState::FragmentStage;

u32 nameHash(const char* name) { return strings::murmurHash2(name, std::strlen(name)); }

template <class T>
T* objectOf(void* resource)
{
    return resource ? static_cast<T*>(static_cast<RefCounted*>(resource)) : nullptr;
}

// The handle's object when the cache entry has the wanted type, else null.
void* entryOfType(assets::ResourceCache& cache, u32 handle, u64 wantedType)
{
    u64 typeId = 0;
    void* object = cache.entry(handle, typeId);
    return typeId == wantedType ? object : nullptr;
}

bool isTexture(const MaterialProperty& property)
{
    return property.type == static_cast<u32>(MaterialPropertyType::Texture);
}

bool isCodeUniform(const MaterialProperty& property)
{
    return property.type == static_cast<u32>(MaterialPropertyType::Uniform);
}

// Appends (retained) to the vertex list, then the fragment list.
void addToBoth(ShaderProgramState& programs, Uniform* uniform, ShaderProgramState::Stage first,
               ShaderProgramState::Stage second)
{
    programs.addUniform(uniform, first);
    programs.addUniform(uniform, second);
}

} // namespace

GenericMaterial::GenericMaterial()
    : m_nameHashes(sizeof(u32), alignof(u32)), m_properties(sizeof(MaterialProperty), alignof(MaterialProperty))
{
    reserveProperties(kReservedProperties);
}

GenericMaterial::GenericMaterial(const GenericMaterial& other)
    : Material(other), m_nameHashes(sizeof(u32), alignof(u32)),
      m_properties(sizeof(MaterialProperty), alignof(MaterialProperty)), m_vertexProgram(other.m_vertexProgram),
      m_fragmentProgram(other.m_fragmentProgram), m_sourceFactor(other.m_sourceFactor),
      m_destinationFactor(other.m_destinationFactor), m_cullMode(other.m_cullMode),
      m_depthComparison(other.m_depthComparison)
{
    m_nameHashes.assign(other.m_nameHashes.data(),
                        static_cast<const u8*>(other.m_nameHashes.data()) + other.m_nameHashes.usedBytes());
    reserveProperties(std::max<u64>(other.m_properties.count(), kReservedProperties));
    m_properties.assign(other.m_properties.data(),
                        static_cast<const u8*>(other.m_properties.data()) + other.m_properties.usedBytes());
    m_vertexProgramRef.cache = other.m_vertexProgramRef.cache;
    m_vertexProgramRef.asset.assetId = other.m_vertexProgramRef.asset.assetId;
    m_fragmentProgramRef.cache = other.m_fragmentProgramRef.cache;
    m_fragmentProgramRef.asset.assetId = other.m_fragmentProgramRef.asset.assetId;
    for (u64 i = 0; i < m_properties.count(); ++i) {
        MaterialProperty& property = m_properties.at<MaterialProperty>(i);
        if (isCodeUniform(property) && property.uniform)
            RefCounted::retain(property.uniform);
        // The handles are the original's to give back; a copy takes its own.
        if (isTexture(property)) {
            property.texture = nullptr;
            property.textureRef.handle = 0;
        }
    }
}

GenericMaterial::~GenericMaterial()
{
    for (u64 i = 0; i < m_properties.count(); ++i) {
        MaterialProperty& property = m_properties.at<MaterialProperty>(i);
        if (isCodeUniform(property) && property.uniform)
            RefCounted::release(property.uniform);
        else if (isTexture(property) && property.textureRef.handle && m_textureCache)
            m_textureCache->release(property.textureRef.handle);
    }
    m_properties.clear();
    releaseProgram(m_vertexProgramRef);
    releaseProgram(m_fragmentProgramRef);
}

GenericMaterial* GenericMaterial::clone() const { return new GenericMaterial(*this); }

void GenericMaterial::releaseProgram(ProgramRef& program)
{
    if (program.asset.handle && program.cache)
        program.cache->release(program.asset.handle);
    program.asset.handle = 0;
}

void GenericMaterial::setVertexProgram(u64 assetId)
{
    releaseProgram(m_vertexProgramRef);
    m_vertexProgramRef = ProgramRef{nullptr, assets::AssetRef{assetId, 0}};
    setDirty();
}

void GenericMaterial::setFragmentProgram(u64 assetId)
{
    releaseProgram(m_fragmentProgramRef);
    m_fragmentProgramRef = ProgramRef{nullptr, assets::AssetRef{assetId, 0}};
    setDirty();
}

void GenericMaterial::setSetting(u32& field, u32 value)
{
    if (field == value)
        return;
    field = value;
    setDirty();
}

MaterialProperty& GenericMaterial::property(i32 index)
{
    if (index < 1 || static_cast<u64>(index) > m_properties.count())
        QUERN_FATAL("Material property index out of range");
    return m_properties.at<MaterialProperty>(static_cast<u64>(index - 1));
}

const MaterialProperty& GenericMaterial::property(i32 index) const
{
    return const_cast<GenericMaterial*>(this)->property(index);
}

i32 GenericMaterial::addProperty(const char* name, MaterialPropertyType type)
{
    MaterialProperty record{};
    std::strncpy(record.name, name, MaterialProperty::kNameCapacity - 1);
    record.type = static_cast<u32>(type);
    m_properties.append(record);
    setDirty();
    m_nameHashes.append(nameHash(name));
    return static_cast<i32>(m_properties.count());
}

void GenericMaterial::reserveProperties(u64 count)
{
    if (count > m_properties.capacity())
        m_properties.reserve(count);
}

i32 GenericMaterial::findProperty(const char* name) const { return findPropertyByHash(nameHash(name)); }

i32 GenericMaterial::findPropertyByHash(u32 hash) const
{
    const u32* hashes = m_nameHashes.dataAs<u32>();
    for (u64 i = 0; i < m_nameHashes.count(); ++i)
        if (hashes[i] == hash)
            return static_cast<i32>(i + 1);
    return 0;
}

i32 GenericMaterial::setFog(f32 start, f32 end)
{
    const i32 index = addProperty("fog", MaterialPropertyType::Vector);
    f32* value = property(index).value;
    value[0] = start;
    value[1] = end;
    value[2] = 0.0f;
    value[3] = 1.0f;
    return index;
}

bool GenericMaterial::passIsShared() const
{
    const Shader* pass = shader();
    if (!pass || pass->refCount() > 1)
        return true;
    const RenderState* programs = pass->renderState(RenderStateID::ShaderProgramState);
    return !programs || programs->refCount() > 1;
}

void GenericMaterial::setPropertyValues(i32 index, const f32* values, u32 count)
{
    MaterialProperty& target = property(index);
    std::memcpy(target.value, values, count * sizeof(f32));
    if (isDirty())
        return;
    const bool vectorUniform = target.type == static_cast<u32>(MaterialPropertyType::Color) ||
                               target.type == static_cast<u32>(MaterialPropertyType::Vector);
    const bool floatUniform = target.type == static_cast<u32>(MaterialPropertyType::Float);
    const bool fits = (vectorUniform && count == 4) || (floatUniform && count == 1);
    // Writing a uniform that other passes hold would change every copy.
    if (!fits || !target.uniform || passIsShared())
        setDirty();
    else
        std::memcpy(target.uniform->storage(), values, count * sizeof(f32));
}

void GenericMaterial::setPropertyRGB(i32 index, f32 r, f32 g, f32 b)
{
    const f32 colour[4] = {r, g, b, 1.0f};
    setPropertyValues(index, colour, 4);
}

void GenericMaterial::setPropertyVector(i32 index, const f32 value[4]) { setPropertyValues(index, value, 4); }

void GenericMaterial::setPropertyFloat(i32 index, f32 value) { setPropertyValues(index, &value, 1); }

void GenericMaterial::setPropertyTexture(i32 index, Texture* texture)
{
    MaterialProperty& target = property(index);
    target.texture = texture;
    if (isDirty())
        return;
    if (!isTexture(target) || !shader() || shader()->refCount() > 1)
        setDirty();
    else
        materials::texturesForWrite(*shader())->setTexture(static_cast<u32>(target.unit), texture);
}

void GenericMaterial::updatePropertyRGB(i32 index, f32 r, f32 g, f32 b)
{
    const f32* value = property(index).value;
    const f32 wanted[4] = {r, g, b, 1.0f};
    for (u32 i = 0; i < 4; ++i)
        if (value[i] < wanted[i] || value[i] > wanted[i]) {
            setPropertyRGB(index, r, g, b);
            return;
        }
}

void GenericMaterial::setPropertyUniform(i32 index, Uniform* uniform)
{
    MaterialProperty& target = property(index);
    if (target.uniform == uniform)
        return;
    if (!isCodeUniform(target))
        QUERN_FATAL("setPropertyUniform on a material property that is not of the uniform type");
    if (uniform) {
        uniform->setName(target.name);
        RefCounted::retain(uniform);
    }
    if (target.uniform)
        RefCounted::release(target.uniform);
    target.uniform = uniform;
    setDirty();
}

void GenericMaterial::setProperties(containers::Array& properties)
{
    if (properties.elementSize() != sizeof(MaterialProperty))
        QUERN_FATAL("setProperties needs an array of material properties");
    std::swap(m_properties, properties);
    rebuildNameHashes();
    setDirty();
}

void GenericMaterial::rebuildNameHashes()
{
    m_nameHashes.clear();
    m_nameHashes.reserve(m_properties.count());
    for (u64 i = 0; i < m_properties.count(); ++i)
        m_nameHashes.append(nameHash(m_properties.at<MaterialProperty>(i).name));
}

void GenericMaterial::link(assets::AssetLoaderContext& context)
{
    using assets::ResourceType::ShaderProgram;
    if (const u64 id = m_vertexProgramRef.asset.assetId)
        m_vertexProgram = objectOf<graphics::ShaderProgram>(context.findResource(id, ShaderProgram, 0));
    if (const u64 id = m_fragmentProgramRef.asset.assetId)
        m_fragmentProgram = objectOf<graphics::ShaderProgram>(context.findResource(id, ShaderProgram, 0));
    for (u64 i = 0; i < m_properties.count(); ++i) {
        MaterialProperty& property = m_properties.at<MaterialProperty>(i);
        if (isTexture(property) && property.textureRef.assetId)
            property.texture = objectOf<Texture>(
                context.findResource(property.textureRef.assetId, assets::ResourceType::Texture, 0));
    }
}

void GenericMaterial::acquireResources(assets::Depot& depot, assets::ResourceCache& cache)
{
    const auto acquireProgram = [&](ProgramRef& program, graphics::ShaderProgram*& resolved) {
        if (program.asset.assetId == 0)
            return;
        if (program.asset.handle == 0) {
            program.asset.resolve(assets::ResourceType::ShaderProgram, depot, cache);
            program.cache = &cache;
        }
        resolved = objectOf<graphics::ShaderProgram>(
            entryOfType(*program.cache, program.asset.handle, assets::ResourceType::ShaderProgram));
    };
    acquireProgram(m_vertexProgramRef, m_vertexProgram);
    acquireProgram(m_fragmentProgramRef, m_fragmentProgram);

    for (u64 i = 0; i < m_properties.count(); ++i) {
        MaterialProperty& property = m_properties.at<MaterialProperty>(i);
        if (!isTexture(property) || property.textureRef.assetId == 0)
            continue;
        if (property.textureRef.handle == 0)
            property.textureRef.resolve(assets::ResourceType::Texture, depot, cache);
        m_textureCache = &cache;
        property.texture =
            objectOf<Texture>(entryOfType(cache, property.textureRef.handle, assets::ResourceType::Texture));
    }
}

void GenericMaterial::detach(assets::ResourceCache& cache)
{
    const auto detachProgram = [this](ProgramRef& program, graphics::ShaderProgram*& resolved) {
        if (program.asset.assetId == 0)
            return;
        releaseProgram(program);
        program.cache = nullptr;
        resolved = nullptr;
    };
    detachProgram(m_vertexProgramRef, m_vertexProgram);
    detachProgram(m_fragmentProgramRef, m_fragmentProgram);
    for (u64 i = 0; i < m_properties.count(); ++i) {
        MaterialProperty& property = m_properties.at<MaterialProperty>(i);
        if (!isTexture(property))
            continue;
        if (property.textureRef.handle)
            cache.release(property.textureRef.handle);
        property.textureRef.handle = 0;
        property.texture = nullptr;
    }
    m_textureCache = nullptr;
    Material::detach(cache);
}

TextureState* GenericMaterial::textureState() const
{
    return shader() ? static_cast<TextureState*>(shader()->renderState(RenderStateID::TextureState)) : nullptr;
}

Shader* GenericMaterial::createShader(Display&)
{
    auto* pass = new Shader();
    pass->getAlphaBlendState();
    pass->getCullState();
    pass->getDepthBufferState();
    pass->getShaderProgramState();
    pass->getTextureState();
    return pass;
}

void GenericMaterial::setUpShader(Shader& pass)
{
    ShaderProgramState* programs = pass.getShaderProgramState();
    programs->setVertexProgram(m_vertexProgram);
    materials::clearUniforms(*programs, kVertex);
    programs->setFragmentProgram(m_fragmentProgram);
    materials::clearUniforms(*programs, kFragment);

    TextureState* textures = materials::texturesForWrite(pass);
    textures->setUnitsEnabled(false);
    for (u32 unit = 0; unit < TextureState::kUnitCount; ++unit)
        textures->setTexture(unit, nullptr);

    for (u64 i = 0; i < m_properties.count(); ++i)
        setUpProperty(m_properties.at<MaterialProperty>(i), *programs, *textures);

    programs->addUniform(new ModelViewProjectionMatrixUniform(), kVertex);
    programs->addUniform(new ModelViewMatrixUniform(), kVertex);
    programs->addUniform(new ModelMatrixUniform(), kVertex);
    programs->addUniform(new ProjectionMatrixUniform(), kVertex);
    programs->addUniform(new NormalMatrixUniform(), kVertex);

    DepthBufferState* depth = pass.getDepthBufferState();
    depth->setComparison(static_cast<Comparison>(m_depthComparison));
    AlphaBlendState* blend = pass.getAlphaBlendState();
    if (m_sourceFactor == 1 && m_destinationFactor == 0) {
        blend->setEnabled(false);
        depth->setWriteEnabled(true);
    } else {
        // Transparent materials do not write depth.
        blend->setEnabled(true);
        blend->setSourceFactor(static_cast<AlphaBlendState::BlendFactor>(m_sourceFactor));
        blend->setDestinationFactor(static_cast<AlphaBlendState::BlendFactor>(m_destinationFactor));
        depth->setWriteEnabled(false);
    }
    pass.getCullState()->setCullMode(static_cast<u8>(m_cullMode));
}

void GenericMaterial::setUpProperty(MaterialProperty& property, ShaderProgramState& programs, TextureState& textures)
{
    switch (static_cast<MaterialPropertyType>(property.type)) {
    case MaterialPropertyType::Color:
    case MaterialPropertyType::Vector:
        property.uniform = materials::newUniform(property.name, UniformType::Vector, 4, property.value);
        addToBoth(programs, property.uniform, kVertex, kFragment);
        break;
    case MaterialPropertyType::Float:
        property.uniform = materials::newUniform(property.name, UniformType::Float, 1, property.value);
        addToBoth(programs, property.uniform, kVertex, kFragment);
        break;
    case MaterialPropertyType::Texture: {
        const u32 unit = static_cast<u32>(property.unit);
        textures.setUnitsEnabled(true);
        textures.setTexture(unit, property.texture);
        if (property.wrap != 0)
            textures.setWrap(unit, static_cast<u8>(property.wrap & 0xff));
        property.uniform = new TextureUniform(property.name, property.unit);
        const f32 scaleOffset[4] = {property.scale[0] != 0.0f ? property.scale[0] : 1.0f,
                                    property.scale[1] != 0.0f ? property.scale[1] : 1.0f, property.offset[0],
                                    property.offset[1]};
        const std::string name = std::string(property.name) + "ScaleOffset";
        property.scaleOffsetUniform = materials::newUniform(name.c_str(), UniformType::Vector, 4, scaleOffset);
        addToBoth(programs, property.scaleOffsetUniform, kFragment, kVertex);
        addToBoth(programs, property.uniform, kVertex, kFragment);
        break;
    }
    case MaterialPropertyType::Uniform:
        if (property.uniform)
            addToBoth(programs, property.uniform, kVertex, kFragment);
        break;
    }
}

} // namespace quern::graphics
