#pragma once
// What the post-effect tests run on: the null display as the global display
// with a known drawable size, a loading worker whose cache holds the level's
// "preloaded" materials and textures (made here, with just the properties a
// case needs), a render-target pool on the display, and a quad renderer that
// writes down every quad the effects draw, with the material's values as
// they were at that draw.

#include "runtime/quern/graphics/MemoryDepot.h"
#include "support/LogCapture.h"
#include "support/SoftAssertRecorder.h"

#include "harmonize/Settings.h"
#include "harmonize/display/DisplaySettings.h"
#include "harmonize/render/PostEffects.h"
#include "harmonize/render/QuadRenderer.h"
#include "harmonize/render/RenderTargetPool.h"
#include "harmonize/tasks/LoadingWorker.h"

#include "quern/assets/ResourceCache.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/graphics/materials/BlitMaterial.h"
#include "quern/graphics/materials/BrightnessMaterial.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace harmonize::test {

using quern::f32;
using quern::u64;
using quern::graphics::GenericMaterial;
using quern::graphics::MaterialPropertyType;
using quern::graphics::Texture;
using quern::graphics::TextureRenderTarget;
using Vec4 = std::array<f32, 4>;

// One quad as an effect drew it.
struct DrawnQuad {
    TextureRenderTarget* target = nullptr;
    quern::graphics::Material* material = nullptr;
    // A generic material's values and textures by property name.
    std::map<std::string, Vec4> values;
    std::map<std::string, Texture*> textures;
    // A blit or brightness material's main texture, downsample flag and gamma.
    Texture* source = nullptr;
    bool downsample = false;
    f32 gamma = 0.0f;
    // The target's viewport at the draw.
    std::array<quern::i32, 4> viewport {};
};

class RecordingQuadRenderer final : public QuadRenderer {
public:
    void drawQuad(TextureRenderTarget& target, quern::graphics::Material& material) override
    {
        DrawnQuad quad;
        quad.target = &target;
        quad.material = &material;
        std::copy(target.viewport(), target.viewport() + 4, quad.viewport.begin());
        if (auto* generic = dynamic_cast<GenericMaterial*>(&material)) {
            for (quern::i32 i = 1; i <= static_cast<quern::i32>(generic->propertyCount()); ++i) {
                const quern::graphics::MaterialProperty& property = generic->property(i);
                if (property.type == static_cast<quern::u32>(MaterialPropertyType::Texture))
                    quad.textures[property.name] = property.texture;
                else
                    quad.values[property.name] = { property.value[0], property.value[1], property.value[2],
                        property.value[3] };
            }
        } else if (auto* blit = dynamic_cast<quern::graphics::BlitMaterial*>(&material)) {
            quad.source = blit->source();
            quad.downsample = blit->downsample();
        } else if (auto* brightness = dynamic_cast<quern::graphics::BrightnessMaterial*>(&material)) {
            quad.source = brightness->source();
            quad.gamma = brightness->gamma();
        }
        drawn.push_back(quad);
    }

    std::vector<DrawnQuad> drawn;
};

struct PropertySpec {
    const char* name;
    MaterialPropertyType type;
};

// Memory in the cache under (id, type), with `construct` (when given) run in
// it, as a level's preload leaves its resources; the cache keeps one
// reference and destroys it with itself.
inline void* preloadInto(quern::assets::ResourceCache& cache, u64 id, u64 type, u64 size, u64 alignment,
    quern::assets::ResourceCache::ConstructFunction construct)
{
    bool created = false;
    const quern::u32 handle
        = cache.acquireOrCreate(quern::assets::resourceKey(id, type), type, size, alignment, created, construct);
    u64 found = 0;
    void* object = cache.entry(handle, found);
    cache.release(handle);
    return object;
}

// Gives the preloaded material its properties, texture properties on units
// 0, 1, ... in order.
inline void addProperties(GenericMaterial& material, std::initializer_list<PropertySpec> properties)
{
    quern::i32 unit = 0;
    for (const PropertySpec& spec : properties) {
        const quern::i32 index = material.addProperty(spec.name, spec.type);
        if (spec.type == MaterialPropertyType::Texture)
            material.property(index).unit = unit++;
    }
}

// A generic material constructed in cache memory.
inline GenericMaterial* preloadMaterial(quern::assets::ResourceCache& cache, u64 id)
{
    return static_cast<GenericMaterial*>(static_cast<quern::RefCounted*>(
        preloadInto(cache, id, quern::assets::ResourceType::Material, sizeof(GenericMaterial),
            alignof(GenericMaterial), [](void* memory, void*) { quern::RefCounted::retain(new (memory) GenericMaterial()); })));
}

class EffectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::resetToDefaults();
        quern::graphics::Display::set(new quern::graphics::NullDisplay());
        setDisplaySize(1280, 720);
        worker = std::make_unique<LoadingWorker>(&depot, nullptr);
        pool = std::make_unique<RenderTargetPool>(*quern::graphics::Display::get());
    }
    void TearDown() override
    {
        effects.release();
        held.clear();
        pool.reset();
        worker.reset();
        quern::graphics::Display::set(nullptr);
        processDisplaySize() = DisplaySize {};
        Settings::resetToDefaults();
    }

    static void setDisplaySize(quern::i32 width, quern::i32 height) { processDisplaySize() = DisplaySize { width, height }; }

    // A material the level "preloaded" under `id`, with these properties.
    GenericMaterial* addMaterial(u64 id, std::initializer_list<PropertySpec> properties)
    {
        GenericMaterial* material = preloadMaterial(worker->cache(), id);
        addProperties(*material, properties);
        return material;
    }

    Texture* addTexture(u64 id)
    {
        auto* texture = static_cast<Texture*>(static_cast<quern::RefCounted*>(preloadInto(worker->cache(), id,
            quern::assets::ResourceType::Texture, sizeof(Texture), alignof(Texture),
            [](void* memory, void*) { quern::RefCounted::retain(new (memory) Texture()); })));
        texture->pixelBuffer()->setBufferFormat(
            quern::graphics::PixelBufferFormat::create2D(4, 4, quern::graphics::PixelFormat::B8G8R8));
        return texture;
    }

    // A frame-sized target outside the pool, as the pipeline makes its own.
    TextureRenderTarget* frameTarget(quern::i32 width, quern::i32 height)
    {
        const quern::graphics::PixelBufferFormat format = quern::graphics::PixelBufferFormat::create2D(
            static_cast<quern::u32>(width), static_cast<quern::u32>(height), quern::graphics::PixelFormat::A8B8G8R8);
        TextureRenderTarget* target = TextureRenderTarget::createTextureRenderTarget(
            { &format, 1 }, *quern::graphics::Display::get());
        held.emplace_back(target);
        return target;
    }

    // Every target the pool handed out is free again.
    bool poolIsFree() const
    {
        for (u64 i = 0; i < pool->entryCount(); ++i)
            if (pool->useCount(i) != 0)
                return false;
        return true;
    }

    quern::graphics::testing::MemoryDepot depot;
    std::unique_ptr<LoadingWorker> worker;
    std::unique_ptr<RenderTargetPool> pool;
    RecordingQuadRenderer quads;
    PostEffects effects;
    std::vector<quern::Ref> held;

};

} // namespace harmonize::test
