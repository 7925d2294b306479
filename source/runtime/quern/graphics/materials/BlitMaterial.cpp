#include "quern/graphics/materials/BlitMaterial.h"

#include "quern/debug/Log.h"
#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/materials/MaterialSupport.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/TextureState.h"

#include <array>

namespace quern::graphics {
namespace {
constexpr u8 kClampToEdgeBothWays = TextureState::kWrapClampToEdge | TextureState::kWrapClampToEdge << 2;

f32 reciprocal(u32 size) { return size == 0 ? 0.0f : 1.0f / static_cast<f32>(size); }
} // namespace

Texture* BlitMaterial::source() const { return materials::textureOf(m_source); }

void BlitMaterial::setSource(Texture* texture)
{
    if (texture != source())
        m_source = materials::textureRef(texture);
}

void BlitMaterial::registerShaders(ShaderLanguage language, assets::ResourceCache& cache)
{
    static constexpr std::array kPrograms{EmbeddedProgram::BlitFragment, EmbeddedProgram::BlitMultisampleFragment,
                                          EmbeddedProgram::BlitDownsampleVertex,
                                          EmbeddedProgram::BlitDownsampleFragment};
    registerEmbeddedPrograms(language, cache, kPrograms, __FILE__, __LINE__);
}

Shader* BlitMaterial::createShader(Display&)
{
    auto* shader = new Shader();
    shader->getShaderProgramState()->addUniform(new ModelViewProjectionMatrixUniform(),
                                                ShaderProgramState::VertexStage);
    shader->getTextureState()->setMipmapMode(0, 0);
    shader->getDepthBufferState()->setComparison(Comparison::Always);
    return shader;
}

void BlitMaterial::setUpShader(Shader& shader)
{
    Texture* texture = source();
    const PixelBuffer* image = texture ? texture->pixelBuffer() : nullptr;
    if (!image) {
        QUERN_LOG(1) << "BlitMaterial '" << name() << "' has no source texture to copy" << std::endl;
        materials::texturesForWrite(shader)->setTexture(0, nullptr);
        return;
    }
    const PixelBufferFormat& format = image->format();
    const i32 samples = format.layerCount;

    EmbeddedProgram vertex = EmbeddedProgram::UnlitVertex;
    EmbeddedProgram fragment = samples > 1 ? EmbeddedProgram::BlitMultisampleFragment : EmbeddedProgram::BlitFragment;
    if (m_downsample) {
        vertex = EmbeddedProgram::BlitDownsampleVertex;
        fragment = EmbeddedProgram::BlitDownsampleFragment;
    }
    Uniform* numSamples = materials::newUniform("numSamples", UniformType::Int, 1, &samples);

    ShaderProgramState* programs = shader.getShaderProgramState();
    materials::clearUniforms(*programs, ShaderProgramState::FragmentStage);
    programs->setVertexProgram(fetchProgram(embeddedProgramKey(vertex)));
    programs->setFragmentProgram(fetchProgram(embeddedProgramKey(fragment)));
    programs->addUniform(numSamples, ShaderProgramState::FragmentStage);

    // A rebuilt pass must not gather one texel size per rebuild.
    while (Uniform* old = materials::findUniform(*programs, ShaderProgramState::VertexStage, "texelSize"))
        programs->removeUniform(old, ShaderProgramState::VertexStage);
    if (m_downsample) {
        const f32 texelSize[4] = {reciprocal(format.width), reciprocal(format.height), reciprocal(format.depth), 1.0f};
        programs->addUniform(materials::newUniform("texelSize", UniformType::Vector, 4, texelSize),
                             ShaderProgramState::VertexStage);
    }

    TextureState* textures = materials::texturesForWrite(shader);
    textures->setTexture(0, texture);
    textures->setWrap(0, kClampToEdgeBothWays);
}

} // namespace quern::graphics
