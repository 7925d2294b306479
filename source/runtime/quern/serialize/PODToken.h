#pragma once
// A POD token turns the three kinds of persistent item (record arrays, strings
// and chunks) into bytes and back. Tokens are stateless: callers build one on
// the stack beside their stream. The owning code decides the order of items and
// reads them back in the same order; names label values in the text form only.
//
// Every operation exists for the standard streams and for the engine's own
// ByteSource / ByteSink. Every fault is fatal.

#include "quern/Types.h"
#include "quern/serialize/PODTypeDescriptor.h"

#include <iosfwd>

namespace quern {
class ByteSource;
class ByteSink;
} // namespace quern

namespace quern::serialize {

// What begin operations return when a standard stream reports no position.
inline constexpr u32 kNoChunkStart = 0xFFFFFFFFu;

class PODToken {
public:
    virtual ~PODToken();

    // `count` records of descriptor->byteSize() bytes each at `data`; count 0 does nothing.
    virtual void readPOD(std::istream& stream, void* data, u64 count, const PODTypeDescriptor* descriptor) = 0;
    virtual void writePOD(std::ostream& stream, const void* data, u64 count, const PODTypeDescriptor* descriptor,
                          const char* name) = 0;
    // Stores at most capacity - 1 characters and a terminator; returns the number
    // stored. A null buffer or capacity 0 passes over the whole string and returns 0.
    virtual u32 readString(std::istream& stream, char* buffer, u64 capacity) = 0;
    virtual void writeString(std::ostream& stream, const char* text, const char* name) = 0;
    // Chunks nest. A begin returns the position before the chunk (truncated to
    // 32 bits), which the caller hands to the matching end.
    virtual u32 beginReadChunk(std::istream& stream, u64* id) = 0;
    virtual void endReadChunk(std::istream& stream, u32 start) = 0;
    virtual u32 beginWriteChunk(std::ostream& stream, u64 id) = 0;
    virtual void endWriteChunk(std::ostream& stream, u32 start) = 0;

    virtual void readPOD(ByteSource& source, void* data, u64 count, const PODTypeDescriptor* descriptor) = 0;
    virtual u32 readString(ByteSource& source, char* buffer, u64 capacity) = 0;
    virtual u32 beginReadChunk(ByteSource& source, u64* id) = 0;
    virtual void endReadChunk(ByteSource& source, u32 start) = 0;
    virtual void writePOD(ByteSink& sink, const void* data, u64 count, const PODTypeDescriptor* descriptor,
                          const char* name) = 0;
    virtual void writeString(ByteSink& sink, const char* text, const char* name) = 0;
    virtual u32 beginWriteChunk(ByteSink& sink, u64 id) = 0;
    virtual void endWriteChunk(ByteSink& sink, u32 start) = 0;
};

} // namespace quern::serialize
