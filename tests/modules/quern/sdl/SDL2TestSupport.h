#pragma once
// A stand-in for the system's library loader: each candidate path answers as
// the test sets up (missing, broken, or the real library), and entry points
// can be taken away or replaced. Resets the loader and unloads SDL when it goes.

#include "quern/sdl/SDL2Library.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace quern::test {

class FakeSDL2Access final : public sdl::SDL2LibraryAccess {
public:
    // What loading a path gives: the real library, nothing, or a failure with a text.
    enum class Answer { Real, NotFound, Broken };

    FakeSDL2Access() { sdl::setSDL2LibraryAccess(this); }
    ~FakeSDL2Access() override
    {
        sdl::shutdownSDL();
        sdl::setSDL2LibraryAccess(nullptr);
    }

    platform::LibraryResult load(const char* path) override
    {
        attempts.push_back(path);
        const auto found = answers.find(path);
        const Answer answer = found == answers.end() ? Answer::NotFound : found->second;
        platform::LibraryResult result;
        if (answer == Answer::Real) {
            result = platform::loadDynamicLibrary(kRealLibrary);
            if (result.handle)
                ++loads;
            return result;
        }
        result.code = answer == Answer::Broken ? platform::kLibraryFailed : platform::kLibraryNotFound;
        result.message = "wrong ELF class";
        return result;
    }
    void unload(platform::LibraryHandle library) override
    {
        ++unloads;
        platform::unloadDynamicLibrary(library);
    }
    sdl::SymbolResolver& resolverFor(platform::LibraryHandle library) override
    {
        m_resolver.library = library;
        m_resolver.owner = this;
        return m_resolver;
    }
    std::string executableDirectory() override
    {
        return directory.empty() ? SDL2LibraryAccess::executableDirectory() : directory;
    }

    static constexpr const char* kRealLibrary = "libSDL2-2.0.so.0";
    std::map<std::string, Answer> answers;
    // Names the library "lacks", and names answered by the test's own functions.
    std::set<std::string> missing;
    std::map<std::string, void*> replaced;
    std::vector<std::string> attempts;
    std::string directory;
    int loads = 0;
    int unloads = 0;

private:
    class Resolver final : public sdl::SymbolResolver {
    public:
        void* resolve(const char* name) override
        {
            if (owner->missing.count(name))
                return nullptr;
            if (const auto found = owner->replaced.find(name); found != owner->replaced.end())
                return found->second;
            return platform::getLibrarySymbol(library, name);
        }
        platform::LibraryHandle library = nullptr;
        FakeSDL2Access* owner = nullptr;
    };
    Resolver m_resolver;
};

// An entry point of the loaded library that the engine's table does not hold.
template <typename Function> Function sdlSymbol(const char* name)
{
    void* address = platform::getLibrarySymbol(sdl::getSDLLibrary(), name);
    EXPECT_NE(address, nullptr) << name;
    return reinterpret_cast<Function>(address);
}

} // namespace quern::test
