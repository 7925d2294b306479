#include "quern/graphics/materials/SpriteMaterial.h"

#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/materials/MaterialSupport.h"
#include "quern/graphics/materials/UnlitMaterial.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/TextureState.h"

#include <array>

namespace quern::graphics {
namespace {
constexpr u8 kClampToEdgeBothWays = TextureState::kWrapClampToEdge | TextureState::kWrapClampToEdge << 2;
} // namespace

Shader* SpriteMaterial::createShader(Display& display)
{
    Shader* shader = ParticleMaterial::createShader(display);
    shader->getCullState()->setCullMode(CullState::CullNone);
    shader->getDepthBufferState()->setTestEnabled(false);
    shader->getTextureState()->setWrap(0, kClampToEdgeBothWays);
    return shader;
}

void TextMaterial::registerShaders(ShaderLanguage language, assets::ResourceCache& cache)
{
    UnlitMaterial::registerShaders(language, cache);
    static constexpr std::array kPrograms{EmbeddedProgram::TextVertex, EmbeddedProgram::TextFragment};
    registerEmbeddedPrograms(language, cache, kPrograms, __FILE__, __LINE__);
}

void TextMaterial::setUpShader(Shader& shader)
{
    ParticleMaterial::setUpShader(shader);

    const Texture* image = texture();
    ShaderProgramState* programs = shader.getShaderProgramState();
    if (!image || !image->pixelBuffer() || image->pixelBuffer()->format().pixelFormat != PixelFormat::L8) {
        // Set again, not kept: a pass that drew an L8 atlas before still
        // holds the text programs.
        programs->setVertexProgram(fetchProgram(embeddedProgramKey(EmbeddedProgram::UnlitVertex)));
        programs->setFragmentProgram(fetchProgram(embeddedProgramKey(EmbeddedProgram::UnlitFragment)));
        return;
    }
    programs->setVertexProgram(fetchProgram(embeddedProgramKey(EmbeddedProgram::TextVertex)));
    programs->setFragmentProgram(fetchProgram(embeddedProgramKey(EmbeddedProgram::TextFragment)));
    Uniform* colour = materials::newUniform("uniformColor", UniformType::Vector, 4, this->colour());
    auto* matrix = new ModelViewProjectionMatrixUniform();
    materials::clearUniforms(*programs, ShaderProgramState::VertexStage);
    programs->addUniform(matrix, ShaderProgramState::VertexStage);
    programs->addUniform(colour, ShaderProgramState::VertexStage);
    materials::clearUniforms(*programs, ShaderProgramState::FragmentStage);
}

} // namespace quern::graphics
