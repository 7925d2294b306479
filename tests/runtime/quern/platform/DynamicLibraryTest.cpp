#include "quern/platform/DynamicLibrary.h"

#include "TemporaryDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

namespace {

using namespace quern::platform;

TEST(DynamicLibrary, LoadsASystemLibraryAndFindsItsSymbols)
{
    const LibraryResult result = loadDynamicLibrary("libm.so.6");
    ASSERT_NE(result.handle, nullptr) << result.message;
    EXPECT_EQ(result.code, kLibraryLoaded);
    EXPECT_STREQ(result.message, "");
    auto* cosine = reinterpret_cast<double (*)(double)>(getLibrarySymbol(result.handle, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(getLibrarySymbol(result.handle, "no_such_function_here"), nullptr);
    unloadDynamicLibrary(result.handle);
}

TEST(DynamicLibrary, MissingLibraryIsNotFoundWithTheSystemText)
{
    for (const char* name : { "libquern-missing.so.1", "/no/such/dir/libx.so" }) {
        const LibraryResult result = loadDynamicLibrary(name);
        EXPECT_EQ(result.handle, nullptr);
        EXPECT_EQ(result.code, kLibraryNotFound) << name;
        EXPECT_THAT(result.message, ::testing::HasSubstr("No such file or directory"));
    }
}

TEST(DynamicLibrary, FileThatIsNoLibraryIsAnOtherFailure)
{
    quern::testing::TemporaryDirectory temporary;
    const std::string path = temporary / "libfake.so";
    std::ofstream(path) << "not an executable image";
    const LibraryResult result = loadDynamicLibrary(path.c_str());
    EXPECT_EQ(result.handle, nullptr);
    EXPECT_EQ(result.code, kLibraryFailed);
    EXPECT_STRNE(result.message, "");
    EXPECT_EQ(loadLibraryQuietly(path.c_str()), nullptr);
}

TEST(DynamicLibrary, SystemErrorTextHasNoTrailingLineBreak)
{
    EXPECT_EQ(getSystemErrorText(ENOENT), "No such file or directory");
    const std::string unknown = getSystemErrorText(99999);
    EXPECT_FALSE(unknown.empty());
    EXPECT_NE(unknown.back(), '\n');
}

} // namespace
