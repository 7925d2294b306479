#include "harmonize/RunGame.h"

#include "quern/assets/AssetHandler.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/ResourceCache.h"
#include "quern/graphics/TextureAtlas.h"
#include "quern/opengl/GLSLShaderProgram.h"

#include <gtest/gtest.h>

#include <string>
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

TEST(AssetHandlerOrder, EachGraphicsBackEndRegistersEveryTypeOnceInTheGamesOrder)
{
    const std::vector<quern::u64> expected = { types::Texture, types::Mesh, types::Material, types::KeyframeAnimation,
        types::Font, quern::graphics::kTextureAtlasTypeId, types::AudioStream, types::Video, types::ShaderProgram };
    for (const char* backEnd : { "null", "opengl" }) {
        SCOPED_TRACE(backEnd);
        createAssetHandlerRegistry();
        quern::assets::AssetHandlerRegistry& registry = *quern::assets::AssetHandlerRegistry::instance();
        registerAssetHandlers(registry, backEnd);
        registerAssetHandlers(registry, backEnd); // a second pass adds nothing
        EXPECT_EQ(registeredTypes(registry), expected);
        const bool glsl = dynamic_cast<quern::opengl::GLSLShaderProgramHandler*>(registry.at(registry.count() - 1));
        EXPECT_EQ(glsl, std::string(backEnd) == "opengl");
        destroyAssetHandlerRegistry();
    }
}

} // namespace
} // namespace harmonize
