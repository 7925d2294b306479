#pragma once
// The engine's sequential reader: POD tokens, string tables, image importers,
// replays and decoders read through it, whatever holds the bytes.
//
// Positioning is lazy: users assign `position` directly and the device is moved
// only by the next read that needs it.

#include "quern/Types.h"

namespace quern {

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Total bytes.
    virtual u64 size() = 0;

    // Reads exactly `count` bytes at `position` or ends in the fatal path; returns the
    // source so reads chain.
    ByteSource& read(void* destination, u64 count);

    u64 position = 0;       // where the next read starts, as the user sees it
    u64 devicePosition = 0; // where the underlying device stands

protected:
    // Reads `count` bytes at the device position or ends in the fatal path.
    virtual void implRead(void* destination, u64 count) = 0;
    // Moves the device to `position`.
    virtual void seek(u64 position) = 0;
};

} // namespace quern
