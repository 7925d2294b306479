#include "quern/assets/CodeResource.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using quern::Ref;
using quern::u32;
using quern::u64;
using quern::assets::AssetStream;
using quern::assets::CodeResource;
using quern::assets::Resource;
using quern::assets::ResourceEntry;

// Records what the device side would have been asked to do.
class RecordingProgram : public CodeResource {
public:
    void* getData() override { return nullptr; }
    void loadCodeImpl(const char* text, u64 length, const char* name) override
    {
        compiled.emplace_back(text, length);
        names.emplace_back(name);
        stateWhenCompiled.push_back(state());
    }
    void releaseDeviceData() override { ++released; }
    void onLoaded(bool success) override { loadedCalls += success ? 1 : 100; }

    std::vector<std::string> compiled;
    std::vector<std::string> names;
    std::vector<Resource::State> stateWhenCompiled;
    int released = 0;
    int loadedCalls = 0;
};

Ref makeEntry(const char* name, const char* sourceName, u64 size)
{
    return Ref(new ResourceEntry(name, sourceName, size));
}

void load(CodeResource& program, const std::string& bytes, const ResourceEntry* entry)
{
    std::stringbuf buffer(bytes);
    AssetStream stream{&buffer, entry};
    program.loadImpl(stream);
}

TEST(CodeResource, NameComesFromTheEntryOrTheClass)
{
    RecordingProgram unnamed;
    EXPECT_STREQ(unnamed.getName(), "CodeResource");
    EXPECT_STREQ(unnamed.getSourceName(), "");

    RecordingProgram blankName;
    blankName.setEntry(makeEntry("", "a.glsl", 0));
    EXPECT_STREQ(blankName.getName(), "CodeResource");

    RecordingProgram named;
    named.setEntry(makeEntry("unlit_glsl_v", "shaders/unlit.v", 0));
    EXPECT_STREQ(named.getName(), "unlit_glsl_v");
    EXPECT_STREQ(named.getSourceName(), "shaders/unlit.v");
}

TEST(CodeResource, LoadReadsTheEntrysByteCountAndBuildsIt)
{
    const Ref entry = makeEntry("unlit_glsl_v", "shaders/unlit.v", 11);
    RecordingProgram program;
    const u32 before = program.changeStamp();
    load(program, "void main(){} and what follows", entry.get<ResourceEntry>());

    ASSERT_EQ(program.compiled.size(), 1u);
    EXPECT_EQ(program.compiled[0], "void main()");
    EXPECT_EQ(program.names[0], "shaders/unlit.v");
    EXPECT_EQ(program.text(), "void main()");
    EXPECT_EQ(program.getMemorySize(), 11u);
    EXPECT_EQ(program.state(), Resource::Loaded);
    EXPECT_GT(program.changeStamp(), before);
    EXPECT_EQ(program.loadedCalls, 1);
    EXPECT_EQ(program.released, 0) << "a new resource has no device data to release";
}

TEST(CodeResource, LoadingAgainSuspendsFirstAndEndsLoadedWithANewStamp)
{
    const Ref first = makeEntry("p", "p.txt", 3);
    RecordingProgram program;
    load(program, "abc", first.get<ResourceEntry>());
    const u32 stamp = program.changeStamp();

    const Ref second = makeEntry("p", "p.txt", 5);
    load(program, "defgh", second.get<ResourceEntry>());
    EXPECT_EQ(program.released, 1);
    ASSERT_EQ(program.stateWhenCompiled.size(), 2u);
    EXPECT_EQ(program.stateWhenCompiled[1], Resource::Suspended);
    EXPECT_EQ(program.state(), Resource::Loaded);
    EXPECT_GT(program.changeStamp(), stamp);
    EXPECT_EQ(program.text(), "defgh");
    EXPECT_EQ(program.getMemorySize(), 5u);
}

TEST(CodeResource, SetCodeWithoutANamePassesAnEmptyOne)
{
    RecordingProgram program;
    program.setCode("xyz", 2, nullptr);
    EXPECT_EQ(program.names.at(0), "");
    EXPECT_EQ(program.text(), "xy");
    // Building again from the stored text, as after a device reset.
    program.setCode(program.text().data(), program.text().size(), program.getSourceName());
    EXPECT_EQ(program.compiled.at(1), "xy");
    EXPECT_EQ(program.text(), "xy");
}

TEST(CodeResource, AStreamWithoutAnEntryIsReadWhole)
{
    RecordingProgram program;
    load(program, "entire text", nullptr);
    EXPECT_EQ(program.text(), "entire text");
}

TEST(CodeResource, EmptyEntryLoadsEmptyText)
{
    const Ref entry = makeEntry("empty", "empty.txt", 0);
    RecordingProgram program;
    load(program, "", entry.get<ResourceEntry>());
    EXPECT_EQ(program.text(), "");
    EXPECT_EQ(program.state(), Resource::Loaded);
}

TEST(CodeResourceDeathTest, AStreamShorterThanTheEntryIsFatal)
{
    const Ref entry = makeEntry("p", "shaders/broken.f", 100);
    RecordingProgram program;
    EXPECT_DEATH(load(program, "too short", entry.get<ResourceEntry>()),
                 "Error reading from file.*shaders/broken.f");
}

} // namespace
