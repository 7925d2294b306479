#pragma once
// What the current GL context offers, written into the device's DisplayCaps:
// vendor and driver build, GL and GLSL versions, limits, the extension flags
// (some forced on by the GL version) and the driver quirks chosen by the
// renderer and vendor strings. The first scan of the process also logs them.

#include "quern/Types.h"
#include "quern/graphics/GraphicsBackEnd.h"

namespace quern::opengl {

enum class GLVendor : i32 {
    Other = 0,
    ARM = 1,
    ATI = 2,
    Intel = 3,
    Mesa = 4,
    Microsoft = 5,
    NVIDIA = 6,
    SiS = 7,
};

// The vendor by the prefix of GL_VENDOR; Other for null or empty text.
GLVendor vendorFromString(const char* vendor);
// major * 100 + minor * 10 of a "d.d..." text; 0 for anything else.
i32 parseVersionText(const char* text);
// The driver build in the version text for ATI and Intel drivers, else 0.
i32 driverBuildNumber(GLVendor vendor, const char* version);
// The shading-language version (major * 100 + minor * 10); the text is
// asked of the driver when null.
i32 glslVersion(const char* shadingLanguageText);
// Dedicated video memory in bytes, 0 when the driver has no query for it.
i64 videoMemoryBytes();

// Fills the fields of `caps` this back end owns from the current context.
// A context older than OpenGL 3.0 is fatal.
void scanCapabilities(graphics::DisplayCaps& caps);

// Makes the next scan log as the first one did; for tests.
void forgetLoggedCapabilities();

} // namespace quern::opengl
