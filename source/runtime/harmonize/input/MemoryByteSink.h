#pragma once
// A byte sink that appends every write to an engine string, for serialising
// replays and quick saves into memory.

#include "quern/io/ByteSink.h"
#include "quern/strings/String.h"

namespace harmonize {

class MemoryByteSink final : public quern::ByteSink {
public:
    explicit MemoryByteSink(quern::memory::Allocator* allocator = nullptr)
        : bytes(allocator)
    {
    }

    quern::u64 position() override { return bytes.length(); }
    void write(const void* data, quern::u64 length) override
    {
        const char* begin = static_cast<const char*>(data);
        bytes.append(begin, begin + length);
    }

    quern::strings::String bytes;
};

} // namespace harmonize
