#include "quern/serialize/PODToken.h"

#include "quern/language/Exception.h"
#include "quern/serialize/PODElements.h"

#include <limits>

namespace quern::serialize {

PODToken::~PODToken() = default;

u64 checkedArrayBytes(u64 count, const PODTypeDescriptor& descriptor)
{
    const u64 recordSize = descriptor.byteSize();
    if (recordSize != 0 && count > std::numeric_limits<u64>::max() / recordSize)
        QUERN_RAISE(ParseException, "Record count too large", nullptr, 0);
    return count * recordSize;
}

} // namespace quern::serialize
