// replaybuild: writes an input replay the game plays from a replay script.
//
//   replaybuild SCRIPT REPLAY

#include "ReplayScript.h"

#include "quern/memory/DefaultAllocator.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: replaybuild SCRIPT REPLAY\n", stderr);
        return 2;
    }
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    std::string error;
    if (!quern::replaybuild::buildReplayFile(argv[1], argv[2], error)) {
        std::fprintf(stderr, "replaybuild: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
