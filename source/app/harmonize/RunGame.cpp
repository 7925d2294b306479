#include "harmonize/RunGame.h"

#include "harmonize/Settings.h"
#include "harmonize/Startup.h"
#include "harmonize/app/App.h"
#include "quern/animate/KeyframeAnimationHandler.h"
#include "quern/assets/AssetDatabase.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/BlobDepot.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/audio/AudioBackEndRegistry.h"
#include "quern/audio/AudioDevice.h"
#include "quern/debug/Log.h"
#include "quern/debug/Logger.h"
#include "quern/graphics/NullShaderProgramHandler.h"
#include "quern/graphics/TextureAtlasHandler.h"
#include "quern/graphics/serialization/FontSerialization.h"
#include "quern/graphics/serialization/MaterialSerialization.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"
#include "quern/io/FilePath.h"
#include "quern/io/FileSource.h"
#include "quern/io/HomeFileSystem.h"
#include "quern/io/LzhamDecompressor.h"
#include "quern/libvpx/VideoHandler.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/oggvorbis/AudioStreamHandler.h"
#include "quern/openal/OpenALBackEnd.h"
#include "quern/opengl/GLSLShaderProgram.h"
#include "quern/platform/CurrentDirectory.h"
#include "quern/platform/Debugger.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/FileSystem.h"
#include "quern/platform/FloatingPointTraps.h"
#include "quern/profile/Profiler.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/settings/CommandLineParser.h"
#include "quern/visuals/MeshSerialization.h"

#include <cstring>
#include <iostream>
#include <new>

namespace harmonize {
namespace {

constexpr u64 kBaseDirectoryBytes = 512;

bool g_audioBackEndsRegistered = false;
quern::graphics::PixelBufferHandler* g_pixelBufferHandler = nullptr;

i32 applyOption(void*, const char* key, const char* value) { return Settings::setFromCommandLine(key, value); }

template <class Handler> void registerOnce(quern::assets::AssetHandlerRegistry& registry)
{
    for (u64 i = 0; i < registry.count(); ++i)
        if (dynamic_cast<Handler*>(registry.at(i)))
            return;
    registry.create<Handler>();
}

std::string currentDirectory()
{
    char buffer[kBaseDirectoryBytes];
    if (!quern::platform::getCurrentDirectory(buffer, sizeof buffer))
        QUERN_FATAL("The current directory is unknown or longer than 512 bytes");
    std::string base = buffer;
    if (base.empty() || base.back() != '/')
        base += '/';
    return base;
}

template <class T, class... Arguments> T* construct(Arguments&&... arguments)
{
    void* memory = quern::memory::getDefaultAllocator()->allocate(sizeof(T), alignof(T));
    if (!memory)
        QUERN_OUT_OF_MEMORY();
    return new (memory) T(std::forward<Arguments>(arguments)...);
}

template <class T> void destroy(T* object)
{
    if (!object)
        return;
    object->~T();
    quern::memory::getDefaultAllocator()->free(object);
}

void openAudioDevice()
{
    // OpenAL Soft's mixer thread takes the creating thread's floating-point
    // mask; its own arithmetic is not the game's to trap.
    quern::platform::UntrappedFloatingPointScope untrapped;
    if (!g_audioBackEndsRegistered) {
        quern::openal::registerBackEnds();
        quern::audio::AudioDevice::registerNullBackEnd();
        g_audioBackEndsRegistered = true;
    }
    quern::audio::AudioDevice::instance().open();
}

void closeAudioDevice()
{
    quern::platform::UntrappedFloatingPointScope untrapped;
    quern::audio::AudioDevice::instance().close();
}

} // namespace

// Shader programs: the null handler for "null", GLSL for "opengl".
void registerAssetHandlers(quern::assets::AssetHandlerRegistry& registry, const char* graphicsBackEnd)
{
    registerOnce<quern::visuals::MeshHandler>(registry);
    registerOnce<quern::graphics::MaterialHandler>(registry);
    registerOnce<quern::animate::KeyframeAnimationHandler>(registry);
    registerOnce<quern::graphics::FontHandler>(registry);
    registerOnce<quern::graphics::TextureAtlasHandler>(registry);
    registerOnce<quern::oggvorbis::AudioStreamHandler>(registry);
    registerOnce<quern::libvpx::VideoHandler>(registry);
    if (std::strcmp(graphicsBackEnd, "null") == 0)
        registerOnce<quern::graphics::NullShaderProgramHandler>(registry);
    else if (std::strcmp(graphicsBackEnd, "opengl") == 0)
        registerOnce<quern::opengl::GLSLShaderProgramHandler>(registry);
}

void createAssetHandlerRegistry()
{
    if (!quern::assets::AssetHandlerRegistry::instance())
        quern::assets::AssetHandlerRegistry::setInstance(construct<quern::assets::AssetHandlerRegistry>());
    quern::assets::AssetHandlerRegistry& registry = *quern::assets::AssetHandlerRegistry::instance();
    registerOnce<quern::graphics::PixelBufferHandler>(registry);
    for (u64 i = 0; i < registry.count(); ++i)
        if (auto* handler = dynamic_cast<quern::graphics::PixelBufferHandler*>(registry.at(i)))
            g_pixelBufferHandler = handler;
}

void destroyAssetHandlerRegistry()
{
    destroy(quern::assets::AssetHandlerRegistry::instance());
    quern::assets::AssetHandlerRegistry::setInstance(nullptr);
}

AssetLocation findAssetDatabase(const char* baseDirectory)
{
    AssetLocation location;
    location.assetDirectory = std::string(baseDirectory) + "bin/";
    location.databasePath = location.assetDirectory + "assets.db";
    if (quern::platform::fileExists(location.databasePath.c_str()))
        return location;

    quern::io::FilePath fallback(quern::strings::StringRef { baseDirectory, std::strlen(baseDirectory) });
    fallback.append(quern::strings::StringRef { "../bin/assets.db", 16 });
    fallback.normalize();
    location.databasePath = fallback.c_str();
    if (!quern::platform::fileExists(location.databasePath.c_str())) {
        const std::string message = location.databasePath + " not found.";
        QUERN_FATAL(message.c_str());
    }
    location.assetDirectory = location.databasePath.substr(0, location.databasePath.rfind('/') + 1);
    return location;
}

i32 runGame(i32 argc, char** argv)
{
    if (quern::platform::isDebuggerPresent()) {
        std::cerr.rdbuf(&quern::debug::DebuggerLogSink::instance());
        std::clog.rdbuf(&quern::debug::DebuggerLogSink::instance());
    }
    logCommandLine(argc, argv);
    Settings::load(quern::io::getHomeFileSystem());

    quern::assets::AssetHandlerRegistry& registry = *quern::assets::AssetHandlerRegistry::instance();
    registerAssetHandlers(registry, Settings::Graphics.backEnd);

    const std::string base = currentDirectory();
    const AssetLocation location = findAssetDatabase(base.c_str());

    auto* database = construct<quern::assets::AssetDatabase>();
    auto* databaseFile = construct<quern::FileSource>();
    databaseFile->open(location.databasePath.c_str());
    {
        quern::serialize::BinaryPODToken token;
        if (!quern::assets::readAssetDatabase(*databaseFile, token, *database, location.databasePath.c_str())) {
            const std::string message = location.databasePath + " is not a valid asset database.";
            QUERN_FATAL(message.c_str());
        }
    }

    auto* decompressor = construct<quern::io::LzhamDecompressor>();
    quern::assets::Depot* depot = nullptr;
    if (quern::platform::fileExists((location.assetDirectory + "assets.index").c_str())) {
        auto* blobs = construct<quern::assets::BlobDepot>();
        blobs->setDecompressor(decompressor);
        blobs->openIndex(location.assetDirectory.c_str());
        depot = blobs;
    } else {
        depot = construct<quern::assets::FileSystemDepot>(location.assetDirectory.c_str());
    }

    auto* stringsFile = construct<quern::FileSource>();
    stringsFile->open((location.assetDirectory + "assets.l10n").c_str());
    auto* strings = construct<quern::serialize::StringTable>();
    quern::serialize::readStringTable(*stringsFile, *strings, nullptr);

    quern::settings::parseCommandLine(argc, argv, applyOption);
    initUserStorage();

    quern::profile::getProfiler().setEnabled(Settings::Profiler.enabled);
    openAudioDevice();

    AppServices services;
    services.audioDevice = &quern::audio::AudioDevice::instance();
    services.stringTable = strings;
    App* app = construct<App>(database, depot, services);
    app->setUserFiles(&quern::io::getHomeFileSystem());
    app->init();
    app->warmUp();
    app->runMainLoop();
    app->shutdown();
    destroy(app);

    destroy(depot);
    destroy(database);
    releaseStringTable(quern::memory::getDefaultAllocator(), strings);
    closeAudioDevice();
    g_pixelBufferHandler = nullptr;
    registry.destroyHandlers();
    if (Settings::Profiler.enabled)
        quern::profile::getProfiler().outputStatisticsToFile(Settings::Profiler.outputFile);
    quern::profile::destroyProfiler();
    destroy(stringsFile);
    destroy(databaseFile);
    destroy(decompressor);
    return 0;
}

} // namespace harmonize
