#include "quern/opengl/GLExtensions.h"

#include "quern/debug/Log.h"
#include "quern/opengl/GLContext.h"
#include "quern/platform/ErrorReporting.h"

#include <cstring>

namespace quern::opengl {

PFN_glGetStringi extensionListGetStringi = nullptr;

namespace {

void storeAddress(void* slot, void* address) { std::memcpy(slot, &address, sizeof address); }

bool isWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool glListHas(const char* name)
{
    if (!extensionListGetStringi)
        return false;
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count; ++i) {
        const char* entry
            = reinterpret_cast<const char*>(extensionListGetStringi(GL_EXTENSIONS, static_cast<GLuint>(i)));
        if (entry && *entry && extensionEntryMatches(entry, name))
            return true;
    }
    return false;
}

} // namespace

const char* resolveGLEntryPoints(ProcAddressLoader& loader)
{
    for (const GLEntryPoint& entry : kGLEntryPoints) {
        void* address = loader.getProcAddress(entry.name);
        storeAddress(entry.slot, address);
        if (entry.required && !address)
            return entry.name;
    }
    return nullptr;
}

void initExtensions(ProcAddressLoader& loader)
{
    QUERN_LOG(5) << "initExtensions()" << std::endl;
    if (const char* missing = resolveGLEntryPoints(loader))
        QUERN_FATAL(missing);
    storeAddress(&extensionListGetStringi, loader.getProcAddress("glGetStringi"));
    loadWindowSystemGlue();
}

bool extensionEntryMatches(const char* entry, const char* name)
{
    const char* found = std::strstr(entry, name);
    return found && found[std::strlen(name)] == '\0';
}

bool extensionListContains(const char* list, const char* name)
{
    const size_t length = std::strlen(name);
    if (length == 0)
        return false;
    for (const char* at = std::strstr(list, name); at; at = std::strstr(at, name)) {
        at += length;
        if (*at == '\0' || isWhiteSpace(*at))
            return true;
    }
    return false;
}

bool isExtensionSupported(const char* name)
{
    if (!name || !*name)
        return false;
    if (glListHas(name))
        return true;
    const char* list = currentWindowSystemExtensions();
    return list && extensionListContains(list, name);
}

} // namespace quern::opengl
