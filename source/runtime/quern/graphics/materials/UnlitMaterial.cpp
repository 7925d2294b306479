#include "quern/graphics/materials/UnlitMaterial.h"

#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/materials/MaterialSupport.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"

#include <array>

namespace quern::graphics {

UnlitMaterial::UnlitMaterial() { setBlendFactors(BlendFactor::SourceAlpha, BlendFactor::OneMinusSourceAlpha); }

void UnlitMaterial::setScissor(i32 x, i32 y, i32 width, i32 height)
{
    m_scissor[0] = x;
    m_scissor[1] = y;
    m_scissor[2] = width;
    m_scissor[3] = height;
}

void UnlitMaterial::registerShaders(ShaderLanguage language, assets::ResourceCache& cache)
{
    static constexpr std::array kPrograms{EmbeddedProgram::UnlitVertex, EmbeddedProgram::UnlitFragment};
    registerEmbeddedPrograms(language, cache, kPrograms, __FILE__, __LINE__);
}

void UnlitMaterial::registerVertexColorShaders(ShaderLanguage language, assets::ResourceCache& cache)
{
    static constexpr std::array kPrograms{EmbeddedProgram::VertexColorVertex, EmbeddedProgram::VertexColorFragment,
                                          EmbeddedProgram::VertexColorTexturedVertex,
                                          EmbeddedProgram::VertexColorTexturedFragment};
    registerEmbeddedPrograms(language, cache, kPrograms, __FILE__, __LINE__);
}

Shader* UnlitMaterial::createShader(Display&)
{
    auto* shader = new Shader();
    shader->getAlphaBlendState();
    shader->getShaderProgramState();
    shader->getTextureState();
    shader->getDepthBufferState()->setTestEnabled(false);
    return shader;
}

void UnlitMaterial::setUpShader(Shader& shader)
{
    ParticleMaterial::setUpShader(shader);

    const bool textured = texture() != nullptr;
    const EmbeddedProgram vertex = textured ? EmbeddedProgram::VertexColorTexturedVertex : EmbeddedProgram::VertexColorVertex;
    const EmbeddedProgram fragment =
        textured ? EmbeddedProgram::VertexColorTexturedFragment : EmbeddedProgram::VertexColorFragment;
    Uniform* white = materials::newUniform("color", UniformType::Vector, 4, kWhite);

    ShaderProgramState* programs = shader.getShaderProgramState();
    programs->setVertexProgram(fetchProgram(embeddedProgramKey(vertex)));
    programs->setFragmentProgram(fetchProgram(embeddedProgramKey(fragment)));
    materials::clearUniforms(*programs, ShaderProgramState::FragmentStage);
    programs->addUniform(white, ShaderProgramState::FragmentStage);

    // The rectangle goes through the setter too: a change that no one is told
    // of would be lost when a shared pass is rebuilt, and stale in the device
    // state built from it.
    CullState* cull = shader.getCullState();
    cull->setScissorEnabled(m_scissorEnabled != 0);
    cull->setScissor(m_scissor[0], m_scissor[1], m_scissor[2], m_scissor[3]);
}

} // namespace quern::graphics
