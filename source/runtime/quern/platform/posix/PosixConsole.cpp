#include "quern/platform/Console.h"

#include <unistd.h>

namespace quern::platform {

bool isTerminal(StandardStream stream)
{
    return ::isatty(stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

} // namespace quern::platform
