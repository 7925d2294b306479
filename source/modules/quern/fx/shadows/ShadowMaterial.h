#pragma once
// The shadow receiver programs: a vertex program that carries the view-space
// position through the shadow matrix, and a fragment program that reads the
// shadow map's comparison at that coordinate. Registered once per process as
// "shadow_glsl_v" and "shadow_glsl_p"; only GLSL is carried.

#include "quern/Types.h"
#include "quern/graphics/ShaderLanguage.h"

namespace quern::assets {
class ResourceCache;
}

namespace quern::fx {

struct ShadowProgramText {
    const char* name;
    const char* text;
    u64 length;
};

class ShadowMaterial {
public:
    // Loads the fragment, then the vertex program into the cache unless it
    // holds them already, and keeps their resource keys. Any language but
    // GLSL is fatal "Unsupported shader language".
    static void registerShaders(graphics::ShaderLanguage language, assets::ResourceCache& cache);

    static u64 vertexProgramKey();
    static u64 fragmentProgramKey();
    static const ShadowProgramText& vertexProgram();
    static const ShadowProgramText& fragmentProgram();
};

} // namespace quern::fx
