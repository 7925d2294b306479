#include "quern/io/ByteSource.h"

namespace quern {

ByteSource& ByteSource::read(void* destination, u64 count)
{
    if (position != devicePosition) {
        seek(position);
        devicePosition = position;
    }
    implRead(destination, count);
    position += count;
    devicePosition += count;
    return *this;
}

} // namespace quern
