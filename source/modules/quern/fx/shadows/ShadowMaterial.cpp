#include "quern/fx/shadows/ShadowMaterial.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/ResourceCache.h"
#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/graphics/EmbeddedSourceDepot.h"
#include "quern/graphics/GlslText.h"
#include "quern/platform/ErrorReporting.h"

namespace quern::fx {
namespace {

constexpr graphics::GlslText kVertexText('0', R"(#version 140
uniform mat4 modelViewProjectionMatrix;
uniform mat4 modelViewMatrix;
uniform mat4 shadowMatrix;
in vec4 position;
out vec4 vShadowCoord;
void main()
{
    vShadowCoord = shadowMatrix * (modelViewMatrix * position);
    gl_Position = modelViewProjectionMatrix * position;
}
)");

constexpr graphics::GlslText kFragmentText('1', R"(#version 140
uniform sampler2D shadowMap;
in vec4 vShadowCoord;
out vec4 fragColor;
void main()
{
    fragColor = textureProj(shadowMap, vShadowCoord).xxxx;
}
)");

const ShadowProgramText kVertex { "shadow_glsl_v", kVertexText.text, kVertexText.kLength };
const ShadowProgramText kFragment { "shadow_glsl_p", kFragmentText.text, kFragmentText.kLength };

u64 g_vertexKey = 0;
u64 g_fragmentKey = 0;

u64 registerProgram(const ShadowProgramText& program, assets::Depot& depot, assets::ResourceCache& cache)
{
    const u64 assetId = graphics::embeddedProgramAssetId(program.name);
    const u64 key = assets::resourceKey(assetId, assets::ResourceType::ShaderProgram);
    if (cache.find(key))
        return key;
    return assets::loadAsset(assetId, assets::ResourceType::ShaderProgram, depot, cache);
}

} // namespace

void ShadowMaterial::registerShaders(graphics::ShaderLanguage language, assets::ResourceCache& cache)
{
    if (language != graphics::ShaderLanguage::GLSL)
        QUERN_FATAL("Unsupported shader language");
    graphics::EmbeddedSourceDepot depot;
    depot.add(kFragment.text, kFragment.length, kFragment.name);
    depot.add(kVertex.text, kVertex.length, kVertex.name);
    g_fragmentKey = registerProgram(kFragment, depot, cache);
    g_vertexKey = registerProgram(kVertex, depot, cache);
}

u64 ShadowMaterial::vertexProgramKey() { return g_vertexKey; }
u64 ShadowMaterial::fragmentProgramKey() { return g_fragmentKey; }
const ShadowProgramText& ShadowMaterial::vertexProgram() { return kVertex; }
const ShadowProgramText& ShadowMaterial::fragmentProgram() { return kFragment; }

} // namespace quern::fx
