#include "quern/platform/CurrentDirectory.h"

#include <unistd.h>

namespace quern::platform {

bool getCurrentDirectory(char* buffer, u64 size)
{
    if (!buffer || size == 0)
        return false;
    if (!getcwd(buffer, size)) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

} // namespace quern::platform
