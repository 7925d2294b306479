#include "quern/graphics/materials/BrightnessMaterial.h"

#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/materials/MaterialSupport.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/TextureState.h"

#include <array>

namespace quern::graphics {

Texture* BrightnessMaterial::source() const { return materials::textureOf(m_source); }

void BrightnessMaterial::setSource(Texture* texture)
{
    if (texture != source())
        m_source = materials::textureRef(texture);
}

void BrightnessMaterial::registerShaders(ShaderLanguage language, assets::ResourceCache& cache)
{
    static constexpr std::array kPrograms{EmbeddedProgram::BrightnessFragment};
    registerEmbeddedPrograms(language, cache, kPrograms, __FILE__, __LINE__);
}

Shader* BrightnessMaterial::createShader(Display&)
{
    auto* shader = new Shader();
    ShaderProgram* vertex = fetchProgram(embeddedProgramKey(EmbeddedProgram::UnlitVertex));
    ShaderProgram* fragment = fetchProgram(embeddedProgramKey(EmbeddedProgram::BrightnessFragment));
    m_gammaUniform = materials::newUniform("gamma", UniformType::Float, 1, &m_gamma);
    m_brightnessUniform = materials::newUniform("brightness", UniformType::Float, 1, &m_brightness);

    ShaderProgramState* programs = shader->getShaderProgramState();
    programs->setVertexProgram(vertex);
    programs->setFragmentProgram(fragment);
    programs->addUniform(new ModelViewProjectionMatrixUniform(), ShaderProgramState::VertexStage);
    programs->addUniform(m_gammaUniform, ShaderProgramState::FragmentStage);
    programs->addUniform(m_brightnessUniform, ShaderProgramState::FragmentStage);
    shader->getTextureState()->setMipmapMode(0, 0);
    shader->getDepthBufferState()->setComparison(Comparison::Always);
    return shader;
}

void BrightnessMaterial::setUpShader(Shader& shader)
{
    // Found again in the pass rather than trusted from createShader: a shared
    // pass is rebuilt from copies of its states, whose uniforms belong to the
    // other holders.
    ShaderProgramState* programs = shader.getShaderProgramState();
    m_gammaUniform =
        materials::writableUniform(*programs, ShaderProgramState::FragmentStage, "gamma", UniformType::Float, 1);
    m_brightnessUniform =
        materials::writableUniform(*programs, ShaderProgramState::FragmentStage, "brightness", UniformType::Float, 1);
    m_gammaUniform->setFloat(m_gamma);
    m_brightnessUniform->setFloat(m_brightness);
    materials::texturesForWrite(shader)->setTexture(0, source());
}

} // namespace quern::graphics
