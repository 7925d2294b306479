// assetbuild: builds an asset depot (and database) from a manifest and a
// folder of source files.
//
//   assetbuild --manifest FILE --source DIR --out DIR [--depot blob|files] [--name NAME] [--strings FILE]

#include "ContentBuilder.h"

#include "quern/memory/DefaultAllocator.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void printUsage()
{
    std::fputs("usage: assetbuild --manifest FILE --source DIR --out DIR [--depot blob|files] [--name NAME] [--strings "
               "FILE]\n",
        stderr);
}

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig{});
    quern::assetbuild::BuildOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string key = argv[i];
        if (key == "--help") {
            printUsage();
            return 0;
        }
        if (i + 1 >= argc) {
            printUsage();
            return 2;
        }
        const char* value = argv[++i];
        if (key == "--manifest")
            options.manifestPath = value;
        else if (key == "--source")
            options.sourceDirectory = value;
        else if (key == "--out")
            options.outDirectory = value;
        else if (key == "--depot")
            options.depotKind = value;
        else if (key == "--name")
            options.databaseName = value;
        else if (key == "--strings")
            options.localisedTextPath = value;
        else {
            printUsage();
            return 2;
        }
    }
    if (options.manifestPath.empty() || options.sourceDirectory.empty() || options.outDirectory.empty()) {
        printUsage();
        return 2;
    }
    std::string error;
    if (!quern::assetbuild::buildContent(options, error)) {
        std::fprintf(stderr, "assetbuild: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
