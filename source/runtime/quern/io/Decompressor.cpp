#include "quern/io/Decompressor.h"

#include "quern/strings/Hashes.h"

namespace quern::io {

u32 Decompressor::checksum(const void* data, u64 length)
{
    return strings::crc32(data, length);
}

} // namespace quern::io
