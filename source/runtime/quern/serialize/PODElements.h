#pragma once
// Walking the elements of a record array as the text form orders them:
// component-major (for each component, for each record, its elements).

#include "quern/Types.h"
#include "quern/serialize/PODTypeDescriptor.h"

namespace quern::serialize {

// The byte length of `count` records; a product beyond 64 bits is fatal.
u64 checkedArrayBytes(u64 count, const PODTypeDescriptor& descriptor);

// Integers of 8 to 128 bits and floats of 32 or 64 bits have a text; every
// other component (Skip included) is neither written nor read.
constexpr bool hasText(const PODComponent& component)
{
    switch (component.kind) {
    case PODKind::Unsigned:
    case PODKind::Signed:
        return component.bits == 8 || component.bits == 16 || component.bits == 32 || component.bits == 64 ||
               component.bits == 128;
    case PODKind::Float:
        return component.bits == 32 || component.bits == 64;
    default:
        return false;
    }
}

// Calls visit(kind, bits, byte offset, followedBySpace) for every element with
// a text. A 128-bit element is two unsigned 64-bit halves, low half first. The
// flag is the separator rule: no space after an element that ends at or past
// the end of its component's span (its offset in the first record plus the
// array's size).
template <typename Visit> void forEachTextElement(u64 count, const PODTypeDescriptor& descriptor, Visit&& visit)
{
    const u64 recordSize = descriptor.byteSize();
    const u64 arrayBytes = checkedArrayBytes(count, descriptor);
    u64 componentOffset = 0;
    for (u16 c = 0; c < descriptor.componentCount; ++c) {
        const PODComponent& component = descriptor.components[c];
        if (hasText(component)) {
            const bool halves = component.bits == 128;
            const u32 bits = halves ? 64 : component.bits;
            const u64 step = bits / 8;
            const u64 spanEnd = componentOffset + arrayBytes;
            const PODKind kind = halves ? PODKind::Unsigned : component.kind;
            for (u64 record = 0; record < count; ++record) {
                u64 offset = componentOffset + record * recordSize;
                for (u64 e = 0, n = halves ? u64{component.count} * 2 : component.count; e < n; ++e) {
                    visit(kind, bits, offset, offset + step < spanEnd);
                    offset += step;
                }
            }
        }
        componentOffset += (u64{component.count} * component.bits) >> 3;
    }
}

} // namespace quern::serialize
