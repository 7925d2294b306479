#include "quern/io/StringSource.h"

#include "quern/language/Exception.h"

#include <cstring>

namespace quern {

void StringSource::implRead(void* destination, u64 count)
{
    if (count == 0)
        return;
    // The position is whatever the user assigned: it may lie past the end.
    if (position > m_size || count > m_size - position)
        QUERN_RAISE(FileReadException);
    std::memcpy(destination, m_data + position, count);
}

} // namespace quern
