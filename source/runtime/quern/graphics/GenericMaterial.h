#pragma once
// The data-driven material: named properties (colours, vectors, floats,
// textures and uniforms supplied by code), a vertex and a fragment program
// given by asset id, and blend, cull and depth settings. Material assets load
// into it, and game code builds and changes them at run time. When its pass
// is built every property becomes a uniform of the pass (textures also a
// unit), and the automatic matrix uniforms are added.

#include "quern/Types.h"
#include "quern/assets/AssetRef.h"
#include "quern/containers/Array.h"
#include "quern/graphics/Material.h"

namespace quern::assets {
class AssetLoaderContext;
}

namespace quern::graphics {

class ShaderProgram;
class ShaderProgramState;
class Texture;
class TextureState;
class Uniform;

enum class MaterialPropertyType : u32 {
    Color = 1,   // 4 x f32 (r, g, b, a)
    Vector = 2,  // 4 x f32
    Float = 3,   // 1 x f32
    Texture = 4, // a texture asset with its sampling settings
    Uniform = 5, // a uniform object supplied by code
};

struct MaterialProperty {
    static constexpr u32 kNameCapacity = 20; // 19 characters and the terminator

    char name[kNameCapacity];
    u32 type;         // MaterialPropertyType
    i32 reserved;     // -1 from files, 0 from addProperty; not used
    Uniform* uniform; // made by the last set-up (owned by the pass), or a type 5 property's own (counted)
    f32 value[4];
    Texture* texture; // type 4, once resolved (not counted: the cache holds it)
    Uniform* scaleOffsetUniform;
    assets::AssetRef textureRef; // type 4: the texture asset; id 0 = none
    f32 offset[2];
    f32 scale[2]; // a component of 0 counts as 1
    u32 wrap;     // TextureState wrap byte; 0 leaves the unit's wrap
    i32 unit;     // 0-7
};

class GenericMaterial : public Material {
public:
    struct ProgramRef {
        assets::ResourceCache* cache = nullptr; // where the handle was taken
        assets::AssetRef asset;
    };

    GenericMaterial();
    // Shares the pass; program references keep their ids but no handles;
    // code-supplied uniforms are counted once more.
    GenericMaterial(const GenericMaterial& other);
    ~GenericMaterial() override;

    void getDefaultValues(const void*, const void*, const void*, f32[4], f32[4]) override {}
    // Resolves programs and textures through the cache (loading what it
    // lacks from the depot) and holds handles on them.
    void acquireResources(assets::Depot& depot, assets::ResourceCache& cache) override;
    // Gives every handle back and drops the pass.
    void detach(assets::ResourceCache& cache) override;
    // A copy whose texture properties must be linked or acquired again.
    GenericMaterial* clone() const override;
    // A pass with blend, cull, depth, program and texture states.
    Shader* createShader(Display& display) override;
    void setUpShader(Shader& shader) override;

    // Resolves programs and textures through the loader context (pointers
    // only, no handles).
    void link(assets::AssetLoaderContext& context);

    void setVertexProgram(u64 assetId);
    void setFragmentProgram(u64 assetId);

    // Appends a zeroed property and returns its 1-based index. Names keep 19
    // characters; the name hash is over the whole name.
    i32 addProperty(const char* name, MaterialPropertyType type);
    void reserveProperties(u64 count);
    // The 1-based index of the first property with this name, 0 when none.
    i32 findProperty(const char* name) const;
    // The same by the name's MurmurHash2, for callers that hash their names once.
    i32 findPropertyByHash(u32 nameHash) const;
    // The vector property "fog" (start, end, 0, 1); returns its index.
    i32 setFog(f32 start, f32 end);
    // Stores (r, g, b, 1). On a clean material whose pass nothing else
    // shares the value goes straight into the pass's uniform; when the pass
    // or its program state is shared the material is marked dirty instead,
    // so the copies sharing it keep their colour.
    void setPropertyRGB(i32 index, f32 r, f32 g, f32 b);
    // setPropertyRGB only when a component differs (a NaN never differs).
    void updatePropertyRGB(i32 index, f32 r, f32 g, f32 b);
    // The same rule as setPropertyRGB for four floats and for one float.
    void setPropertyVector(i32 index, const f32 value[4]);
    void setPropertyFloat(i32 index, f32 value);
    // Stores the texture (not counted: its owner keeps it alive while the
    // material uses it). On a clean material whose pass nothing else holds
    // it also goes into the property's unit at once; otherwise the material
    // is marked dirty and the rebuilt pass takes it.
    void setPropertyTexture(i32 index, Texture* texture);
    // Gives a type 5 property its uniform (counted; the one it replaces is
    // released). The uniform takes the property's name.
    void setPropertyUniform(i32 index, Uniform* uniform);
    // Takes `properties` (an Array of MaterialProperty) and hands back the
    // material's previous ones.
    void setProperties(containers::Array& properties);

    u64 propertyCount() const { return m_properties.count(); }
    // By 1-based index; an index outside the list is fatal.
    MaterialProperty& property(i32 index);
    const MaterialProperty& property(i32 index) const;
    const containers::Array& nameHashes() const { return m_nameHashes; }

    const ProgramRef& vertexProgramRef() const { return m_vertexProgramRef; }
    const ProgramRef& fragmentProgramRef() const { return m_fragmentProgramRef; }
    ShaderProgram* vertexProgram() const { return m_vertexProgram; }
    ShaderProgram* fragmentProgram() const { return m_fragmentProgram; }
    // The texture state of the current pass, or null.
    TextureState* textureState() const;

    u32 sourceFactor() const { return m_sourceFactor; }
    u32 destinationFactor() const { return m_destinationFactor; }
    u32 cullMode() const { return m_cullMode; }
    u32 depthComparison() const { return m_depthComparison; }
    // Each marks the material dirty when the value changes.
    void setSourceFactor(u32 factor) { setSetting(m_sourceFactor, factor); }
    void setDestinationFactor(u32 factor) { setSetting(m_destinationFactor, factor); }
    void setCullMode(u32 mode) { setSetting(m_cullMode, mode); }
    void setDepthComparison(u32 comparison) { setSetting(m_depthComparison, comparison); }

private:
    void setSetting(u32& field, u32 value);
    void releaseProgram(ProgramRef& program);
    void rebuildNameHashes();
    bool passIsShared() const;
    void setPropertyValues(i32 index, const f32* values, u32 count);
    void setUpProperty(MaterialProperty& property, ShaderProgramState& programs, TextureState& textures);

    containers::Array m_nameHashes;
    containers::Array m_properties;
    ProgramRef m_vertexProgramRef;
    ProgramRef m_fragmentProgramRef;
    ShaderProgram* m_vertexProgram = nullptr;
    ShaderProgram* m_fragmentProgram = nullptr;
    // Where the texture handles were taken, to give them back.
    assets::ResourceCache* m_textureCache = nullptr;
    u32 m_sourceFactor = 1;
    u32 m_destinationFactor = 0;
    u32 m_cullMode = 2;
    u32 m_depthComparison = 2;
};

} // namespace quern::graphics
