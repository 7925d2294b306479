#include "quern/audio/AudioDevice.h"
#include "quern/audio/AudioBackEnd.h"
#include "quern/audio/AudioBackEndRegistry.h"
#include "quern/audio/NullBackEnd.h"
#include "quern/memory/DefaultAllocator.h"

#include <algorithm>

#include "support/LogCapture.h"
#include "support/MemorySampleStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace quern::audio {
namespace {

using testing::MemorySampleStream;
using testing::pcmFormat;

std::vector<std::string> g_journal;
int g_factoryCalls = 0;

class JournalChannel final : public OutputChannel {
public:
    JournalChannel(SampleStream* stream, int id)
        : OutputChannel(stream)
        , m_id(id)
    {
    }
    ~JournalChannel() override { g_journal.push_back("destroy " + std::to_string(m_id)); }
    void play() override { }
    void stop() override { }
    void pause() override { }
    void resume() override { }
    void setPitch(f32) override { }
    void openBuffer(bool streaming) override { g_journal.push_back(streaming ? "streaming" : "static"); }
    int id() const { return m_id; }

private:
    int m_id;
};

// A back end whose open succeeds or fails by its name ("fail..." fails with
// "<name> is broken").
class JournalBackEnd final : public AudioBackEnd {
public:
    explicit JournalBackEnd(const char* name)
        : m_name(name)
    {
    }
    ~JournalBackEnd() override { g_journal.push_back(std::string("delete ") + m_name); }

    static AudioBackEnd* create(const char* name, memory::Allocator& allocator)
    {
        ++g_factoryCalls;
        return new (allocator.allocate(sizeof(JournalBackEnd), 8)) JournalBackEnd(name);
    }
    static AudioBackEnd* refuse(const char*, memory::Allocator&)
    {
        ++g_factoryCalls;
        return nullptr;
    }

    BackEndResult open() override
    {
        g_journal.push_back(std::string("open ") + m_name);
        if (std::strncmp(m_name, "fail", 4) != 0)
            return {};
        m_message = std::string(m_name) + " is broken";
        return { 1, m_message.c_str() };
    }
    void close() override { g_journal.push_back(std::string("close ") + m_name); }
    void setListenerPosition(const math::Vector3&) override { }
    void setListenerOrientation(const math::Vector3&) override { }
    void setListenerVelocity(const math::Vector3&) override { }
    OutputChannel* createOutputChannel(SampleStream* stream) override
    {
        ++channelRequests;
        if (refuseChannels)
            return nullptr;
        return new JournalChannel(stream, nextId++);
    }
    void releaseOutputChannel(OutputChannel* channel) override
    {
        g_journal.push_back("release " + std::to_string(static_cast<JournalChannel*>(channel)->id()));
        delete channel;
    }
    void update(OutputChannel* const* channels, u64 count) override
    {
        std::string line = "update";
        for (u64 i = 0; i < count; ++i)
            line += " " + std::to_string(static_cast<JournalChannel*>(channels[i])->id());
        g_journal.push_back(line);
    }

    int channelRequests = 0;
    int nextId = 0;
    bool refuseChannels = false;

private:
    const char* m_name;
    std::string m_message;
};

class AudioDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_journal.clear();
        g_factoryCalls = 0;
    }
    JournalBackEnd& openWith(AudioDevice& device)
    {
        device.open();
        g_journal.clear();
        return *static_cast<JournalBackEnd*>(device.backEnd());
    }

    AudioBackEndRegistry registry;
    MemorySampleStream stream { pcmFormat(1, 8000, 16), std::vector<u8>(16000) };
};

TEST_F(AudioDeviceTest, OpensTheFirstBackEndThatWorksAfterDestroyingTheFailures)
{
    registry.add("fail-a", &JournalBackEnd::create);
    registry.add("good", &JournalBackEnd::create);
    registry.add("later", &JournalBackEnd::create);
    AudioDevice device(registry);
    testing::LogCapture info(3);
    device.open();
    EXPECT_EQ(g_journal, (std::vector<std::string> { "open fail-a", "delete fail-a", "open good" }));
    EXPECT_NE(info.text().find("Using back end 'fail-a'"), std::string::npos);
    EXPECT_NE(info.text().find("fail-a is broken"), std::string::npos);
    EXPECT_NE(info.text().find("Using back end 'good'"), std::string::npos);
    EXPECT_EQ(info.text().find("later"), std::string::npos);
}

TEST_F(AudioDeviceTest, NullRegisteredLastAlwaysOpens)
{
    registry.add("fail-a", &JournalBackEnd::create);
    AudioDevice::registerNullBackEnd(registry);
    AudioDevice device(registry);
    device.open();
    ASSERT_NE(device.backEnd(), nullptr);
    EXPECT_EQ(registry.entry(1).name, std::string("Null"));
    OutputChannel* channel = device.createOutputChannel(&stream);
    ASSERT_NE(channel, nullptr);
    EXPECT_FALSE(channel->hasOutput());
}

TEST_F(AudioDeviceTest, EntriesOfTheSameNameUseTheFirstEntrysFactory)
{
    registry.add("fail-same", &JournalBackEnd::create);
    registry.add("fail-same", &JournalBackEnd::refuse);
    AudioDevice::registerNullBackEnd(registry);
    AudioDevice device(registry);
    device.open();
    // The second entry's try made a back end too: refuse was never called.
    EXPECT_EQ(g_journal,
        (std::vector<std::string> { "open fail-same", "delete fail-same", "open fail-same", "delete fail-same" }));
    EXPECT_EQ(g_factoryCalls, 2);
}

TEST_F(AudioDeviceTest, NinthRegistrationIsDroppedWithOneLine)
{
    static const char* const names[] = { "a", "b", "c", "d", "e", "f", "g", "h" };
    for (const char* name : names)
        registry.add(name, &JournalBackEnd::create);
    ::testing::internal::CaptureStderr();
    AudioDevice::registerNullBackEnd(registry);
    const std::string output = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(registry.count(), 8);
    EXPECT_EQ(registry.find("Null"), nullptr);
    EXPECT_NE(output.find("AudioBackEndRegistry.cpp ("), std::string::npos) << output;
    EXPECT_NE(output.find("): Too many audio back-ends registered\n"), std::string::npos) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
}

TEST_F(AudioDeviceTest, OpenFailures)
{
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, BackEndFactory>> entries;
        const char* message;
    };
    const Case cases[] = {
        { "empty registry", {}, "No audio back end found" },
        { "only failures", { { "fail-a", &JournalBackEnd::create }, { "fail-b", &JournalBackEnd::create } },
            "fail-b is broken" },
        { "factory gives nothing", { { "fail-a", &JournalBackEnd::create }, { "none", &JournalBackEnd::refuse } },
            "Unknown back-end name" },
    };
    for (const Case& c : cases) {
        AudioBackEndRegistry local;
        for (const auto& [name, factory] : c.entries)
            local.add(name, factory);
        EXPECT_DEATH(
            {
                AudioDevice device(local);
                device.open();
            },
            c.message)
            << c.name;
    }
}

TEST_F(AudioDeviceTest, ChannelsAreListedInOrderAndReleasedKeepingTheOrder)
{
    registry.add("good", &JournalBackEnd::create);
    AudioDevice device(registry);
    JournalBackEnd& backEnd = openWith(device);
    OutputChannel* channels[4];
    for (OutputChannel*& channel : channels)
        channel = device.createOutputChannel(&stream);
    device.releaseOutputChannel(channels[1]);
    device.update();
    EXPECT_EQ(g_journal, (std::vector<std::string> { "release 1", "destroy 1", "update 0 2 3" }));
    EXPECT_EQ(device.channelCount(), 3u);
    backEnd.refuseChannels = true;
    EXPECT_EQ(device.createOutputChannel(&stream), nullptr);
    EXPECT_EQ(device.channelCount(), 3u);
}

TEST_F(AudioDeviceTest, AFullListReturnsNullWithoutAskingTheBackEnd)
{
    registry.add("good", &JournalBackEnd::create);
    AudioDevice device(registry);
    JournalBackEnd& backEnd = openWith(device);
    for (u64 i = 0; i < AudioDevice::kMaxChannels; ++i)
        ASSERT_NE(device.createOutputChannel(&stream), nullptr);
    EXPECT_EQ(backEnd.channelRequests, 64);
    EXPECT_EQ(device.createOutputChannel(&stream), nullptr);
    EXPECT_EQ(backEnd.channelRequests, 64);
    EXPECT_EQ(device.channelCount(), 64u);
}

TEST_F(AudioDeviceTest, CloseReleasesEveryChannelBeforeTheBackEndCloses)
{
    registry.add("good", &JournalBackEnd::create);
    AudioDevice device(registry);
    openWith(device);
    device.createOutputChannel(&stream);
    device.createOutputChannel(&stream);
    testing::LogCapture info(3);
    testing::LogCapture detail(4);
    device.close();
    EXPECT_EQ(g_journal,
        (std::vector<std::string> { "release 0", "destroy 0", "release 1", "destroy 1", "close good", "delete good" }));
    EXPECT_EQ(device.backEnd(), nullptr);
    EXPECT_EQ(device.channelCount(), 0u);
    EXPECT_NE(info.text().find("Closing back-end"), std::string::npos);
    EXPECT_NE(detail.text().find("AudioDevice closed"), std::string::npos);
    g_journal.clear();
    device.close();
    EXPECT_TRUE(g_journal.empty());
}

TEST_F(AudioDeviceTest, DestroyingAnOpenDeviceClosesIt)
{
    registry.add("good", &JournalBackEnd::create);
    {
        AudioDevice device(registry);
        openWith(device);
    }
    EXPECT_EQ(g_journal, (std::vector<std::string> { "close good", "delete good" }));
}

TEST_F(AudioDeviceTest, ReleasingAChannelTheDeviceDoesNotListIsFatal)
{
    registry.add("good", &JournalBackEnd::create);
    EXPECT_DEATH(
        {
            AudioDevice device(registry);
            device.open();
            NullOutputChannel stray(&stream);
            device.releaseOutputChannel(&stray);
        },
        "does not list");
}

TEST(OutputChannel, AutoStreamsOnlySoundsLongerThanTenSeconds)
{
    struct Case {
        u64 frames; // at 1000 Hz
        BufferMode mode;
        const char* expected;
    };
    const Case cases[] = {
        { 10000, BufferMode::Auto, "static" },
        { 10500, BufferMode::Auto, "streaming" },
        { 500, BufferMode::Streaming, "streaming" },
        { 20000, BufferMode::Static, "static" },
    };
    for (const Case& c : cases) {
        MemorySampleStream sound(pcmFormat(1, 1000, 8, false), std::vector<u8>(c.frames));
        JournalChannel channel(&sound, 0);
        g_journal.clear();
        channel.open(c.mode);
        channel.open(c.mode);
        EXPECT_EQ(g_journal, (std::vector<std::string> { c.expected, c.expected })) << c.frames;
        EXPECT_LE(sound.durationCalls, 1);
    }
}

TEST(OutputChannelDeathTest, AnUnknownBufferModeIsFatal)
{
    MemorySampleStream sound(pcmFormat(1, 1000, 8, false), {});
    JournalChannel channel(&sound, 0);
    EXPECT_DEATH(channel.open(static_cast<BufferMode>(3)), "Invalid enum value for type BufferMode");
}

TEST(NullBackEnd, ChannelsKeepTheirFlagsAndSettings)
{
    memory::Allocator& allocator = *memory::getDefaultAllocator();
    AudioBackEnd* backEnd = NullBackEnd::create("Null", allocator);
    EXPECT_EQ(backEnd->open().code, 0);
    EXPECT_STREQ(backEnd->open().message, "");
    MemorySampleStream sound(pcmFormat(1, 1000, 8, false), {});
    OutputChannel* channel = backEnd->createOutputChannel(&sound);
    EXPECT_EQ(channel->stream(), &sound);
    EXPECT_EQ(channel->gain(), 1.0f);
    EXPECT_EQ(channel->position().w, 1.0f);
    channel->open(BufferMode::Auto);
    channel->play();
    EXPECT_TRUE(channel->isPlaying());
    channel->pause();
    EXPECT_FALSE(channel->isPlaying());
    EXPECT_FALSE(channel->isPaused());
    channel->resume();
    EXPECT_TRUE(channel->isPlaying());
    channel->stop();
    EXPECT_FALSE(channel->isPlaying());
    channel->setLooping(true);
    channel->setGain(0.25f);
    channel->setAuxiliaryValue(3.0f);
    channel->setPosition({ 1, 2, 3, 4 });
    EXPECT_TRUE(channel->isLooping());
    EXPECT_EQ(channel->gain(), 0.25f);
    EXPECT_EQ(channel->auxiliaryValue(), 3.0f);
    EXPECT_EQ(channel->position().z, 3.0f);
    EXPECT_FALSE(channel->hasOutput());
    backEnd->releaseOutputChannel(channel);
    backEnd->releaseOutputChannel(nullptr);
    backEnd->close();
    backEnd->~AudioBackEnd();
    allocator.free(backEnd);
}

} // namespace
} // namespace quern::audio
