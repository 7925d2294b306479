#pragma once
// Small steps shared by the built-in materials: retained texture handles,
// fresh uniforms, emptying a stage's uniform list, and the alpha test that
// picks a blend mode.

#include "quern/Types.h"
#include "quern/graphics/Uniform.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/language/RefCounted.h"

#include <string>

namespace quern::graphics {

class Material;
class Shader;
class Texture;
class TextureState;

namespace materials {

// A handle that holds one reference on the texture (empty for null).
Ref textureRef(Texture* texture);
// The texture a handle holds, or null.
Texture* textureOf(const Ref& handle);

// A new stored uniform with `count` floats or integers copied from `value`.
Uniform* newUniform(const char* name, UniformType type, u32 count, const void* value);

// Removes every uniform of a stage's list.
void clearUniforms(ShaderProgramState& state, ShaderProgramState::Stage stage);

// The first uniform of the stage's list with that name, or null.
Uniform* findUniform(const ShaderProgramState& state, ShaderProgramState::Stage stage, const char* name);

// A uniform of that name in the stage's list whose value this state alone
// may write: the one there when nothing else holds it or its state, else a
// fresh one (type and count as given) put in place of it. Writing into a
// uniform that another pass shares would change that pass too.
Uniform* writableUniform(ShaderProgramState& state, ShaderProgramState::Stage stage, const char* name,
                         UniformType type, u32 count);

// The pass's texture state, ready to take new textures: a state that other
// passes share is first replaced by a copy. Texture swaps announce no change
// (textures are bound per draw), so a pass rebuilt by copy on write would
// otherwise keep the state it shares, and with it the old textures.
TextureState* texturesForWrite(Shader& shader);

// Whether the texture's image has alpha: the DDS extension word says so when
// it is valid, otherwise a channel holding alpha (A, DXT3, DXT5 or BC7).
bool hasAlpha(const Texture& texture);

// The built-in white texture from the material's cache (the current cache
// when it has none); null before the default textures are registered.
Texture* fetchWhiteTexture(const Material& material);

} // namespace materials
} // namespace quern::graphics
