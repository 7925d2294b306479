#pragma once
// The eight texture units of a pass: sampling settings per unit, and the
// texture each unit holds. Textures are bound per draw, so swapping a unit's
// texture does not touch the device state built from the settings.

#include "quern/graphics/renderstate/RenderState.h"

namespace quern::graphics {

class Texture;

struct TextureUnit {
    f32 block[16];     // cleared; compared as sixteen values
    f32 maxAnisotropy; // the device takes the smaller of it and its own maximum
    u8 enabled;        // a unit that is not enabled gets no sampling settings
    // 0 nearest, 1 linear: the magnifying filter, and the minifying one
    // without mip levels.
    u8 linearFiltering;
    // 0 no mip levels, 1 linear within the nearest level, 2 linear between
    // levels, other non-zero values linear without mip levels.
    u8 mipmapMode;
    // Bits 0-1 horizontal, 2-3 vertical: 1 repeat, 2 clamp, 3 clamp to edge.
    u8 wrap;
    u8 spare0;
    u8 compareFunction; // Comparison
    u8 compareMode;     // 0 none, 1 compare with the reference value
    u8 spare1;
    Texture* texture; // retained
};

class TextureState final : public RenderState {
public:
    static constexpr RenderStateID kKind = RenderStateID::TextureState;
    static constexpr u32 kUnitCount = 8;
    // Wrap values.
    static constexpr u8 kWrapRepeat = 1;
    static constexpr u8 kWrapClamp = 2;
    static constexpr u8 kWrapClampToEdge = 3;

    // Units enabled, anisotropy 1, linear filtering, linear between mip
    // levels, repeating both ways, no textures.
    explicit TextureState(StateObjectCache* cache);
    TextureState(const TextureState& other);
    ~TextureState() override;

    bool differs(const RenderState& other) const override;
    bool equals(const RenderState& other) const override;
    u32 hash() const override { return 0; }
    // Takes other's units that hold a texture (settings and texture); the
    // other units stay. No change is announced: textures are bound per draw.
    void assign(const RenderState& other) override;

    // Swaps the unit's retained texture; an unchanged one is ignored.
    void setTexture(u32 unit, Texture* texture);
    Texture* texture(u32 unit) const { return unitAt(unit).texture; }
    const TextureUnit& unit(u32 unit) const { return unitAt(unit); }

    void setUnitsEnabled(bool enabled);
    void setUnitEnabled(u32 unit, bool enabled);
    void setLinearFiltering(u32 unit, bool linear);
    void setMipmapMode(u32 unit, u8 mode);
    void setWrap(u32 unit, u8 wrap);
    void setCompareFunction(u32 unit, Comparison comparison);
    void setCompareMode(u32 unit, u8 mode);
    void setMaxAnisotropy(u32 unit, f32 anisotropy);

    bool unitsEnabled() const { return m_unitsEnabled != 0; }
    u32 unitCount() const { return m_unitCount; }

private:
    // Fatal for a unit outside 0..7.
    TextureUnit& unitAt(u32 unit);
    const TextureUnit& unitAt(u32 unit) const;
    void setByte(u32 unit, u8 TextureUnit::*field, u8 value);

    TextureUnit m_units[kUnitCount];
    u8 m_unitsEnabled = 1;
    u32 m_unitCount = kUnitCount;
};

} // namespace quern::graphics
