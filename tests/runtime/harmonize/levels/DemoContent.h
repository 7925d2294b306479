#pragma once
// The demo content as the build step makes it: the content tool's library
// run over content/ with its texts, into a folder of the test's own (CTest
// runs tests side by side).

#include "ContentBuilder.h"

#include "quern/Types.h"
#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace harmonize::testing {

inline quern::u64 assetId(const char* name) { return quern::strings::murmurHash64A(name, std::strlen(name), 0); }

// Builds into <test binary dir>/content/<folder> and returns that folder.
inline std::string buildDemoContent(const std::string& folder, const char* depotKind)
{
    const std::filesystem::path out = std::filesystem::path(QUERN_TEST_BINARY_DIR) / "content" / folder;
    std::filesystem::remove_all(out);
    quern::assetbuild::BuildOptions options;
    options.manifestPath = std::string(QUERN_CONTENT_DIR) + "/assets.txt";
    options.sourceDirectory = QUERN_CONTENT_DIR;
    options.outDirectory = out.string();
    options.depotKind = depotKind;
    options.localisedTextPath = std::string(QUERN_CONTENT_DIR) + "/strings.txt";
    std::string error;
    EXPECT_TRUE(quern::assetbuild::buildContent(options, error)) << error;
    return out.string();
}

} // namespace harmonize::testing
