#include "quern/graphics/renderstate/TextureState.h"

#include "quern/graphics/Texture.h"
#include "quern/platform/ErrorReporting.h"

#include <cstddef>
#include <cstring>

namespace quern::graphics {

namespace {

void retainTexture(Texture* texture)
{
    if (texture)
        RefCounted::retain(static_cast<RefCounted*>(texture));
}

void releaseTexture(Texture* texture)
{
    if (texture)
        RefCounted::release(static_cast<RefCounted*>(texture));
}

// Values count as equal unless one is ordered before the other.
bool sameValue(f32 a, f32 b) { return !(a < b) && !(a > b); }

// The setting bytes from linearFiltering to the last spare byte.
constexpr u64 kSettingsOffset = offsetof(TextureUnit, linearFiltering);
constexpr u64 kSettingsSize = offsetof(TextureUnit, spare1) + 1 - kSettingsOffset;

bool sameUnit(const TextureUnit& a, const TextureUnit& b)
{
    if (!a.enabled && !b.enabled)
        return true;
    if (!a.enabled || !b.enabled)
        return false;
    if (a.texture != b.texture)
        return false;
    const u8* first = reinterpret_cast<const u8*>(&a) + kSettingsOffset;
    const u8* second = reinterpret_cast<const u8*>(&b) + kSettingsOffset;
    if (std::memcmp(first, second, kSettingsSize) != 0)
        return false;
    if (a.maxAnisotropy != b.maxAnisotropy)
        return false;
    for (u32 i = 0; i < 16; ++i)
        if (!sameValue(a.block[i], b.block[i]))
            return false;
    return true;
}

} // namespace

TextureState::TextureState(StateObjectCache* cache) : RenderState(kKind, cache)
{
    for (TextureUnit& unit : m_units) {
        unit = TextureUnit{};
        unit.maxAnisotropy = 1.0f;
        unit.enabled = 1;
        unit.linearFiltering = 1;
        unit.mipmapMode = 2;
        unit.wrap = kWrapRepeat | (kWrapRepeat << 2);
    }
}

TextureState::TextureState(const TextureState& other)
    : RenderState(other), m_unitsEnabled(other.m_unitsEnabled), m_unitCount(other.m_unitCount)
{
    for (u32 i = 0; i < kUnitCount; ++i) {
        m_units[i] = other.m_units[i];
        retainTexture(m_units[i].texture);
    }
}

TextureState::~TextureState()
{
    for (TextureUnit& unit : m_units)
        releaseTexture(unit.texture);
}

bool TextureState::differs(const RenderState& other) const
{
    if (&other == this)
        return false;
    if (other.kind() != kKind)
        return true;
    const TextureState& that = static_cast<const TextureState&>(other);
    if (m_unitsEnabled != that.m_unitsEnabled)
        return true;
    for (u32 i = 0; i < kUnitCount; ++i)
        if (!sameUnit(m_units[i], that.m_units[i]))
            return true;
    return false;
}

bool TextureState::equals(const RenderState& other) const
{
    if (&other == this)
        return true;
    return other.kind() == kKind && !differs(other);
}

void TextureState::assign(const RenderState& other)
{
    if (&other == this)
        return;
    checkSameKind(other);
    const TextureState& that = static_cast<const TextureState&>(other);
    for (u32 i = 0; i < kUnitCount; ++i) {
        const TextureUnit& source = that.m_units[i];
        if (!source.texture)
            continue;
        retainTexture(source.texture);
        releaseTexture(m_units[i].texture);
        m_units[i] = source;
    }
}

void TextureState::setTexture(u32 unit, Texture* texture)
{
    TextureUnit& target = unitAt(unit);
    if (target.texture == texture)
        return;
    retainTexture(texture);
    releaseTexture(target.texture);
    target.texture = texture;
}

void TextureState::setUnitsEnabled(bool enabled)
{
    const u8 value = enabled ? 1 : 0;
    if (m_unitsEnabled == value)
        return;
    m_unitsEnabled = value;
    notifyChanged();
}

void TextureState::setByte(u32 unit, u8 TextureUnit::*field, u8 value)
{
    TextureUnit& target = unitAt(unit);
    if (target.*field == value)
        return;
    target.*field = value;
    notifyChanged();
}

void TextureState::setUnitEnabled(u32 unit, bool enabled) { setByte(unit, &TextureUnit::enabled, enabled ? 1 : 0); }

void TextureState::setLinearFiltering(u32 unit, bool linear)
{
    setByte(unit, &TextureUnit::linearFiltering, linear ? 1 : 0);
}

void TextureState::setMipmapMode(u32 unit, u8 mode) { setByte(unit, &TextureUnit::mipmapMode, mode); }

void TextureState::setWrap(u32 unit, u8 wrap) { setByte(unit, &TextureUnit::wrap, wrap); }

void TextureState::setCompareFunction(u32 unit, Comparison comparison)
{
    setByte(unit, &TextureUnit::compareFunction, static_cast<u8>(comparison));
}

void TextureState::setCompareMode(u32 unit, u8 mode) { setByte(unit, &TextureUnit::compareMode, mode); }

void TextureState::setMaxAnisotropy(u32 unit, f32 anisotropy)
{
    TextureUnit& target = unitAt(unit);
    if (target.maxAnisotropy == anisotropy)
        return;
    target.maxAnisotropy = anisotropy;
    notifyChanged();
}

TextureUnit& TextureState::unitAt(u32 unit)
{
    if (unit >= kUnitCount)
        QUERN_FATAL("Texture unit out of range");
    return m_units[unit];
}

const TextureUnit& TextureState::unitAt(u32 unit) const
{
    if (unit >= kUnitCount)
        QUERN_FATAL("Texture unit out of range");
    return m_units[unit];
}

} // namespace quern::graphics
