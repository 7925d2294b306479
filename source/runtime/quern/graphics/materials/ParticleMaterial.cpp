#include "quern/graphics/materials/ParticleMaterial.h"

#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/materials/MaterialSupport.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/FillState.h"
#include "quern/graphics/renderstate/TextureState.h"

#include <array>

namespace quern::graphics {

using materials::textureOf;

ParticleMaterial::ParticleMaterial() = default;

Texture* ParticleMaterial::texture() const { return textureOf(m_texture); }

void ParticleMaterial::setTexture(Texture* texture)
{
    if (texture != this->texture())
        m_texture = materials::textureRef(texture);
}

void ParticleMaterial::setColour(f32 r, f32 g, f32 b, f32 a)
{
    m_colour[0] = r;
    m_colour[1] = g;
    m_colour[2] = b;
    m_colour[3] = a;
}

void ParticleMaterial::registerShaders(ShaderLanguage language, assets::ResourceCache& cache)
{
    static constexpr std::array kPrograms{EmbeddedProgram::ParticleVertex, EmbeddedProgram::ParticleAddFragment,
                                          EmbeddedProgram::ParticleMultiplyFragment,
                                          EmbeddedProgram::ParticleAddMultiplyFragment};
    registerEmbeddedPrograms(language, cache, kPrograms, __FILE__, __LINE__);
}

Shader* ParticleMaterial::createShader(Display&)
{
    auto* shader = new Shader();
    ShaderProgramState* programs = shader->getShaderProgramState();
    programs->setVertexProgram(fetchProgram(embeddedProgramKey(EmbeddedProgram::UnlitVertex)));
    programs->setFragmentProgram(fetchProgram(embeddedProgramKey(EmbeddedProgram::UnlitFragment)));
    shader->getTextureState();
    shader->getAlphaBlendState();
    return shader;
}

void ParticleMaterial::setUpShader(Shader& shader)
{
    Uniform* colour = materials::newUniform("color", UniformType::Vector, 4, m_colour);
    auto* matrix = new ModelViewProjectionMatrixUniform();
    ShaderProgramState* programs = shader.getShaderProgramState();
    materials::clearUniforms(*programs, ShaderProgramState::VertexStage);
    programs->addUniform(matrix, ShaderProgramState::VertexStage);
    materials::clearUniforms(*programs, ShaderProgramState::FragmentStage);
    programs->addUniform(colour, ShaderProgramState::FragmentStage);

    Texture* image = texture();
    Texture* bound = image ? image : materials::fetchWhiteTexture(*this);
    if (bound) {
        TextureState* textures = materials::texturesForWrite(shader);
        textures->setTexture(0, bound);
        const bool mipmapped = image && image->pixelBuffer() && image->pixelBuffer()->format().mipCount != 0;
        textures->setMipmapMode(0, mipmapped ? 2 : 0);
    } else {
        shader.setTextureState(nullptr);
    }

    AlphaBlendState* blend = shader.getAlphaBlendState();
    if (m_sourceFactor != BlendFactor::One || m_destinationFactor != BlendFactor::Zero) {
        blend->setEnabled(true);
        blend->setSourceFactor(m_sourceFactor);
        blend->setDestinationFactor(m_destinationFactor);
    } else if (image && materials::hasAlpha(*image)) {
        // The "unlit" program writes premultiplied colour.
        blend->setEnabled(true);
        blend->setSourceFactor(BlendFactor::One);
        blend->setDestinationFactor(BlendFactor::OneMinusSourceAlpha);
    } else {
        blend->setEnabled(false);
    }
}

Shader* DebugMaterial::createShader(Display& display)
{
    Shader* shader = ParticleMaterial::createShader(display);
    shader->getCullState()->setCullMode(CullState::CullNone);
    shader->getDepthBufferState()->setTestEnabled(false);
    shader->getFillState()->setFillMode(FillState::FillMode::Lines);
    return shader;
}

} // namespace quern::graphics
