#pragma once
// The shader programs built into the executable for the built-in materials.
// Each is registered once at start-up as an ordinary ShaderProgram resource
// named "<base>_<language>_<v|p>" (asset id = MurmurHash64A of the name), and
// its resource key is kept in a process-wide slot that the materials read
// when they build their passes. Material files may name the same programs.
//
// A GLSL text starts with the line "//<8 hex digits: length of the rest> <0|1>"
// (0 vertex, 1 fragment; program loaders read the digit at byte 11), then
// "#version 140".

#include "quern/Types.h"
#include "quern/graphics/ShaderLanguage.h"

#include <span>

namespace quern::assets {
class ResourceCache;
}

namespace quern::graphics {

enum class EmbeddedProgram : u32 {
    UnlitVertex,
    UnlitFragment,
    VertexColorVertex,
    VertexColorFragment,
    VertexColorTexturedVertex,
    VertexColorTexturedFragment,
    TextVertex,
    TextFragment,
    BlitFragment,
    BlitMultisampleFragment,
    BlitDownsampleVertex,
    BlitDownsampleFragment,
    BrightnessFragment,
    YuvToRgbFragment,
    ParticleVertex,
    ParticleAddFragment,
    ParticleMultiplyFragment,
    ParticleAddMultiplyFragment,
    Count,
};

inline constexpr u32 kEmbeddedProgramCount = static_cast<u32>(EmbeddedProgram::Count);

// Byte offset of the stage digit in the first line of a program text.
inline constexpr u64 kEmbeddedStageOffset = 11;

struct EmbeddedProgramSource {
    EmbeddedProgram program;
    const char* name; // "unlit_glsl_v"
    const char* text;
    u64 length; // without a terminating zero
};

// The GLSL text of a program.
const EmbeddedProgramSource& glslProgramSource(EmbeddedProgram program);
// Every GLSL text, in EmbeddedProgram order.
std::span<const EmbeddedProgramSource> glslProgramSources();

// MurmurHash64A of the name, seed 0.
u64 embeddedProgramAssetId(const char* name);
// The asset id XOR the ShaderProgram type id.
u64 embeddedProgramResourceKey(const char* name);

// The resource key registered for a program; 0 until its family registered.
u64 embeddedProgramKey(EmbeddedProgram program);
void setEmbeddedProgramKey(EmbeddedProgram program, u64 key);
// Forgets every registered key (for a process that tears its cache down).
void clearEmbeddedProgramKeys();

// Registers a family: loads each program of `programs` in order into `cache`
// through an EmbeddedSourceDepot (a program the cache holds already is not
// loaded again) and fills its key slot. Only GLSL programs are carried: any
// other language is fatal "Unsupported shader language", reported at the
// family's `file` and `line`.
void registerEmbeddedPrograms(ShaderLanguage language, assets::ResourceCache& cache,
                              std::span<const EmbeddedProgram> programs, const char* file, u32 line);

} // namespace quern::graphics
