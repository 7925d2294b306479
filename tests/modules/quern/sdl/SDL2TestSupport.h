#pragma once
// A stand-in for the system's library loader: each candidate path answers as
// the test sets up (missing, broken, or the real library), and entry points
// can be taken away or replaced. Resets the loader and unloads SDL when it goes.
// Also SDL's virtual joysticks, for tests that play a pad.

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

// SDL's virtual joysticks, from the library the engine loaded.
class VirtualPads {
public:
    // A pad SDL opens as a game controller: 6 axes, 15 buttons.
    i32 attachController(const char* name)
    {
        SDL_VirtualJoystickDesc description {};
        description.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        description.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        description.naxes = SDL_CONTROLLER_AXIS_MAX;
        description.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        description.name = name;
        const int index
            = sdlSymbol<int (*)(const SDL_VirtualJoystickDesc*)>("SDL_JoystickAttachVirtualEx")(&description);
        EXPECT_GE(index, 0) << sdl::sdlErrorText();
        return index;
    }
    // A plain joystick: 2 axes, 4 buttons, 1 hat.
    i32 attachJoystick()
    {
        const int index = sdlSymbol<int (*)(SDL_JoystickType, int, int, int)>("SDL_JoystickAttachVirtual")(
            SDL_JOYSTICK_TYPE_UNKNOWN, 2, 4, 1);
        EXPECT_GE(index, 0) << sdl::sdlErrorText();
        return index;
    }
    void detach(i32 index) { sdlSymbol<int (*)(int)>("SDL_JoystickDetachVirtual")(index); }
    // The open joystick of a back-end slot, for driving its inputs.
    static void setButton(SDL_Joystick* joystick, i32 button, bool down)
    {
        sdlSymbol<int (*)(SDL_Joystick*, int, Uint8)>("SDL_JoystickSetVirtualButton")(joystick, button, down ? 1 : 0);
    }
    static void setAxis(SDL_Joystick* joystick, i32 axis, i16 value)
    {
        sdlSymbol<int (*)(SDL_Joystick*, int, Sint16)>("SDL_JoystickSetVirtualAxis")(joystick, axis, value);
    }
};

} // namespace quern::test
