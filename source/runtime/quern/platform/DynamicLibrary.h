#pragma once
// Run-time loading of shared libraries (the windowing library, optional codecs).

#include "quern/Types.h"

#include <string>

namespace quern::platform {

using LibraryHandle = void*;

enum LibraryResultCode : i32 {
    kLibraryLoaded = 0,
    kLibraryNotFound = 1, // the file, a directory of its path or a dependency is missing
    kLibraryFailed = 2,
};

struct LibraryResult {
    LibraryHandle handle = nullptr; // null on failure
    i32 code = kLibraryLoaded;
    // "" on success, else the system's text for the failure. The text lives in a
    // per-thread buffer that the thread's next failure overwrites.
    const char* message = "";
};

// Loads the library, or null; never shows anything to the user.
LibraryHandle loadLibraryQuietly(const char* name);
LibraryResult loadDynamicLibrary(const char* name);
// Null when the library does not export the name.
void* getLibrarySymbol(LibraryHandle library, const char* name);
void unloadDynamicLibrary(LibraryHandle library);

// The system's text for an error number, without a trailing line break.
std::string getSystemErrorText(u32 errorCode);

} // namespace quern::platform
