#pragma once
// Shared by the fuzz targets: the fatal path becomes a C++ exception that the
// target catches (a rejected input is the reader working, not a crash), and
// one small structure read through any token and either stream family.

#include "quern/memory/DefaultAllocator.h"
#include "quern/serialize/PODToken.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quern::fuzz {

struct FatalError {};

// Runs `read`; returns false when it ended in the fatal path.
template <typename Read> bool runGuarded(Read&& read)
{
    try {
        read();
        return true;
    } catch (const FatalError&) {
        return false;
    }
}

inline void initialize()
{
    static const bool initialized = [] {
        memory::initDefaultAllocators(memory::AllocatorConfig{});
        return true;
    }();
    (void)initialized;
}

struct Mixed {
    u8 a;
    i8 b;
    u16 c;
    i16 d;
    u8 padding[2];
    u32 e;
    i32 f;
    u64 g;
    i64 h;
    f32 i[2];
    f64 j;
};
static_assert(sizeof(Mixed) == 48);
inline constexpr serialize::PODComponent kMixedComponents[] = {
    {1, serialize::PODKind::Unsigned, 8},  {1, serialize::PODKind::Signed, 8},
    {1, serialize::PODKind::Unsigned, 16}, {1, serialize::PODKind::Signed, 16},
    {2, serialize::PODKind::Skip, 8},      {1, serialize::PODKind::Unsigned, 32},
    {1, serialize::PODKind::Signed, 32},   {1, serialize::PODKind::Unsigned, 64},
    {1, serialize::PODKind::Signed, 64},   {2, serialize::PODKind::Float, 32},
    {1, serialize::PODKind::Float, 64},
};
inline constexpr serialize::PODTypeDescriptor kMixedDescriptor{11, kMixedComponents};
inline constexpr serialize::PODComponent kWideComponents[] = {{1, serialize::PODKind::Unsigned, 128}};
inline constexpr serialize::PODTypeDescriptor kWideDescriptor{1, kWideComponents};

// A chunk with a count, that many records (at most 16), strings read with
// several capacities, 128-bit values and a nested chunk that is left early.
// Buffers have exactly the size asked for, so an overrun shows.
template <typename Input> void readStructure(serialize::PODToken& token, Input& input)
{
    u64 id = 0;
    const u32 start = token.beginReadChunk(input, &id);
    u32 count = 0;
    token.readPOD(input, &count, 1, &serialize::kU32Descriptor);
    std::vector<Mixed> records(std::min<u32>(count, 16));
    token.readPOD(input, records.data(), records.size(), &kMixedDescriptor);
    std::vector<char> small(4);
    token.readString(input, small.data(), small.size());
    token.readString(input, nullptr, 0);
    std::vector<char> one(1);
    token.readString(input, one.data(), 0);
    token.readString(input, one.data(), one.size());
    std::vector<char> large(300);
    token.readString(input, large.data(), large.size());
    std::vector<u64> wide(4);
    token.readPOD(input, wide.data(), 2, &kWideDescriptor);
    const u32 inner = token.beginReadChunk(input, &id);
    f32 value = 0;
    token.readPOD(input, &value, 1, &serialize::kF32Descriptor);
    token.endReadChunk(input, inner);
    token.endReadChunk(input, start);
}

} // namespace quern::fuzz

extern "C" [[noreturn]] void __wrap__ZN5quern5debug10fatalErrorEPKcS2_j(const char*, const char*, unsigned)
{
    throw quern::fuzz::FatalError{};
}

extern "C" quern::u64 __wrap__ZN5quern5debug17captureStackTraceEPNS0_10StackFrameEmi(void*, quern::u64, int)
{
    return 0;
}
