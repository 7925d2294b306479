// The content tool writes GLSL sources as shader-program assets that the
// engine's program loader reads with the stage the manifest gave, refuses
// sources and manifests the engine could not use, and holds materials to the
// programs the manifest lists.

#include "DepotTestContent.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/assets/ResourceCache.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/NullShaderProgramHandler.h"
#include "quern/graphics/ShaderProgram.h"
#include "quern/strings/PackedName.h"

#include "ShaderProgramContent.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quern::test {
namespace {

using graphics::ShaderProgramType;

const std::string kVertexSource = "#version 140\nin vec4 position;\nvoid main() { gl_Position = position; }\n";
const std::string kFragmentSource = "#version 140\r\nout vec4 fragColor;\r\nvoid main() { fragColor = vec4(1.0); }\r\n";

std::string assetBytes(assets::Depot& depot, const std::string& name)
{
    const u32 handle = depot.open(assetId(name));
    std::string bytes(depot.size(handle), '\0');
    depot.read(handle, bytes.size(), bytes.data());
    depot.close(handle);
    return bytes;
}

TEST(ShaderProgramContent, TheTypeWordIsTheEnginesShaderProgramType)
{
    EXPECT_EQ(packName("shaderprog"), assets::ResourceType::ShaderProgram);
}

TEST(ShaderProgramContent, ProgramsCarryTheHeaderTheEnginesLoaderReadsTheirStageFrom)
{
    DepotContent content;
    content.build({ { "lit_v.glsl", kVertexSource, "stage=vertex", "shaderprog" },
        { "lit_p.glsl", kFragmentSource, "stage=fragment", "ShaderProg" } });
    const std::unique_ptr<assets::Depot> depot = content.openDepot("blob");
    EXPECT_EQ(assetBytes(*depot, "lit_v.glsl"), "//00000047 0\n" + kVertexSource);
    EXPECT_EQ(assetBytes(*depot, "lit_p.glsl"), "//0000004b 1\n" + kFragmentSource);

    graphics::Display::set(nullptr);
    assets::AssetHandlerRegistry registry;
    registry.create<graphics::NullShaderProgramHandler>();
    assets::AssetHandlerRegistry::setInstance(&registry);
    assets::DefaultResourceCache cache;
    const struct {
        const char* name;
        ShaderProgramType stage;
    } programs[] = { { "lit_v.glsl", ShaderProgramType::Vertex }, { "lit_p.glsl", ShaderProgramType::Fragment } };
    for (const auto& program : programs) {
        SCOPED_TRACE(program.name);
        const u64 key = assets::loadAsset(assetId(program.name), assets::ResourceType::ShaderProgram, *depot, cache);
        const u32 handle = cache.acquire(key);
        ASSERT_NE(handle, 0u);
        u64 type = 0;
        auto* loaded = static_cast<graphics::ShaderProgram*>(static_cast<RefCounted*>(cache.entry(handle, type)));
        EXPECT_EQ(type, assets::ResourceType::ShaderProgram);
        EXPECT_EQ(loaded->type(), program.stage);
        cache.release(handle);
    }
    cache.clear();
    assets::AssetHandlerRegistry::setInstance(nullptr);
}

TEST(ShaderProgramContent, SourcesAndStagesTheEngineCouldNotUseStopTheBuild)
{
    const struct {
        std::string source;
        std::string options;
        std::string type;
        const char* error;
    } cases[] = {
        { "void main() {}\n", "stage=vertex", "shaderprog", "does not start with the line #version 140" },
        { "#version 150\nvoid main() {}\n", "stage=vertex", "shaderprog", "does not start with the line #version" },
        { "#version 1400\nvoid main() {}\n", "stage=vertex", "shaderprog", "does not start with the line #version" },
        { "#version 140", "stage=vertex", "shaderprog", "does not start with the line #version 140" },
        { "", "stage=fragment", "shaderprog", "does not start with the line #version 140" },
        { std::string("#version 140\nvoid main() {}\0\n", 29), "stage=fragment", "shaderprog", "holds a zero byte" },
        { kVertexSource, "", "shaderprog", "line 1: shader program a.glsl needs stage=vertex or stage=fragment" },
        { kVertexSource, "stage=geometry", "shaderprog", "needs stage=vertex or stage=fragment" },
        { kVertexSource, "stage=vertex", "data", "line 1: a.glsl: stage= is only for shader programs" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        DepotContent content;
        const std::string error = content.tryBuild({ { "a.glsl", c.source, c.options, c.type } });
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

TEST(ShaderProgramContent, TheCheckReadsAProgramAsTheLoadersDo)
{
    const std::string body = "#version 140\nvoid main() {}\n";
    const struct {
        std::string text;
        ShaderProgramType stage;
        const char* error; // null: accepted
    } cases[] = {
        { "//0000001c 1\n" + body, ShaderProgramType::Fragment, nullptr },
        { "//0000001C 0\n" + body, ShaderProgramType::Vertex, nullptr },
        { "//0000001", ShaderProgramType::Vertex, "is too short to name its stage" },
        { "//0000001c", ShaderProgramType::Vertex, "is too short to name its stage" },
        { "//0000001c 1\n" + body, ShaderProgramType::Vertex, "names stage digit 1 where 0 was wanted" },
        { "//0000001c 2\n" + body, ShaderProgramType::Fragment, "names stage digit 2 where 1 was wanted" },
        { "//0000001c 0", ShaderProgramType::Vertex, "has no header line" },
        { "//00z0001c 0\n" + body, ShaderProgramType::Vertex, "has no header line" },
        { "/*0000001c 0\n" + body, ShaderProgramType::Vertex, "has no header line" },
        { "//0000001c_0\n" + body, ShaderProgramType::Vertex, "has no header line" },
        { "//0000001c 0 " + body, ShaderProgramType::Vertex, "has no header line" },
        { "//0000001d 0\n" + body, ShaderProgramType::Vertex, "count differs from the length of its text" },
        { "//0000001c 0\n" + body + "\n", ShaderProgramType::Vertex, "count differs from the length of its text" },
        { "//0000001c 0\n#version 130\nvoid main() {}\n", ShaderProgramType::Vertex, "#version 140" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string reason;
        const bool accepted = assetbuild::checkShaderProgram(
            reinterpret_cast<const u8*>(c.text.data()), c.text.size(), c.stage, reason);
        EXPECT_EQ(accepted, c.error == nullptr) << reason;
        if (c.error) {
            EXPECT_NE(reason.find(c.error), std::string::npos) << reason;
        }
    }
}

// Materials find their programs among the resources loaded before they
// link: a program the manifest lists must be of the right stage and a
// dependency of the material; built-in programs are not in the manifest.
TEST(ShaderProgramContent, MaterialsNameManifestProgramsOfTheirStageAmongTheirDependencies)
{
    const ContentAsset vertex { "v.glsl", kVertexSource, "stage=vertex", "shaderprog" };
    const ContentAsset fragment { "f.glsl", kFragmentSource, "stage=fragment", "shaderprog" };
    const ContentAsset image { "image.bin", "not a program" };
    const struct {
        std::string source;
        std::string dependencies;
        const char* error; // null: built
    } cases[] = {
        { "vertex v.glsl\nfragment f.glsl\n", "v.glsl f.glsl", nullptr },
        { "vertex unlit_glsl_v\nfragment f.glsl\n", "f.glsl", nullptr },
        { "vertex f.glsl\nfragment f.glsl\n", "f.glsl", "m.mat: its vertex program f.glsl is a fragment program" },
        { "vertex v.glsl\nfragment v.glsl\n", "v.glsl", "its fragment program v.glsl is a vertex program" },
        { "vertex v.glsl\nfragment f.glsl\n", "v.glsl", "its program f.glsl must be listed as a dependency" },
        { "vertex image.bin\n", "image.bin", "its vertex program image.bin is not a shader program" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        DepotContent content;
        const std::string error
            = content.tryBuild({ vertex, fragment, image, { "m.mat", c.source, c.dependencies, "material" } });
        if (c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        } else {
            EXPECT_EQ(error, "");
        }
    }
}

} // namespace
} // namespace quern::test
