// Prints, from an ordinary static initialiser of its own (which runs before
// those of the libraries it links), how many of the four standard assertion
// levels have a handler.

#include "quern/platform/AssertDebug.h"

#include <cstdio>

namespace {

int g_handlersBeforeMain = [] {
    int count = 0;
    for (quern::i32 level : { 100, 200, 300, 1000 })
        count += quern::platform::assertionHandlers().count(level) != 0 ? 1 : 0;
    return count;
}();

} // namespace

int main()
{
    std::printf("handlers before main: %d\n", g_handlersBeforeMain);
    return 0;
}
