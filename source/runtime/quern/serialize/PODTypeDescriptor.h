#pragma once
// The layout of a plain-data record as the POD tokens see it: components back to
// back, in order, with no implicit alignment. Padding the in-memory record has
// must be listed as a Skip component. Descriptors are constants of the code that
// owns the record.

#include "quern/Types.h"

namespace quern::serialize {

enum class PODKind : u8 {
    Unsigned = 0,
    Signed = 1,
    Float = 2, // IEEE 754, 32 or 64 bits
    Skip = 3,  // bytes that carry no value
};

struct PODComponent {
    u16 count;    // consecutive elements inside one record
    PODKind kind;
    u8 bits;      // width of one element
};
static_assert(sizeof(PODComponent) == 4);

struct PODTypeDescriptor {
    u16 componentCount;
    const PODComponent* components;

    // The record size and array stride: each component's (count x bits) >> 3, summed.
    constexpr u64 byteSize() const
    {
        u64 size = 0;
        for (u16 i = 0; i < componentCount; ++i)
            size += (u64{components[i].count} * components[i].bits) >> 3;
        return size;
    }
};

// The one-value descriptors that counts, ids and scalars are written with.
inline constexpr PODComponent kU64Component[] = {{1, PODKind::Unsigned, 64}};
inline constexpr PODComponent kU32Component[] = {{1, PODKind::Unsigned, 32}};
inline constexpr PODComponent kF32Component[] = {{1, PODKind::Float, 32}};
inline constexpr PODComponent kU8Component[] = {{1, PODKind::Unsigned, 8}};
inline constexpr PODComponent kF32x2Component[] = {{2, PODKind::Float, 32}};
inline constexpr PODComponent kF32x4Component[] = {{4, PODKind::Float, 32}};
inline constexpr PODTypeDescriptor kU64Descriptor{1, kU64Component};
inline constexpr PODTypeDescriptor kU32Descriptor{1, kU32Component};
inline constexpr PODTypeDescriptor kF32Descriptor{1, kF32Component};
inline constexpr PODTypeDescriptor kU8Descriptor{1, kU8Component};
inline constexpr PODTypeDescriptor kF32x2Descriptor{1, kF32x2Component};
inline constexpr PODTypeDescriptor kF32x4Descriptor{1, kF32x4Component};

} // namespace quern::serialize
