#include "quern/graphics/materials/YuvToRgbMaterial.h"

#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/materials/MaterialSupport.h"
#include "quern/graphics/renderstate/TextureState.h"

#include <array>

namespace quern::graphics {

using materials::textureOf;

Texture* YuvToRgbMaterial::yPlane() const { return textureOf(m_yPlane); }
Texture* YuvToRgbMaterial::uPlane() const { return textureOf(m_uPlane); }
Texture* YuvToRgbMaterial::vPlane() const { return textureOf(m_vPlane); }

void YuvToRgbMaterial::setPlanes(Texture* y, Texture* u, Texture* v)
{
    m_yPlane = materials::textureRef(y);
    m_uPlane = materials::textureRef(u);
    m_vPlane = materials::textureRef(v);
}

void YuvToRgbMaterial::registerShaders(ShaderLanguage language, assets::ResourceCache& cache)
{
    static constexpr std::array kPrograms{EmbeddedProgram::YuvToRgbFragment};
    registerEmbeddedPrograms(language, cache, kPrograms, __FILE__, __LINE__);
}

Shader* YuvToRgbMaterial::createShader(Display&)
{
    auto* shader = new Shader();
    ShaderProgram* vertex = fetchProgram(embeddedProgramKey(EmbeddedProgram::UnlitVertex));
    ShaderProgram* fragment = fetchProgram(embeddedProgramKey(EmbeddedProgram::YuvToRgbFragment));
    auto* v = new TextureUniform("vTexture", 2);
    auto* u = new TextureUniform("uTexture", 1);
    auto* y = new TextureUniform("yTexture", 0);

    ShaderProgramState* programs = shader->getShaderProgramState();
    programs->setVertexProgram(vertex);
    programs->setFragmentProgram(fragment);
    programs->addUniform(new ModelViewProjectionMatrixUniform(), ShaderProgramState::VertexStage);
    programs->addUniform(y, ShaderProgramState::FragmentStage);
    programs->addUniform(u, ShaderProgramState::FragmentStage);
    programs->addUniform(v, ShaderProgramState::FragmentStage);
    TextureState* textures = shader->getTextureState();
    for (u32 unit = 0; unit < 3; ++unit)
        textures->setMipmapMode(unit, 0);
    return shader;
}

void YuvToRgbMaterial::setUpShader(Shader& shader)
{
    TextureState* textures = materials::texturesForWrite(shader);
    textures->setTexture(0, yPlane());
    textures->setTexture(1, uPlane());
    textures->setTexture(2, vPlane());
}

} // namespace quern::graphics
