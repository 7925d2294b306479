#include "StateTestSupport.h"

#include "quern/assets/DefaultAssetLoaderContext.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/NullShaderProgramHandler.h"
#include "quern/graphics/ShaderProgram.h"
#include "quern/io/StringSource.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace quern::graphics {
namespace {

using test::Held;
using test::LogCapture;

class ShaderProgramTest : public ::testing::Test {
protected:
    void SetUp() override { Display::set(nullptr); }
    void TearDown() override { Display::set(nullptr); }

    // Runs the null handler over `text` as the asset `assetId`; returns the
    // program the cache then holds (or null).
    NullShaderProgram* loadNull(const std::string& text, u64 assetId)
    {
        StringSource source(text.data(), text.size());
        assets::DefaultAssetLoaderContext context(assetId, depot, cache);
        handler.load(source, context);
        assets::CacheEntry* entry = cache.find(assets::resourceKey(assetId, assets::ResourceType::ShaderProgram));
        return entry ? static_cast<NullShaderProgram*>(static_cast<RefCounted*>(entry->resource)) : nullptr;
    }

    assets::FileSystemDepot depot{"."};
    assets::DefaultResourceCache cache;
    NullShaderProgramHandler handler;
};

TEST_F(ShaderProgramTest, NullHandlerTakesTheStageFromTheTwelfthByte)
{
    struct Case {
        const char* text;
        ShaderProgramType type;
    };
    const Case cases[] = {
        {"//0000000d 0\nvoid main(){}", ShaderProgramType::Vertex},
        {"//0000000d 1\nvoid main(){}", ShaderProgramType::Fragment},
        {"//00000000 2", ShaderProgramType::Geometry},
    };
    u64 assetId = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        NullShaderProgram* program = loadNull(c.text, ++assetId);
        ASSERT_NE(program, nullptr);
        EXPECT_EQ(program->type(), c.type);
        EXPECT_EQ(program->language(), ShaderLanguage::Null);
        EXPECT_EQ(program->entryPoint(), "main");
    }
}

TEST_F(ShaderProgramTest, NullHandlerDescribesItselfAsTheNativeProgramLoader)
{
    assets::AssetHandlerInfo info{};
    handler.describe(info);
    EXPECT_STREQ(info.format, "native");
    EXPECT_EQ(info.typeId, 0x2f72e60fbf21825full);
}

TEST_F(ShaderProgramTest, NullHandlerRefusesATextWithoutAStageDigit)
{
    for (const std::string& text : {std::string(), std::string("//00000000 ")}) {
        SCOPED_TRACE(text.size());
        EXPECT_DEATH(loadNull(text, 7), "Shader program text too short to name its stage");
    }
}

TEST_F(ShaderProgramTest, LoadingLogsOnceWithTheResourceName)
{
    Held<NullShaderProgram> program(new NullShaderProgram(ShaderProgramType::Vertex));
    program->setEntry(Ref(new assets::ResourceEntry("unlit_glsl_v", "unlit.vert", 0)));
    const std::string text = "//00000000 0\n";
    LogCapture log(4);
    program->setCode(text.data(), text.size(), "unlit.vert");
    EXPECT_EQ(log.count("Shader program 'unlit_glsl_v' loaded"), 1u);
    EXPECT_EQ(log.count("' loaded"), 1u);
    EXPECT_EQ(program->state(), assets::Resource::Loaded);
    EXPECT_EQ(program->text(), text);
}

TEST_F(ShaderProgramTest, DescriptionGivesTypeNameAndText)
{
    Held<NullShaderProgram> program(new NullShaderProgram(ShaderProgramType::Fragment));
    const std::string text = "//00000000 1\n";
    program->setCode(text.data(), text.size(), "");
    std::ostringstream out;
    program->describe(out);
    EXPECT_EQ(out.str(), "Fragment program\nCodeResource\n" + text + "\n");

    Held<NullShaderProgram> odd(new NullShaderProgram(static_cast<ShaderProgramType>(7)));
    std::ostringstream none;
    odd->describe(none);
    EXPECT_EQ(none.str(), "CodeResource\n\n");
}

TEST_F(ShaderProgramTest, ClosingTheDisplayReleasesTheDeviceDataOfLoadedPrograms)
{
    Display::set(new NullDisplay());
    Display* display = Display::current();
    Held<NullShaderProgram> loaded(new NullShaderProgram(ShaderProgramType::Vertex));
    Held<NullShaderProgram> fresh(new NullShaderProgram(ShaderProgramType::Vertex));
    EXPECT_TRUE(loaded->isListening());
    const std::string text = "//00000000 0\n";
    loaded->setCode(text.data(), text.size(), "");
    const u32 stamp = loaded->changeStamp();

    DisplayEvent closing;
    closing.type = DisplayEvent::Closing;
    display->context().notifyListeners(closing);
    EXPECT_EQ(loaded->state(), assets::Resource::Suspended);
    EXPECT_NE(loaded->changeStamp(), stamp);
    EXPECT_EQ(fresh->state(), assets::Resource::New);
    loaded->resume();
    EXPECT_EQ(loaded->state(), assets::Resource::Loaded);
}

TEST_F(ShaderProgramTest, AProgramUnregistersFromALiveDisplayOnly)
{
    Display::set(new NullDisplay());
    const u64 before = Display::current()->context().listeners.count();
    {
        Held<NullShaderProgram> program(new NullShaderProgram(ShaderProgramType::Vertex));
        EXPECT_EQ(Display::current()->context().listeners.count(), before + 1);
    }
    EXPECT_EQ(Display::current()->context().listeners.count(), before);

    Held<NullShaderProgram> outliving(new NullShaderProgram(ShaderProgramType::Fragment));
    Display::set(nullptr);
    EXPECT_FALSE(outliving->isListening());
}

TEST_F(ShaderProgramTest, WithoutADisplayAProgramListensToNothing)
{
    Held<NullShaderProgram> program(new NullShaderProgram(ShaderProgramType::Vertex));
    EXPECT_FALSE(program->isListening());
    EXPECT_EQ(Display::current(), nullptr);
}

} // namespace
} // namespace quern::graphics
