#include "SDL2TestSupport.h"
#include "runtime/quern/graphics/DisplayTestSupport.h"

#include "quern/platform/SystemInfo.h"
#include "quern/sdl/SDL2Library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace quern::test {
namespace {

using Answer = FakeSDL2Access::Answer;

SDL_version g_fakeVersion {};
void fakeGetVersion(SDL_version* version) { *version = g_fakeVersion; }
int failingInit(Uint32) { return -1; }
const char* fakeError() { return "no video today"; }

class SDL2Library : public ::testing::Test {
protected:
    void SetUp() override { setenv("SDL_VIDEODRIVER", "dummy", 1); }
};

TEST_F(SDL2Library, RealLibraryLoadsByItsVersionedNameWithBothVersionWarnings)
{
    LogCatcher information(3);
    LogCatcher warnings(2);
    FakeSDL2Access access;
    access.answers["libSDL2-2.0.so.0"] = Answer::Real;

    sdl::initSDL2(sdl::kVideoSubsystem);

    const SDL_version version = sdl::getSDLVersion();
    EXPECT_EQ(version.major, 2);
    EXPECT_EQ(information.count("Loaded SDL 2.0 symbols from libSDL2-2.0.so.0"), 1u);
    EXPECT_EQ(warnings.count("Unsupported SDL version 2." + std::to_string(version.minor) + "\n"), 1u);
    EXPECT_EQ(
        information.count("Initializing SDL 2." + std::to_string(version.minor) + "." + std::to_string(version.patch)),
        1u);
    EXPECT_EQ(warnings.count("Compiled with SDL 2.0.7"), 1u);
    EXPECT_NE(sdl::sdl2.SDL_WasInit(SDL_INIT_VIDEO), 0u);
}

TEST_F(SDL2Library, PlatformLoaderFindsTheSystemLibrary)
{
    u8 major = 0;
    u8 minor = 0;
    ASSERT_TRUE(sdl::bootstrapSDL(major, minor));
    EXPECT_EQ(major, 2);
    EXPECT_TRUE(sdl::isSDLLoaded());
    sdl::shutdownSDL();
    EXPECT_FALSE(sdl::isSDLLoaded());
    EXPECT_EQ(sdl::getSDLVersion().major, 0);
}

struct CandidateCase {
    const char* name;
    std::map<std::string, Answer> answers;
    std::set<std::string> missing;
    bool loaded;
    const char* loadedFrom; // the candidate named in the information line
    const char* warning; // expected warning text, or "" for none
};

TEST_F(SDL2Library, CandidatesAreTriedInOrderUntilOneHasEveryEntryPoint)
{
    const std::string besideProgram = "/opt/game/libSDL2-2.0.so.0";
    const CandidateCase cases[] = {
        { "versioned name", { { "libSDL2-2.0.so.0", Answer::Real } }, {}, true, "libSDL2-2.0.so.0", "" },
        { "only the development name", { { "libSDL2.so", Answer::Real } }, {}, true, "libSDL2.so", "" },
        { "beside the program, silently", { { besideProgram, Answer::Real } }, {}, true, "libSDL2-2.0.so.0", "" },
        { "broken first candidate warns", { { "libSDL2-2.0.so.0", Answer::Broken }, { "libSDL2.so", Answer::Real } },
            {}, true, "libSDL2.so", "libSDL2-2.0.so.0: wrong ELF class" },
        { "no version-2 marker", { { "libSDL2-2.0.so.0", Answer::Real } }, { "SDL_GetClipboardText" }, false, "", "" },
        { "one entry point missing", { { "libSDL2-2.0.so.0", Answer::Real }, { "libSDL2.so", Answer::Real } },
            { "SDL_WarpMouseInWindow" }, false, "", "" },
        { "nothing anywhere", {}, {}, false, "", "" },
    };
    for (const CandidateCase& c : cases) {
        SCOPED_TRACE(c.name);
        LogCatcher information(3);
        LogCatcher warnings(2);
        FakeSDL2Access access;
        access.directory = "/opt/game";
        access.answers = c.answers;
        access.missing = c.missing;
        u8 major = 0;
        u8 minor = 0;
        EXPECT_EQ(sdl::bootstrapSDL(major, minor), c.loaded);
        EXPECT_EQ(sdl::isSDLLoaded(), c.loaded);
        if (c.loaded)
            EXPECT_EQ(information.count(std::string("Loaded SDL 2.0 symbols from ") + c.loadedFrom + "\n"), 1u);
        else
            EXPECT_EQ(information.count("Loaded SDL"), 0u);
        // Every library that was loaded and not kept was given back.
        EXPECT_EQ(access.loads - access.unloads, c.loaded ? 1 : 0);
        if (*c.warning)
            EXPECT_EQ(warnings.count(c.warning), 1u) << warnings.text();
        else
            EXPECT_EQ(warnings.count(": "), 0u) << warnings.text();
    }
}

TEST_F(SDL2Library, PlainNameIsTriedBeforeTheProgramsFolderForEachCandidate)
{
    FakeSDL2Access access;
    access.directory = "/opt/game";
    u8 major = 0;
    u8 minor = 0;
    EXPECT_FALSE(sdl::bootstrapSDL(major, minor));
    const std::vector<std::string> expected
        = { "libSDL2-2.0.so.0", "/opt/game/libSDL2-2.0.so.0", "libSDL2.so", "/opt/game/libSDL2.so" };
    EXPECT_EQ(access.attempts, expected);
}

// The real loader, with the library copied next to the test program only.
TEST_F(SDL2Library, LibraryBesideTheProgramLoadsThroughTheRealFolderLookup)
{
    class BesideProgramOnly final : public sdl::SDL2LibraryAccess {
    public:
        platform::LibraryResult load(const char* path) override
        {
            if (std::string(path).find('/') == std::string::npos) {
                platform::LibraryResult result;
                result.code = platform::kLibraryNotFound;
                return result;
            }
            loadedPath = path;
            return SDL2LibraryAccess::load(path);
        }
        std::string loadedPath;
    };
    const std::string program = platform::getExecutablePath();
    ASSERT_FALSE(program.empty());
    const std::filesystem::path folder = std::filesystem::path(program).parent_path();
    const std::filesystem::path copy = folder / "libSDL2-2.0.so.0";
    const platform::LibraryHandle system = platform::loadLibraryQuietly("libSDL2-2.0.so.0");
    ASSERT_NE(system, nullptr);
    Dl_info info {};
    ASSERT_NE(dladdr(platform::getLibrarySymbol(system, "SDL_Init"), &info), 0);
    std::filesystem::remove(copy);
    std::filesystem::create_symlink(std::filesystem::canonical(info.dli_fname), copy);
    platform::unloadDynamicLibrary(system);

    BesideProgramOnly access;
    sdl::setSDL2LibraryAccess(&access);
    LogCatcher warnings(2);
    u8 major = 0;
    u8 minor = 0;
    EXPECT_TRUE(sdl::bootstrapSDL(major, minor));
    EXPECT_EQ(access.loadedPath, copy.string());
    EXPECT_EQ(warnings.count("libSDL2-2.0.so.0:"), 0u);
    sdl::shutdownSDL();
    sdl::setSDL2LibraryAccess(nullptr);
    std::filesystem::remove(copy);
}

struct VersionCase {
    SDL_version version;
    bool accepted;
    i32 level;
    const char* line; // logged at `level`, or "" for nothing
};

TEST_F(SDL2Library, OnlyMajorVersionTwoIsAcceptedAndOtherMinorsWarn)
{
    const VersionCase cases[] = {
        { { 2, 0, 7 }, true, 2, "" },
        { { 2, 0, 22 }, true, 2, "" },
        { { 2, 1, 0 }, true, 2, "Unsupported SDL version 2.1\n" },
        { { 3, 0, 0 }, false, 1, "Unsupported SDL version 3\n" },
        { { 1, 2, 15 }, false, 1, "Unsupported SDL version 1\n" },
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.version.major) << "." << int(c.version.minor));
        LogCatcher log(c.level);
        FakeSDL2Access access;
        access.answers["libSDL2-2.0.so.0"] = Answer::Real;
        g_fakeVersion = c.version;
        access.replaced["SDL_GetVersion"] = reinterpret_cast<void*>(&fakeGetVersion);
        u8 major = 0;
        u8 minor = 0;
        EXPECT_EQ(sdl::bootstrapSDL(major, minor), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(major, c.version.major);
            EXPECT_EQ(minor, c.version.minor);
        }
        if (*c.line)
            EXPECT_EQ(log.count(c.line), 1u) << log.text();
        else
            EXPECT_EQ(log.count("Unsupported"), 0u) << log.text();
    }
}

TEST_F(SDL2Library, TheTestedVersionInitialisesWithoutTheCompiledWithWarning)
{
    LogCatcher warnings(2);
    FakeSDL2Access access;
    access.answers["libSDL2-2.0.so.0"] = Answer::Real;
    g_fakeVersion = { 2, 0, 7 };
    access.replaced["SDL_GetVersion"] = reinterpret_cast<void*>(&fakeGetVersion);
    sdl::initSDL2(sdl::kVideoSubsystem);
    EXPECT_EQ(warnings.count("Compiled with SDL"), 0u);
}

TEST_F(SDL2Library, ResolutionNamesTheFirstMissingEntryPoint)
{
    class Lacking final : public sdl::SymbolResolver {
    public:
        void* resolve(const char* name) override
        {
            asked.push_back(name);
            return std::string(name) == lacking || lacking == "*" ? nullptr : reinterpret_cast<void*>(&fakeError);
        }
        std::string lacking;
        std::vector<std::string> asked;
    };
    Lacking everything;
    everything.lacking = "*";
    EXPECT_STREQ(sdl::resolveSDLSymbols(everything), "SDL_SetClipboardText");
    Lacking one;
    one.lacking = "SDL_HapticRumblePlay";
    EXPECT_STREQ(sdl::resolveSDLSymbols(one), "SDL_HapticRumblePlay");
    Lacking none;
    EXPECT_EQ(sdl::resolveSDLSymbols(none), nullptr);
    EXPECT_EQ(none.asked.size(), sdl::kRequiredEntryPointCount);
    EXPECT_EQ(none.asked.back(), "SDL_WasInit");
    sdl::sdl2 = sdl::SDL2EntryPoints {};
}

TEST_F(SDL2Library, LaterCallsLoadNothingAndStartOnlyMissingSubsystems)
{
    FakeSDL2Access access;
    access.answers["libSDL2-2.0.so.0"] = Answer::Real;
    sdl::initSDL2(sdl::kVideoSubsystem);
    {
        LogCatcher information(3);
        LogCatcher warnings(2);
        sdl::initSDL2(sdl::kVideoSubsystem);
        EXPECT_EQ(information.text(), "");
        EXPECT_EQ(warnings.text(), "");
    }
    sdl::initSDL2(sdl::kInputSubsystems);
    EXPECT_EQ(sdl::sdl2.SDL_WasInit(sdl::kInputSubsystems | sdl::kVideoSubsystem),
        sdl::kInputSubsystems | sdl::kVideoSubsystem);
    EXPECT_EQ(access.loads, 1);
}

TEST_F(SDL2Library, NoLoadableLibraryIsFatal)
{
    EXPECT_DEATH(
        {
            FakeSDL2Access access;
            sdl::initSDL2(sdl::kVideoSubsystem);
        },
        "Failed to bootstrap SDL");
}

TEST_F(SDL2Library, RefusedInitIsFatalWithSDLsOwnText)
{
    EXPECT_DEATH(
        {
            FakeSDL2Access access;
            access.answers["libSDL2-2.0.so.0"] = Answer::Real;
            access.replaced["SDL_Init"] = reinterpret_cast<void*>(&failingInit);
            access.replaced["SDL_GetError"] = reinterpret_cast<void*>(&fakeError);
            sdl::initSDL2(sdl::kVideoSubsystem);
        },
        "SDL error: SDL_Init failed \\(no video today\\)");
}

} // namespace
} // namespace quern::test
