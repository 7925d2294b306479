#include "harmonize/RunGame.h"

#include "quern/assets/AssetHandler.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/ResourceCache.h"
#include "quern/graphics/TextureAtlas.h"

#include <gtest/gtest.h>

#include <vector>

namespace harmonize {
namespace {

namespace types = quern::assets::ResourceType;

std::vector<quern::u64> registeredTypes(const quern::assets::AssetHandlerRegistry& registry)
{
    std::vector<quern::u64> ids;
    for (quern::u64 i = 0; i < registry.count(); ++i) {
        quern::assets::AssetHandlerInfo info {};
        registry.at(i)->describe(info);
        ids.push_back(info.typeId);
    }
    return ids;
}

TEST(AssetHandlerOrder, TheNullBackEndRegistersEveryTypeOnceInTheGamesOrder)
{
    createAssetHandlerRegistry();
    quern::assets::AssetHandlerRegistry& registry = *quern::assets::AssetHandlerRegistry::instance();
    registerAssetHandlers(registry, "null");
    registerAssetHandlers(registry, "null"); // a second pass adds nothing
    const std::vector<quern::u64> expected = { types::Texture, types::Mesh, types::Material, types::KeyframeAnimation,
        types::Font, quern::graphics::kTextureAtlasTypeId, types::AudioStream, types::Video, types::ShaderProgram };
    EXPECT_EQ(registeredTypes(registry), expected);
    destroyAssetHandlerRegistry();
}

} // namespace
} // namespace harmonize
