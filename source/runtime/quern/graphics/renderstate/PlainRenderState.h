#pragma once
// The render-state kinds whose data is a small block of plain bytes. The
// block's spare bytes are always zero, so two states with the same settings
// compare equal and hash alike however their memory was found.

#include "quern/graphics/renderstate/RenderState.h"
#include "quern/strings/Hashes.h"

#include <cstring>
#include <type_traits>

namespace quern::graphics {

// `ComparesForDiffers`: whether `differs` looks at the data, or calls any
// two distinct objects different.
template <class Data, RenderStateID Kind, bool ComparesForDiffers>
class PlainRenderState : public RenderState {
    static_assert(std::is_trivially_copyable_v<Data>);

public:
    static constexpr RenderStateID kKind = Kind;

    bool differs(const RenderState& other) const override
    {
        if (&other == this)
            return false;
        if constexpr (!ComparesForDiffers)
            return true;
        return other.kind() != Kind || !sameData(other);
    }

    bool equals(const RenderState& other) const override
    {
        if (&other == this)
            return true;
        return other.kind() == Kind && sameData(other);
    }

    u32 hash() const override { return strings::murmurHash2(&m_data, sizeof(Data)); }

    void assign(const RenderState& other) override
    {
        if (&other == this)
            return;
        bindLike(other);
        m_data = static_cast<const PlainRenderState&>(other).m_data;
    }

    const Data& data() const { return m_data; }

protected:
    explicit PlainRenderState(StateObjectCache* cache) : RenderState(Kind, cache) {}
    PlainRenderState(const PlainRenderState& other) : RenderState(other), m_data(other.m_data) {}

    // The setter rule: an unchanged value changes nothing; otherwise store
    // it and announce the change.
    template <class Field, class Value>
    void setField(Field Data::*field, Value value)
    {
        const Field stored = static_cast<Field>(value);
        if (m_data.*field == stored)
            return;
        m_data.*field = stored;
        notifyChanged();
    }

    Data m_data{};

private:
    bool sameData(const RenderState& other) const
    {
        return std::memcmp(&m_data, &static_cast<const PlainRenderState&>(other).m_data, sizeof(Data)) == 0;
    }
};

} // namespace quern::graphics
