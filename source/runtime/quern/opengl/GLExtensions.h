#pragma once
// Filling the GL entry points from the context the window system just made,
// and the question whether the driver offers an extension.
//
// Under glvnd every name that starts with "gl" resolves to something, known to
// the driver or not: an optional function is called only after its extension
// or GL version was found, never because its pointer is set.

#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/ProcAddressLoader.h"

namespace quern::opengl {

// Resolves every entry point; a required one the loader does not know ends the
// process with its bare name as the message. Called on the main thread with
// the new context current, each time a context is made.
void initExtensions(ProcAddressLoader& loader);

// Resolves the table in order and returns the first required name the loader
// did not find (every later entry keeps its previous value), or null.
const char* resolveGLEntryPoints(ProcAddressLoader& loader);

// True when the driver lists an extension whose name ends with `name`: first
// in the GL extension list (glGetStringi), then in the extension string of the
// window system that owns the current context. Each call asks the driver again.
bool isExtensionSupported(const char* name);

// The extension test's own glGetStringi, kept apart from the table's; null
// when the loader did not know it (the GL list is then skipped).
extern PFN_glGetStringi extensionListGetStringi;

// Matching rules, exposed for their tests.
// One entry of the GL list: the first occurrence of `name` ends the entry.
bool extensionEntryMatches(const char* entry, const char* name);
// A space-separated window-system list: some occurrence of `name` is followed
// by the end of the list or white space.
bool extensionListContains(const char* list, const char* name);

} // namespace quern::opengl
