// The GLSL 1.40 texts of the built-in materials' programs. Vertex attributes
// are "position" (vec4), "texcoord0" and "texcoord1" (vec2) and "color"
// (vec4); every fragment program writes "fragColor".

#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/graphics/GlslText.h"

#include <array>

namespace quern::graphics {
namespace {

constexpr char kVertex = '0';
constexpr char kFragment = '1';

constexpr GlslText kUnlitVertex(kVertex, R"(#version 140
uniform mat4 modelViewProjectionMatrix;
in vec4 position;
in vec2 texcoord0;
out vec2 texCoord;
void main()
{
    texCoord = texcoord0;
    gl_Position = modelViewProjectionMatrix * position;
}

)");

// Writes premultiplied colour.
constexpr GlslText kUnlitFragment(kFragment, R"(#version 140
uniform vec4 color;
uniform sampler2D textureMap;
in vec2 texCoord;
out vec4 fragColor;
void main()
{
    vec4 t = texture(textureMap, texCoord);
    fragColor = vec4(t.rgb * t.a * color.rgb, t.a * color.a);
}

)");

constexpr GlslText kVertexColorVertex(kVertex, R"(#version 140
uniform mat4 modelViewProjectionMatrix;
in vec4 position;
in vec4 color;
out vec4 vertexColor;
void main()
{
    vertexColor = color;
    gl_Position = modelViewProjectionMatrix * position;
}

)");

constexpr GlslText kVertexColorFragment(kFragment, R"(#version 140
uniform vec4 color;
in vec4 vertexColor;
out vec4 fragColor;
void main()
{
    fragColor = vertexColor * color;
}

)");

constexpr GlslText kVertexColorTexturedVertex(kVertex, R"(#version 140
uniform mat4 modelViewProjectionMatrix;
in vec4 position;
in vec2 texcoord0;
in vec4 color;
out vec2 texCoord;
out vec4 vertexColor;
void main()
{
    texCoord = texcoord0;
    vertexColor = color;
    gl_Position = modelViewProjectionMatrix * position;
}

)");

constexpr GlslText kVertexColorTexturedFragment(kFragment, R"(#version 140
uniform sampler2D textureMap;
uniform vec4 color;
in vec2 texCoord;
in vec4 vertexColor;
out vec4 fragColor;
void main()
{
    fragColor = texture(textureMap, texCoord) * vertexColor * color;
}

)");

// The vertex colour is cut to 8 bits per channel, as the glyph quads carry it.
constexpr GlslText kTextVertex(kVertex, R"(#version 140
uniform mat4 modelViewProjectionMatrix;
uniform vec4 uniformColor;
in vec4 position;
in vec2 texcoord0;
in vec4 color;
out vec2 texCoord;
out vec4 vColor;
void main()
{
    texCoord = texcoord0;
    vColor = (trunc(color * 255.0) / 255.0) * uniformColor;
    gl_Position = modelViewProjectionMatrix * position;
}

)");

// Squared coverage of the glyph atlas's one channel.
constexpr GlslText kTextFragment(kFragment, R"(#version 140
uniform sampler2D textureMap;
in vec2 texCoord;
in vec4 vColor;
out vec4 fragColor;
void main()
{
    float c = texture(textureMap, texCoord).r;
    fragColor = c * c * vColor;
}

)");

constexpr GlslText kBlitFragment(kFragment, R"(#version 140
uniform sampler2D textureMap;
in vec2 texCoord;
out vec4 fragColor;
void main()
{
    fragColor = texture(textureMap, texCoord);
}

)");

// Resolves a multisampled image: the mean of every sample of the texel.
constexpr GlslText kBlitMultisampleFragment(kFragment, R"(#version 140
#extension GL_ARB_texture_multisample : enable
uniform sampler2DMS textureMap;
uniform int numSamples;
in vec2 texCoord;
out vec4 fragColor;
void main()
{
    ivec2 texel = ivec2(texCoord * vec2(textureSize(textureMap)));
    int samples = max(numSamples, 1);
    vec4 sum = vec4(0.0);
    for (int i = 0; i < samples; ++i)
        sum += texelFetch(textureMap, texel, i);
    fragColor = sum / float(samples);
}

)");

constexpr GlslText kBlitDownsampleVertex(kVertex, R"(#version 140
uniform mat4 modelViewProjectionMatrix;
uniform vec4 texelSize;
in vec4 position;
in vec2 texcoord0;
out vec2 vTexCoord0;
out vec2 vTexCoord1;
out vec2 vTexCoord2;
out vec2 vTexCoord3;
void main()
{
    vec2 h = texelSize.xy * 0.5;
    vTexCoord0 = texcoord0 + vec2(h.x, h.y);
    vTexCoord1 = texcoord0 - vec2(h.x, h.y);
    vTexCoord2 = texcoord0 + vec2(-h.x, h.y);
    vTexCoord3 = texcoord0 + vec2(h.x, -h.y);
    gl_Position = modelViewProjectionMatrix * position;
}

)");

constexpr GlslText kBlitDownsampleFragment(kFragment, R"(#version 140
uniform sampler2D textureMap;
in vec2 vTexCoord0;
in vec2 vTexCoord1;
in vec2 vTexCoord2;
in vec2 vTexCoord3;
out vec4 fragColor;
void main()
{
    fragColor = 0.25 * (texture(textureMap, vTexCoord0) + texture(textureMap, vTexCoord1) +
                        texture(textureMap, vTexCoord2) + texture(textureMap, vTexCoord3));
}

)");

// A negative brightness could push a channel below zero, where pow is
// undefined: the sum is clamped first.
constexpr GlslText kBrightnessFragment(kFragment, R"(#version 140
uniform float gamma;
uniform float brightness;
uniform sampler2D textureMap;
in vec2 texCoord;
out vec4 fragColor;
void main()
{
    vec3 c = max(texture(textureMap, texCoord).rgb + vec3(brightness), vec3(0.0));
    vec3 rgb = pow(c, vec3(1.0 / gamma));
    fragColor = vec4(rgb, dot(rgb, vec3(0.299, 0.587, 0.114)));
}

)");

// ITU-R BT.601 limited range; the video's rows run top-down.
constexpr GlslText kYuvToRgbFragment(kFragment, R"(#version 140
uniform sampler2D yTexture;
uniform sampler2D uTexture;
uniform sampler2D vTexture;
in vec2 texCoord;
out vec4 fragColor;
void main()
{
    vec2 s = vec2(texCoord.x, 1.0 - texCoord.y);
    float y = texture(yTexture, s).r - 0.0625;
    float u = texture(uTexture, s).r - 0.5;
    float v = texture(vTexture, s).r - 0.5;
    fragColor = vec4(1.164383 * y + 1.596027 * v,
                     1.164383 * y - 0.391762 * u - 0.812968 * v,
                     1.164383 * y + 2.017232 * u,
                     1.0);
}

)");

// Camera-facing quads: texcoord0 holds (size, rotation), texcoord1 the corner.
constexpr GlslText kParticleVertex(kVertex, R"(#version 140
uniform mat4 modelViewProjectionMatrix;
uniform mat4 projectionMatrix;
in vec4 position;
in vec2 texcoord0;
in vec2 texcoord1;
in vec4 color;
out vec2 outTexCoord;
out vec4 outColor;
void main()
{
    vec2 corner = texcoord1 - vec2(0.5);
    float s = sin(texcoord0.y);
    float c = cos(texcoord0.y);
    corner = vec2(c * corner.x - s * corner.y, s * corner.x + c * corner.y) * texcoord0.x;
    vec2 offset = mat2(projectionMatrix[0].xy, projectionMatrix[1].xy) * corner;
    gl_Position = modelViewProjectionMatrix * position + vec4(offset, 0.0, 0.0);
    outTexCoord = texcoord1;
    outColor = color;
}

)");

constexpr GlslText kParticleAddFragment(kFragment, R"(#version 140
uniform sampler2D textureMap;
in vec2 outTexCoord;
in vec4 outColor;
out vec4 fragColor;
void main()
{
    vec4 t = texture(textureMap, outTexCoord) * outColor;
    fragColor = vec4(t.rgb * t.a, t.a);
}

)");

constexpr GlslText kParticleMultiplyFragment(kFragment, R"(#version 140
uniform sampler2D textureMap;
in vec2 outTexCoord;
in vec4 outColor;
out vec4 fragColor;
void main()
{
    vec4 t = texture(textureMap, outTexCoord) * outColor;
    fragColor = mix(vec4(1.0), t, t.a);
}

)");

template <u64 N>
constexpr EmbeddedProgramSource source(EmbeddedProgram program, const char* name, const GlslText<N>& text)
{
    return { program, name, text.text, GlslText<N>::kLength };
}

using P = EmbeddedProgram;

constexpr std::array<EmbeddedProgramSource, kEmbeddedProgramCount> kSources { {
    source(P::UnlitVertex, "unlit_glsl_v", kUnlitVertex),
    source(P::UnlitFragment, "unlit_glsl_p", kUnlitFragment),
    source(P::VertexColorVertex, "vertex_color_glsl_v", kVertexColorVertex),
    source(P::VertexColorFragment, "vertex_color_glsl_p", kVertexColorFragment),
    source(P::VertexColorTexturedVertex, "vertex_color_textured_glsl_v", kVertexColorTexturedVertex),
    source(P::VertexColorTexturedFragment, "vertex_color_textured_glsl_p", kVertexColorTexturedFragment),
    source(P::TextVertex, "text_glsl_v", kTextVertex),
    source(P::TextFragment, "text_glsl_p", kTextFragment),
    source(P::BlitFragment, "blit_glsl_p", kBlitFragment),
    source(P::BlitMultisampleFragment, "blit_multisample_glsl_p", kBlitMultisampleFragment),
    source(P::BlitDownsampleVertex, "blit_downsample_glsl_v", kBlitDownsampleVertex),
    source(P::BlitDownsampleFragment, "blit_downsample_glsl_p", kBlitDownsampleFragment),
    source(P::BrightnessFragment, "brightness_glsl_p", kBrightnessFragment),
    source(P::YuvToRgbFragment, "yuv_to_rgb_glsl_p", kYuvToRgbFragment),
    source(P::ParticleVertex, "particle_glsl_v", kParticleVertex),
    // The additive programs share one text.
    source(P::ParticleAddFragment, "particle_add_glsl_p", kParticleAddFragment),
    source(P::ParticleMultiplyFragment, "particle_multiply_glsl_p", kParticleMultiplyFragment),
    source(P::ParticleAddMultiplyFragment, "particle_add_multiply_glsl_p", kParticleAddFragment),
} };

static_assert([] {
    for (u32 i = 0; i < kEmbeddedProgramCount; ++i)
        if (static_cast<u32>(kSources[i].program) != i)
            return false;
    return true;
}());

} // namespace

std::span<const EmbeddedProgramSource> glslProgramSources() { return kSources; }

} // namespace quern::graphics
