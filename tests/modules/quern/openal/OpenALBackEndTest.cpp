#include "Loopback.h"

#include "quern/audio/NullBackEnd.h"
#include "quern/openal/OpenALEFX.h"
#include "quern/openal/OpenALError.h"

#include "runtime/quern/io/TempDirectory.h"
#include "support/LogCapture.h"
#include "support/MemorySampleStream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace quern::openal {
namespace {

using quern::testing::LogCapture;
using quern::testing::MemorySampleStream;
using quern::testing::pcmFormat;
using quern::testing::sineBytes16;

TEST(OpenALError, OwnTextsServeWhenOpenALHasNone)
{
    // Without a current context OpenAL gives no texts of its own.
    ASSERT_EQ(alcGetCurrentContext(), nullptr);
    struct Case {
        i32 error;
        const char* text;
    };
    const Case cases[] = {
        { AL_NO_ERROR, "there is not currently an error" },
        { AL_INVALID_NAME, "a bad name (ID) was passed to an OpenAL function" },
        { AL_INVALID_ENUM, "an invalid enum value was passed to an OpenAL function" },
        { AL_INVALID_VALUE, "an invalid value was passed to an OpenAL function" },
        { AL_INVALID_OPERATION, "the requested operation is not valid" },
        { AL_OUT_OF_MEMORY, "the requested operation resulted in OpenAL running out of memory" },
        { 0x1234, "unknown error" },
    };
    for (const Case& c : cases)
        EXPECT_STREQ(openALErrorText(c.error), c.text) << c.error;
}

TEST(OpenALError, ErrorsAreLoggedWithWhereTheyHappened)
{
    testing::LoopbackAudio audio;
    EXPECT_STREQ(openALErrorText(AL_INVALID_NAME), alGetString(AL_INVALID_NAME));
    LogCapture errors(1);
    checkOpenALError(AL_NO_ERROR, "here.cpp", 1, "nothing");
    EXPECT_EQ(errors.text(), "");
    alSourcePlay(123456); // no such source
    QUERN_AL_CHECK("quern::openal::test");
    const std::string expected = std::string(alGetString(AL_INVALID_NAME)) + " (in quern::openal::test, ";
    EXPECT_NE(errors.text().find(expected), std::string::npos) << errors.text();
    EXPECT_NE(errors.text().find("OpenALBackEndTest.cpp:"), std::string::npos) << errors.text();
}

TEST(OpenALBackEnd, RegistersTheDefaultDeviceThenEveryEnumeratedDeviceByACopiedName)
{
    audio::AudioBackEndRegistry registry;
    registerBackEnds(registry);
    ASSERT_GE(registry.count(), 2);
    EXPECT_STREQ(registry.entry(0).name, "OpenAL");
    const ALCchar* list = alcGetString(nullptr, ALC_DEVICE_SPECIFIER);
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(registry.entry(1).name, list);
    EXPECT_NE(registry.entry(1).name, list);
    // The named entry opens that very device.
    audio::AudioBackEndRegistry named;
    named.add(registry.entry(1).name, registry.entry(1).factory);
    audio::AudioDevice device(named);
    device.open();
    auto* backEnd = static_cast<OpenALBackEnd*>(device.backEnd());
    EXPECT_STREQ(backEnd->deviceName(), list);
    EXPECT_STREQ(alcGetString(alcGetContextsDevice(backEnd->context()), ALC_DEVICE_SPECIFIER), list);
}

TEST(OpenALBackEnd, AFullRegistryDropsEachFurtherDeviceWithOneLine)
{
    audio::AudioBackEndRegistry registry;
    static const char* const names[] = { "a", "b", "c", "d", "e", "f", "g" };
    for (const char* name : names)
        registry.add(name, &audio::NullBackEnd::create);
    ::testing::internal::CaptureStderr();
    registerBackEnds(registry);
    audio::AudioDevice::registerNullBackEnd(registry);
    const std::string output = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(registry.count(), 8);
    EXPECT_STREQ(registry.entry(7).name, "OpenAL");
    EXPECT_EQ(registry.find("Null"), nullptr);
    u64 devices = 0;
    for (const ALCchar* name = alcGetString(nullptr, ALC_DEVICE_SPECIFIER); *name; name += std::strlen(name) + 1)
        ++devices;
    const u64 lines = std::count(output.begin(), output.end(), '\n');
    EXPECT_EQ(lines, devices + 1) << output;
}

TEST(OpenALBackEnd, OpensTheSystemDeviceThroughTheAudioDevice)
{
    audio::AudioBackEndRegistry registry;
    registerBackEnds(registry);
    audio::AudioDevice::registerNullBackEnd(registry);
    audio::AudioDevice device(registry);
    LogCapture info(3);
    device.open();
    auto* backEnd = static_cast<OpenALBackEnd*>(device.backEnd());
    ASSERT_TRUE(backEnd->isOpened());
    EXPECT_EQ(alcGetCurrentContext(), backEnd->context());
    EXPECT_EQ(backEnd->maxSources(), 255);
    EXPECT_NE(info.text().find("Using back end 'OpenAL'"), std::string::npos);
    EXPECT_NE(info.text().find("Max. sources: 255"), std::string::npos);
    EXPECT_NE(info.text().find("EAX supported"), std::string::npos);
    EXPECT_TRUE(hasEFX());
    ALint model = 0;
    model = alGetInteger(AL_DISTANCE_MODEL);
    EXPECT_EQ(model, AL_NONE);
    // A real device plays in real time: a short sound ends by itself.
    const u64 frames = 44100 / 20;
    MemorySampleStream stream(pcmFormat(1, 44100, 16), sineBytes16(1, 44100, 440.0, frames));
    audio::OutputChannel* channel = device.createOutputChannel(&stream);
    channel->open(audio::BufferMode::Static);
    channel->play();
    backEnd->setListenerPosition({ 1.0f, 2.0f, 3.0f });
    backEnd->setListenerOrientation({ 0.0f, 0.0f, -1.0f });
    backEnd->setListenerVelocity({ 0.5f, 0.0f, 0.0f });
    ALfloat orientation[6] = {};
    alGetListenerfv(AL_ORIENTATION, orientation);
    EXPECT_EQ(orientation[2], -1.0f);
    EXPECT_EQ(orientation[4], 1.0f);
    for (int i = 0; i < 300 && channel->isPlaying(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        device.update();
    }
    EXPECT_FALSE(channel->isPlaying());
    device.close();
    EXPECT_EQ(alcGetCurrentContext(), nullptr);
}

} // namespace

ALCdevice* g_openedDevice = nullptr;
std::vector<ALCdevice*> g_closedDevices;

namespace {

ALCdevice* openLoopbackRemembering(const char* name)
{
    g_openedDevice = testing::openLoopbackDevice(name);
    return g_openedDevice;
}

TEST(OpenALBackEnd, AContextThatCannotBeMadeClosesTheDeviceAndFailsTheOpen)
{
    // A loopback device without a sample format refuses its context.
    static const ALCint noFormat[] = { 0 };
    g_closedDevices.clear();
    OpenALBackEnd backEnd(nullptr, OpenALDeviceAccess { &openLoopbackRemembering, noFormat });
    const audio::BackEndResult result = backEnd.open();
    EXPECT_EQ(result.code, 1);
    EXPECT_STRNE(result.message, "");
    EXPECT_FALSE(backEnd.isOpened());
    ASSERT_NE(g_openedDevice, nullptr);
    EXPECT_EQ(std::count(g_closedDevices.begin(), g_closedDevices.end(), g_openedDevice), 1);
}

TEST(OpenALBackEndDeathTest, WithoutAnOutputDriverTheDeviceFallsThroughToNull)
{
    // OpenAL reads its driver list once per process, so this runs in one of its own.
    EXPECT_EXIT(
        {
            unsetenv("ALSOFT_DRIVERS");
            audio::AudioBackEndRegistry registry;
            registerBackEnds(registry);
            audio::AudioDevice::registerNullBackEnd(registry);
            audio::AudioDevice device(registry);
            device.open();
            MemorySampleStream stream(pcmFormat(1, 8000, 16), {});
            audio::OutputChannel* channel = device.createOutputChannel(&stream);
            std::fprintf(stderr, "output %d\n", channel->hasOutput() ? 1 : 0);
            std::exit(channel->hasOutput() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "output 0");
}

// Fields of the canonical wave header the writer makes.
struct WaveFile {
    u32 riffSize = 0, fileSize = 0;
    u16 channels = 0, bits = 0;
    u32 rate = 0;
    std::vector<i16> left;
};

u32 read32(const std::string& bytes, size_t at)
{
    return static_cast<u8>(bytes[at]) | static_cast<u8>(bytes[at + 1]) << 8 | static_cast<u8>(bytes[at + 2]) << 16
        | static_cast<u32>(static_cast<u8>(bytes[at + 3])) << 24;
}

WaveFile readWave(const std::string& bytes)
{
    WaveFile wave;
    wave.fileSize = static_cast<u32>(bytes.size());
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0)
        return wave;
    wave.riffSize = read32(bytes, 4);
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const u32 size = read32(bytes, at + 4);
        if (id == "fmt ") {
            wave.channels = static_cast<u16>(read32(bytes, at + 10) & 0xffff);
            wave.rate = read32(bytes, at + 12);
            wave.bits = static_cast<u16>(read32(bytes, at + 22) & 0xffff);
        } else if (id == "data" && wave.channels && wave.bits == 16) {
            const size_t frames = std::min<size_t>(size, bytes.size() - at - 8) / (2 * wave.channels);
            for (size_t f = 0; f < frames; ++f) {
                const size_t p = at + 8 + f * 2 * wave.channels;
                wave.left.push_back(static_cast<i16>(static_cast<u8>(bytes[p]) | static_cast<u8>(bytes[p + 1]) << 8));
            }
        }
        at += 8 + size + (size & 1);
    }
    return wave;
}

TEST(OpenALBackEndDeathTest, TheWaveWriterRecordsWhatTheBackEndPlays)
{
    const std::string folder = std::string(QUERN_TEST_BINARY_DIR) + "/openal-wave";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string conf = folder + "/alsoft.conf";
    const std::string output = folder + "/out.wav";
    std::ofstream(conf) << "[general]\nchannels = stereo\nsample-type = int16\nfrequency = 44100\n[wave]\nfile = "
                        << output << "\n";
    EXPECT_EXIT(
        {
            setenv("ALSOFT_DRIVERS", "wave", 1);
            setenv("ALSOFT_CONF", conf.c_str(), 1);
            audio::AudioBackEndRegistry registry;
            registerBackEnds(registry);
            audio::AudioDevice device(registry);
            device.open();
            MemorySampleStream stream(pcmFormat(1, 44100, 16), sineBytes16(1, 44100, 440.0, 44100 * 3 / 10, 0.8));
            audio::OutputChannel* channel = device.createOutputChannel(&stream);
            channel->open(audio::BufferMode::Static);
            channel->play();
            for (int i = 0; i < 400 && channel->isPlaying(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                device.update();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            device.close();
            std::exit(channel == nullptr ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
    std::ifstream in(output, std::ios::binary);
    const WaveFile wave = readWave(std::string(std::istreambuf_iterator<char>(in), {}));
    ASSERT_GT(wave.fileSize, 44u);
    EXPECT_EQ(wave.riffSize, wave.fileSize - 8);
    EXPECT_EQ(wave.rate, 44100u);
    EXPECT_EQ(wave.channels, 2u);
    ASSERT_EQ(wave.bits, 16u);
    std::vector<f32> left(wave.left.begin(), wave.left.end());
    for (f32& v : left)
        v /= 32768.0f;
    const auto [first, last] = testing::loudSpan(left, 0.05f);
    ASSERT_LT(first, last);
    EXPECT_NEAR(static_cast<f64>(last - first) / 44100, 0.3, 0.01);
    EXPECT_NEAR(testing::frequency(left, first, last, 44100), 440.0, 2.0);
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace quern::openal

extern "C" ALCboolean __real_alcCloseDevice(ALCdevice* device);
extern "C" ALCboolean __wrap_alcCloseDevice(ALCdevice* device)
{
    quern::openal::g_closedDevices.push_back(device);
    return __real_alcCloseDevice(device);
}
