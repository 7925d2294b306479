#pragma once
// The environment the built-in materials run in: the null display as the
// global display, a resource cache on the cache stack, the null program
// handler, the white texture, and every built-in program registered.

#include "support/LogCapture.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/AssetLoaderContext.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/debug/Logger.h"
#include "quern/graphics/DefaultTextures.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/NullShaderProgramHandler.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/ShaderProgram.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/Uniform.h"
#include "quern/graphics/materials/BlitMaterial.h"
#include "quern/graphics/materials/BrightnessMaterial.h"
#include "quern/graphics/materials/ParticleMaterial.h"
#include "quern/graphics/materials/SpriteMaterial.h"
#include "quern/graphics/materials/UnlitMaterial.h"
#include "quern/graphics/materials/YuvToRgbMaterial.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/io/ByteSource.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace quern::graphics::testing {

// Loads the built-in white image: a 1 x 1 R8G8B8A8 texture.
class WhiteImageHandler final : public assets::AssetHandler {
public:
    void load(ByteSource& source, assets::AssetLoaderContext& context) override
    {
        std::vector<u8> file(source.size());
        source.read(file.data(), file.size());
        assets::ResourceRecord record;
        bool created = false;
        Texture* texture = context.createResourceObject<Texture>(assets::ResourceType::Texture, 0, record, created);
        texture->pixelBuffer()->setData(file.data() + 128, PixelBufferFormat::create2D(1, 1, PixelFormat::R8G8B8A8),
                                        nullptr, 0);
        texture->markLoaded();
    }
    void describe(assets::AssetHandlerInfo& info) override
    {
        info.format = assets::kNativeAssetFormat;
        info.typeId = assets::ResourceType::Texture;
    }
};

using quern::testing::LogCapture;

// Holds one reference for the scope.
template <class T>
class Held {
public:
    explicit Held(T* object) : m_object(object) { RefCounted::retain(static_cast<RefCounted*>(m_object)); }
    ~Held() { RefCounted::release(static_cast<RefCounted*>(m_object)); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    T* get() const { return m_object; }

private:
    T* m_object;
};

class MaterialEnvironment : public ::testing::Test {
protected:
    MaterialEnvironment()
    {
        Display::set(new NullDisplay);
        m_registry.create<NullShaderProgramHandler>();
        m_registry.create<WhiteImageHandler>();
        assets::AssetHandlerRegistry::setInstance(&m_registry);
        assets::ResourceCache* current = &cache;
        assets::ResourceCache::cacheStack().push(&current);
    }
    ~MaterialEnvironment() override
    {
        m_textures.clear();
        assets::ResourceCache::cacheStack().clear();
        clearEmbeddedProgramKeys();
        cache.clear();
        assets::AssetHandlerRegistry::setInstance(nullptr);
        Display::set(nullptr);
    }

    // Everything the application registers at start-up, in its order.
    void registerBuiltIns(ShaderLanguage language = ShaderLanguage::GLSL)
    {
        registerDefaultTextures(cache);
        UnlitMaterial::registerShaders(language, cache);
        TextMaterial::registerShaders(language, cache);
        UnlitMaterial::registerVertexColorShaders(language, cache);
        ParticleMaterial::registerShaders(language, cache);
        BlitMaterial::registerShaders(language, cache);
        BrightnessMaterial::registerShaders(language, cache);
        YuvToRgbMaterial::registerShaders(language, cache);
    }

    // A texture whose image has this layout (no pixels).
    Texture* makeTexture(const PixelBufferFormat& format)
    {
        auto* texture = new Texture();
        texture->pixelBuffer()->setBufferFormat(format);
        m_textures.emplace_back(static_cast<RefCounted*>(texture));
        return texture;
    }

    ShaderProgram* program(EmbeddedProgram which)
    {
        const u32 handle = cache.acquire(embeddedProgramKey(which));
        u64 type = 0;
        void* object = cache.entry(handle, type);
        cache.release(handle);
        return object ? static_cast<ShaderProgram*>(static_cast<RefCounted*>(object)) : nullptr;
    }

    Texture* whiteTexture()
    {
        const u32 handle = cache.acquire(defaultWhiteTextureKey());
        u64 type = 0;
        void* object = cache.entry(handle, type);
        cache.release(handle);
        return static_cast<Texture*>(static_cast<RefCounted*>(object));
    }

    assets::DefaultResourceCache cache;

private:
    assets::AssetHandlerRegistry m_registry;
    std::vector<Ref> m_textures;
};

// The names of a stage's uniforms, in upload order.
inline std::vector<std::string> uniformNames(const ShaderProgramState& state, ShaderProgramState::Stage stage)
{
    std::vector<std::string> names;
    for (u64 i = 0; i < state.uniforms(stage).count(); ++i)
        names.push_back(state.uniforms(stage).at(i)->name());
    return names;
}

inline const Uniform* uniformNamed(const ShaderProgramState& state, ShaderProgramState::Stage stage,
                                   const std::string& name)
{
    for (u64 i = 0; i < state.uniforms(stage).count(); ++i)
        if (state.uniforms(stage).at(i)->name() == name)
            return state.uniforms(stage).at(i);
    return nullptr;
}

inline std::vector<f32> floatsOf(const Uniform* uniform)
{
    const f32* values = static_cast<const f32*>(uniform->value());
    return std::vector<f32>(values, values + uniform->count());
}

inline i32 intOf(const Uniform* uniform) { return *static_cast<const i32*>(uniform->value()); }

} // namespace quern::graphics::testing
