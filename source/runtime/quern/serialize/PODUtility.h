#pragma once
// Helpers shared by every reader of POD-token data.

#include "quern/Types.h"

#include <iosfwd>

namespace quern {
class ByteSource;
}
namespace quern::containers {
class Array;
}

namespace quern::serialize {

class PODToken;
struct PODTypeDescriptor;

// Begins the next chunk and checks its id; a different id is fatal with
// "Unexpected chunk type, expected=<name>, actual=<name>". Returns the start
// for the matching endReadChunk.
u32 expectChunk(ByteSource& source, PODToken& token, u64 expectedId);
u32 expectChunk(std::istream& stream, PODToken& token, u64 expectedId);

// How a chunk id shows in messages: its lower-case packed name, "" for 0, and
// "<invalid>" for an id that no packed name gives.
void chunkIdName(u64 id, char (&name)[16]);

// Streams that start with '{' or '"' are text; anything else is binary.
bool isTextPODForm(u8 firstByte);
// The token for the bytes at the source's position (which it does not move):
// process-wide instances, shared safely because tokens hold no state.
PODToken& selectPODToken(ByteSource& source);

// A u32 count item and the records it counts, replacing the array's contents
// (skipped bytes of the records read as zero). A count the rest of the source
// cannot hold is fatal: "Invalid <fileKind>: <count> <what> in <left> bytes".
void readCountedArray(ByteSource& source, PODToken& token, containers::Array& array,
                      const PODTypeDescriptor& descriptor, const char* what, const char* fileKind);

} // namespace quern::serialize
