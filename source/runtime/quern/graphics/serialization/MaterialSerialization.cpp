#include "quern/graphics/serialization/MaterialSerialization.h"

#include "quern/assets/AssetLoaderContext.h"
#include "quern/assets/ResourceCache.h"
#include "quern/containers/Array.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/PODToken.h"
#include "quern/serialize/PODTypeDescriptor.h"
#include "quern/serialize/PODUtility.h"
#include "quern/strings/Format.h"

namespace quern::graphics {
namespace {

using serialize::PODComponent;
using serialize::PODKind;
using serialize::PODTypeDescriptor;

using serialize::kF32x2Descriptor;
using serialize::kF32x4Descriptor;
using serialize::kU8Descriptor;

// Highest values the device states take.
constexpr u8 kLastBlendFactor = 14;
constexpr u8 kLastCullMode = 2;
constexpr u8 kLastComparison = 7;
constexpr u32 kLastTextureUnit = 7;

struct Reader {
    ByteSource& source;
    serialize::PODToken& token;

    template <class T>
    T read(const PODTypeDescriptor& descriptor)
    {
        T value{};
        token.readPOD(source, &value, 1, &descriptor);
        return value;
    }
    u8 u8Value() { return read<u8>(kU8Descriptor); }
    u32 u32Value() { return read<u32>(serialize::kU32Descriptor); }
    u64 u64Value() { return read<u64>(serialize::kU64Descriptor); }
    f32 f32Value() { return read<f32>(serialize::kF32Descriptor); }
    void floats(f32* values, const PODTypeDescriptor& descriptor) { token.readPOD(source, values, 1, &descriptor); }
};

u8 checkedSetting(u8 value, u8 last, const char* what)
{
    if (value > last)
        QUERN_FATAL(strings::format<96>("Invalid material %s %u", what, unsigned{value}).c_str());
    return value;
}

void readProperty(Reader& in, MaterialProperty& property)
{
    const u32 start = serialize::expectChunk(in.source, in.token, kMaterialPropertyChunkId);
    in.token.readString(in.source, property.name, sizeof property.name);
    property.type = in.u8Value();
    property.reserved = -1;
    switch (property.type) {
    case static_cast<u32>(MaterialPropertyType::Color):
    case static_cast<u32>(MaterialPropertyType::Vector):
        in.floats(property.value, kF32x4Descriptor);
        break;
    case static_cast<u32>(MaterialPropertyType::Float):
        property.value[0] = in.f32Value();
        break;
    case static_cast<u32>(MaterialPropertyType::Texture):
        property.textureRef.assetId = in.u64Value();
        in.floats(property.offset, kF32x2Descriptor);
        in.floats(property.scale, kF32x2Descriptor);
        property.wrap = in.u32Value();
        property.unit = static_cast<i32>(in.u32Value());
        if (static_cast<u32>(property.unit) > kLastTextureUnit)
            QUERN_FATAL(strings::format<96>("Invalid material texture unit %u", static_cast<u32>(property.unit)).c_str());
        break;
    case static_cast<u32>(MaterialPropertyType::Uniform):
        break;
    default:
        QUERN_FATAL("Invalid material property type");
    }
    in.token.endReadChunk(in.source, start);
}

} // namespace

void readMaterial(ByteSource& source, serialize::PODToken& token, GenericMaterial& material)
{
    Reader in{source, token};
    const u32 start = serialize::expectChunk(source, token, kMaterialChunkId);
    char name[kMaterialNameCapacity];
    token.readString(source, name, sizeof name);
    material.setName(name);
    material.setVertexProgram(in.u64Value());
    material.setFragmentProgram(in.u64Value());
    material.setSourceFactor(checkedSetting(in.u8Value(), kLastBlendFactor, "source blend factor"));
    material.setDestinationFactor(checkedSetting(in.u8Value(), kLastBlendFactor, "destination blend factor"));
    material.setCullMode(checkedSetting(in.u8Value(), kLastCullMode, "cull mode"));
    material.setDepthComparison(checkedSetting(in.u8Value(), kLastComparison, "depth comparison"));

    const u32 count = in.u32Value();
    containers::Array properties(sizeof(MaterialProperty), alignof(MaterialProperty));
    // Grown as records arrive: a count the file does not hold runs into the
    // end of the data before it can claim memory.
    for (u32 i = 0; i < count; ++i) {
        MaterialProperty property{};
        readProperty(in, property);
        properties.append(property);
    }
    token.endReadChunk(source, start);
    material.setProperties(properties);
}

void MaterialHandler::load(ByteSource& source, assets::AssetLoaderContext& context)
{
    assets::ResourceRecord record;
    bool created = false;
    GenericMaterial* material =
        context.createResourceObject<GenericMaterial>(assets::ResourceType::Material, 0, record, created);
    if (!material)
        QUERN_FATAL("Can't create material resource");
    if (created)
        readMaterial(source, context.podToken(source), *material);
    if (void* scratch = context.scratch())
        *static_cast<GenericMaterial**>(scratch) = created ? material : nullptr;
}

void MaterialHandler::link(assets::AssetLoaderContext& context)
{
    void* scratch = context.scratch();
    if (!scratch)
        return;
    GenericMaterial*& loaded = *static_cast<GenericMaterial**>(scratch);
    if (loaded)
        loaded->link(context);
    loaded = nullptr;
}

void MaterialHandler::describe(assets::AssetHandlerInfo& info)
{
    info.format = assets::kNativeAssetFormat;
    info.typeId = assets::ResourceType::Material;
    // The material read by load, handed to link.
    info.scratchBytes = sizeof(GenericMaterial*);
}

} // namespace quern::graphics
