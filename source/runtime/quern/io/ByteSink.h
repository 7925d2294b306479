#pragma once
// The engine's sequential writer, the counterpart of ByteSource: POD tokens and
// the table writers append their bytes to one, whatever keeps them.

#include "quern/Types.h"

namespace quern {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Bytes written so far.
    virtual u64 position() = 0;
    // Appends `length` bytes.
    virtual void write(const void* data, u64 length) = 0;
};

} // namespace quern
