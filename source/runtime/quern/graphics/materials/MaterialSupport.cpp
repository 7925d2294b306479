#include "quern/graphics/materials/MaterialSupport.h"

#include "quern/assets/ResourceCache.h"
#include "quern/graphics/DefaultTextures.h"
#include "quern/graphics/Material.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/renderstate/TextureState.h"

namespace quern::graphics::materials {

Ref textureRef(Texture* texture) { return texture ? Ref(static_cast<RefCounted*>(texture)) : Ref(); }

Texture* textureOf(const Ref& handle)
{
    return handle ? static_cast<Texture*>(static_cast<RefCounted*>(handle.object())) : nullptr;
}

Uniform* newUniform(const char* name, UniformType type, u32 count, const void* value)
{
    auto* uniform = new Uniform(name, type, count);
    uniform->setValue(value, count);
    return uniform;
}

void clearUniforms(ShaderProgramState& state, ShaderProgramState::Stage stage)
{
    const UniformList& list = state.uniforms(stage);
    while (list.count() != 0)
        state.removeUniform(list.at(0), stage);
}

Uniform* findUniform(const ShaderProgramState& state, ShaderProgramState::Stage stage, const char* name)
{
    const UniformList& list = state.uniforms(stage);
    for (u64 i = 0; i < list.count(); ++i)
        if (list.at(i)->name() == name)
            return list.at(i);
    return nullptr;
}

Uniform* writableUniform(ShaderProgramState& state, ShaderProgramState::Stage stage, const char* name,
                         UniformType type, u32 count)
{
    Uniform* current = findUniform(state, stage, name);
    if (current && state.refCount() <= 1 && current->refCount() <= 1)
        return current;
    auto* fresh = new Uniform(name, type, count);
    if (current)
        state.removeUniform(current, stage);
    state.addUniform(fresh, stage);
    return fresh;
}

TextureState* texturesForWrite(Shader& shader)
{
    TextureState* textures = shader.getTextureState();
    if (textures->refCount() <= 1)
        return textures;
    auto* copy = static_cast<TextureState*>(textures->clone());
    shader.setTextureState(copy);
    return copy;
}

bool hasAlpha(const Texture& texture)
{
    const TextureExtension& extension = texture.extension();
    if (extension.valid)
        return extension.flag0 == 1;
    const PixelBuffer* image = texture.pixelBuffer();
    if (!image)
        return false;
    const PixelFormat& format = image->format().pixelFormat;
    return format.hasChannel(ChannelContent::A) || format.hasChannel(ChannelContent::DXT3) ||
           format.hasChannel(ChannelContent::DXT5) || format.hasChannel(ChannelContent::BC7);
}

Texture* fetchWhiteTexture(const Material& material)
{
    return static_cast<Texture*>(material.fetchCachedObject(defaultWhiteTextureKey(), assets::ResourceType::Texture));
}

} // namespace quern::graphics::materials
