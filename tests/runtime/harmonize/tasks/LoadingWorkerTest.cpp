#include "harmonize/tasks/LoadingWorker.h"

#include "LevelSource.h"
#include "WorldWriter.h"
#include "harmonize/Settings.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/tasks/TaskDispatcher.h"
#include "harmonize/utils/AppEventQueue.h"
#include "quern/assets/AssetDatabase.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/AssetLoaderContext.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/entity/World.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/serialization/MaterialSerialization.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"
#include "quern/platform/Clock.h"
#include "quern/strings/Hashes.h"
#include "quern/strings/PackedName.h"
#include "runtime/quern/graphics/DDSTestFiles.h"
#include "support/BuiltContent.h"
#include "support/SoftAssertRecorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <set>
#include <thread>
#include <vector>

namespace harmonize {
namespace {

namespace fs = std::filesystem;
using quern::assets::ResourceType::Material;
using quern::assets::ResourceType::Texture;

u64 idOf(const std::string& name) { return quern::strings::murmurHash64A(name.data(), name.size(), 0); }

// Assets of the type word "probe": each stage writes down the thread it ran
// on, and the main-thread stages may move a manual clock on, so tests see
// where and when the loading worker ran them.
struct ProbeLog {
    std::mutex mutex;
    std::thread::id mainThread;
    std::vector<std::string> events;
    std::set<std::thread::id> loadThreads;
    bool mainThreadStagesOnMainThread = true;
    quern::platform::ManualCounterSource* clock = nullptr;
    u64 ticksPerMainThreadStage = 0;
};

class ProbeHandler final : public quern::assets::AssetHandler {
public:
    static u64 typeId() { return quern::packName("probe"); }

    explicit ProbeHandler(ProbeLog& log) : m_log(log) {}

    void preload(quern::assets::AssetLoaderContext&) override { mainThreadStage("begin"); }
    void load(quern::ByteSource& source, quern::assets::AssetLoaderContext& context) override
    {
        quern::assets::ResourceRecord record;
        bool created = false;
        context.createResourceObject<quern::RefCounted>(typeId(), 0, record, created);
        (void)source;
        std::lock_guard<std::mutex> lock(m_log.mutex);
        m_log.loadThreads.insert(std::this_thread::get_id());
        m_log.events.push_back("load");
    }
    void finalize(quern::assets::AssetLoaderContext&) override { mainThreadStage("finish"); }
    void link(quern::assets::AssetLoaderContext&) override
    {
        std::lock_guard<std::mutex> lock(m_log.mutex);
        m_log.events.push_back("link");
    }
    void describe(quern::assets::AssetHandlerInfo& info) override
    {
        info.format = quern::assets::kNativeAssetFormat;
        info.typeId = typeId();
        info.mainThreadStages = true;
    }

private:
    void mainThreadStage(const char* name)
    {
        std::lock_guard<std::mutex> lock(m_log.mutex);
        m_log.events.push_back(name);
        if (std::this_thread::get_id() != m_log.mainThread)
            m_log.mainThreadStagesOnMainThread = false;
        if (m_log.clock)
            m_log.clock->advance(m_log.ticksPerMainThreadStage);
    }

    ProbeLog& m_log;
};

constexpr const char* kLevelSource = "world test\nentity thing\nTransform.position 1 2 3\n";

// Builds a small game with the content tool: DDS textures, materials using
// them, probe assets and levels depending on them, then loads the database.
class LoadingWorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::resetToDefaults();
        quern::graphics::Display::set(nullptr);
        log.mainThread = std::this_thread::get_id();
        registry.create<quern::graphics::PixelBufferHandler>();
        registry.create<quern::graphics::MaterialHandler>();
        registry.create<ProbeHandler>(log);
        quern::assets::AssetHandlerRegistry::setInstance(&registry);
        root = fs::path(QUERN_TEST_BINARY_DIR)
            / ("loading-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root);
        fs::create_directories(root / "source");
        services.appEventQueue = &events.queue;
        services.taskDispatcher = &dispatcher;
    }
    void TearDown() override
    {
        dispatcher.stop();
        quern::assets::AssetHandlerRegistry::setInstance(nullptr);
        Settings::resetToDefaults();
    }

    void write(const std::string& name, const std::string& text)
    {
        fs::create_directories((root / "source" / name).parent_path());
        std::ofstream(root / "source" / name, std::ios::binary) << text;
    }
    void addTexture(const std::string& name)
    {
        const std::vector<quern::u8> dds = quern::graphics::testing::makeDDS(quern::graphics::testing::rgba32Spec(2, 2), 16);
        write(name, std::string(dds.begin(), dds.end()));
        manifest += name + " texture\n";
    }
    void addMaterial(const std::string& name, const std::string& texture)
    {
        write(name, "texture albedo " + texture + "\n");
        manifest += name + " material " + texture + "\n";
    }
    void addProbe(const std::string& name)
    {
        write(name, "probe");
        manifest += name + " probe\n";
    }
    void addLevel(const std::string& name, const std::string& dependencies, const char* type = "level")
    {
        write(name, kLevelSource);
        manifest += name + " " + type + " " + dependencies + "\n";
    }

    void build()
    {
        std::ofstream(root / "manifest.txt") << manifest;
        std::string error;
        ASSERT_TRUE(content.build(root / "manifest.txt", root / "source", root / "out", error)) << error;
        worker = std::make_unique<LoadingWorker>(content.depot.get(), &content.database);
    }

    void startThreads(i32 workers)
    {
        ThreadingSettings threading;
        threading.enabled = true;
        threading.workers = workers;
        dispatcher.start(threading);
        ASSERT_TRUE(dispatcher.threaded());
    }

    void load(quern::entity::World& world, const std::string& level, i32 target = 1, bool switchWhenLoaded = true)
    {
        worker->loadWorld(world, services, idOf(level), switchWhenLoaded, target, nullptr);
    }

    // Drives the main thread as frames do until the load posted its event
    // (half a minute at most: a loaded machine may be slow, never stuck).
    bool pumpUntilLoaded()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!events.queue.isEmpty())
                return true;
            worker->pumpMainThreadJobs(static_cast<i64>(quern::platform::kPerformanceFrequency / 1000));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return !events.queue.isEmpty();
    }

    // Waits until the task queued `count` jobs for the main thread.
    bool waitForMainThreadJobs(u64 count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (worker->task().mainThreadJobsWaiting() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        return worker->task().mainThreadJobsWaiting() == count;
    }

    bool cached(const std::string& name, u64 typeId)
    {
        return worker->cache().find(quern::assets::resourceKey(idOf(name), typeId)) != nullptr;
    }

    LoadingFinishedEvent takeFinished()
    {
        LoadingFinishedEvent finished {};
        EXPECT_TRUE(events.queue.popByType(finished, storedTypeOf(AppEventType::LoadingFinished)));
        return finished;
    }

    ProbeLog log;
    quern::assets::AssetHandlerRegistry registry;
    fs::path root;
    std::string manifest;
    quern::testing::BuiltContent content;
    std::unique_ptr<LoadingWorker> worker;
    AppEventQueueStorage events;
    TaskDispatcher dispatcher;
    AppServices services;
};

TEST_F(LoadingWorkerTest, WithoutThreadingTheWholeLoadHappensBeforeLoadWorldReturns)
{
    addTexture("tex0.dds");
    addTexture("tex1.dds");
    addMaterial("mat0.material", "tex0.dds");
    addProbe("probe0");
    addLevel("levels/one", "mat0.material tex1.dds probe0");
    build();
    quern::entity::World world;
    load(world, "levels/one", 1, true);

    const LoadingFinishedEvent finished = takeFinished();
    EXPECT_EQ(finished.worldAssetId, idOf("levels/one"));
    EXPECT_EQ(finished.targetWorld, 1);
    EXPECT_EQ(finished.switchWhenLoaded, 1);
    EXPECT_EQ(worker->progress(), 100);
    EXPECT_TRUE(world.hasComponentStore());
    EXPECT_EQ(world.liveEntityCount, 1u);
    for (const char* texture : { "tex0.dds", "tex1.dds" })
        EXPECT_TRUE(cached(texture, Texture)) << texture;
    EXPECT_TRUE(cached("mat0.material", Material));
    EXPECT_TRUE(cached("probe0", ProbeHandler::typeId()));
    EXPECT_EQ(log.events, (std::vector<std::string> { "begin", "load", "finish", "link" }));
    EXPECT_EQ(worker->task().currentList().count(), 4u);

    quern::testing::SoftAssertRecorder asserts;
    const u32 handle = worker->acquirePreloadedResource(idOf("tex1.dds"), Texture);
    EXPECT_NE(handle, 0u);
    EXPECT_TRUE(asserts.messages.empty());
    worker->cache().release(handle);
}

TEST_F(LoadingWorkerTest, ThreadedLoadRunsMainThreadStagesOnlyInThePump)
{
    for (int i = 0; i < 12; ++i)
        addProbe("probe" + std::to_string(i));
    addTexture("tex0.dds");
    addMaterial("mat0.material", "tex0.dds");
    std::string dependencies = "mat0.material";
    for (int i = 0; i < 12; ++i)
        dependencies += " probe" + std::to_string(i);
    addLevel("levels/one", dependencies);
    build();
    startThreads(3);
    quern::entity::World world;
    load(world, "levels/one");
    ASSERT_TRUE(pumpUntilLoaded());
    dispatcher.wait(worker->task());

    EXPECT_TRUE(log.mainThreadStagesOnMainThread);
    i32 links = 0;
    for (const std::string& event : log.events)
        links += event == "link" ? 1 : 0;
    EXPECT_EQ(links, 12);
    EXPECT_EQ(log.events.back(), "link"); // every stage ran before anything was linked
    EXPECT_TRUE(cached("tex0.dds", Texture));
    EXPECT_TRUE(cached("mat0.material", Material));
    EXPECT_EQ(takeFinished().worldAssetId, idOf("levels/one"));
    EXPECT_EQ(worker->task().mainThreadJobsWaiting(), 0u);
}

TEST_F(LoadingWorkerTest, APumpStopsOnceItsMillisecondIsSpent)
{
    for (int i = 0; i < 3; ++i)
        addProbe("probe" + std::to_string(i));
    addLevel("levels/one", "probe0 probe1 probe2");
    build();
    quern::platform::ManualCounterSource clock(1000);
    quern::platform::ScopedCounterSource scope(clock);
    log.clock = &clock;
    log.ticksPerMainThreadStage = quern::platform::kPerformanceFrequency * 6 / 10000; // 0.6 ms
    startThreads(2);
    quern::entity::World world;
    load(world, "levels/one");
    // The task queues the three jobs for the main thread, then waits for it.
    ASSERT_TRUE(waitForMainThreadJobs(3));

    worker->pumpMainThreadJobs(static_cast<i64>(quern::platform::kPerformanceFrequency / 1000));
    {
        std::lock_guard<std::mutex> lock(log.mutex);
        i32 begun = 0;
        for (const std::string& event : log.events)
            begun += event == "begin" ? 1 : 0;
        EXPECT_EQ(begun, 2); // 0.6 ms + 0.6 ms: the second job used the budget up
    }
    ASSERT_TRUE(pumpUntilLoaded());
    dispatcher.wait(worker->task());
}

TEST_F(LoadingWorkerTest, TheNextLoadReleasesOnlyWhatItDoesNotUseItself)
{
    addTexture("tex0.dds");
    addTexture("tex1.dds");
    addTexture("tex2.dds");
    addLevel("levels/one", "tex0.dds tex1.dds");
    addLevel("levels/two", "tex1.dds tex2.dds");
    build();
    quern::entity::World first, second;
    load(first, "levels/one");
    takeFinished();
    const u64 jobsOfFirst = worker->task().jobCount();
    load(second, "levels/two");
    takeFinished();
    // tex1 was cached already: only tex2 needed a job.
    EXPECT_EQ(jobsOfFirst, 2u);
    EXPECT_EQ(worker->task().jobCount(), 1u);
    worker->releaseUnusedResources();
    EXPECT_FALSE(cached("tex0.dds", Texture));
    EXPECT_TRUE(cached("tex1.dds", Texture));
    EXPECT_TRUE(cached("tex2.dds", Texture));
}

TEST_F(LoadingWorkerTest, ThePersistentListIsNeverReleased)
{
    addTexture("menu.dds");
    addTexture("tex0.dds");
    addLevel("levels/menu", "menu.dds");
    addLevel("levels/one", "tex0.dds");
    addLevel("levels/two", "tex0.dds");
    build();
    quern::entity::World menu, first, second;
    load(menu, "levels/menu", 2, false);
    takeFinished();
    worker->makeCurrentListPersistent();
    load(first, "levels/one");
    takeFinished();
    worker->releaseUnusedResources();
    load(second, "levels/two");
    takeFinished();
    worker->releaseUnusedResources();
    EXPECT_TRUE(cached("menu.dds", Texture));
    EXPECT_TRUE(cached("tex0.dds", Texture));
}

TEST_F(LoadingWorkerTest, ATextWorldIsReadWithTheTextReader)
{
    addTexture("tex0.dds");
    addLevel("levels/text", "tex0.dds", "leveltext");
    build();
    quern::entity::World world;
    load(world, "levels/text");
    takeFinished();
    EXPECT_EQ(world.liveEntityCount, 1u);
    EXPECT_TRUE(cached("tex0.dds", Texture));
}

TEST_F(LoadingWorkerTest, AResourceThatWasNotPreloadedIsReportedAndGivesNoHandle)
{
    addTexture("tex0.dds");
    addLevel("levels/one", "tex0.dds");
    build();
    quern::testing::SoftAssertRecorder asserts;
    EXPECT_EQ(worker->acquirePreloadedResource(idOf("missing.dds"), Texture), 0u);
    // The key of an id equal to its type is 0: never a preloaded resource.
    EXPECT_EQ(worker->acquirePreloadedResource(Texture, Texture), 0u);
    EXPECT_EQ(asserts.messages, (std::vector<std::string> { "Resource was not preloaded", "Resource was not preloaded" }));
}

TEST_F(LoadingWorkerTest, CancelledLoadLetsGoOfItsWaitAndPostsNothing)
{
    for (int i = 0; i < 4; ++i)
        addProbe("probe" + std::to_string(i));
    addLevel("levels/one", "probe0 probe1 probe2 probe3");
    build();
    startThreads(2);
    quern::entity::World world;
    load(world, "levels/one");
    ASSERT_TRUE(waitForMainThreadJobs(4));
    // One job gets its first stage, then the game shuts down.
    worker->pumpMainThreadJobs(1);
    worker->cancel();
    dispatcher.wait(worker->task());

    EXPECT_TRUE(events.queue.isEmpty());
    EXPECT_EQ(worker->progress(), 100);
    for (u64 i = 0; i < worker->task().jobCount(); ++i)
        EXPECT_FALSE(worker->task().job(i).active()) << i;
    for (const std::string& event : log.events)
        EXPECT_NE(event, "link"); // no job finished its stages
    // The pump has nothing left to reach.
    worker->pumpMainThreadJobs(static_cast<i64>(quern::platform::kPerformanceFrequency));
    EXPECT_EQ(worker->task().mainThreadJobsWaiting(), 0u);
}

using LoadingWorkerDeathTest = LoadingWorkerTest;

TEST_F(LoadingWorkerDeathTest, AnEmptyWorldAssetIsFatalNamingIt)
{
    write("levels/empty", "");
    manifest += "levels/empty emptyworld\n";
    build();
    quern::entity::World world;
    EXPECT_DEATH(load(world, "levels/empty"), "World asset levels/empty is empty");
}

TEST_F(LoadingWorkerDeathTest, AWorldOfAnotherComponentModelIsFatal)
{
    // One type more, or one type whose size differs from the game's.
    for (bool extraType : { true, false }) {
        quern::assetbuild::WorldDocument document;
        std::string error;
        ASSERT_TRUE(quern::assetbuild::readLevelSource(kLevelSource, "odd", document, error)) << error;
        if (extraType) {
            document.model.addType("Extra", "", "", 0);
        } else {
            for (u64 t = 0; t < document.model.typeCount(); ++t) {
                quern::entity::ComponentTypeDescription& type = document.model.type(t);
                if (t != 23 && type.attributeCount > 0) {
                    type.attributes[0].elementCount += 1;
                    break;
                }
            }
        }
        std::ostringstream bytes;
        quern::serialize::BinaryPODToken token;
        ASSERT_TRUE(quern::assetbuild::writeWorldFile(bytes, token, document, error)) << error;
        const std::string name = extraType ? "levels/extra" : "levels/resized";
        write(name, bytes.str());
        manifest += name + " world\n";
    }
    build();
    for (const char* name : { "levels/extra", "levels/resized" }) {
        quern::entity::World world;
        EXPECT_DEATH(load(world, name), "World model from file doesn't match the code") << name;
    }
}

TEST_F(LoadingWorkerDeathTest, MoreJobsThanSlotsIsFatalNamingTheLevelAndTheLimit)
{
    std::string dependencies;
    for (u64 i = 0; i <= LoadWorldTask::kMaxJobs; ++i) {
        addProbe("p" + std::to_string(i));
        dependencies += " p" + std::to_string(i);
    }
    addLevel("levels/huge", dependencies);
    build();
    quern::entity::World world;
    EXPECT_DEATH(load(world, "levels/huge"), "Level levels/huge needs more than 1024 resource loads");
}

TEST_F(LoadingWorkerDeathTest, ADependencyNoHandlerLoadsIsFatalNamingIt)
{
    write("odd.bin", "x");
    manifest += "odd.bin oddity\n";
    addLevel("levels/one", "odd.bin");
    build();
    quern::entity::World world;
    EXPECT_DEATH(load(world, "levels/one"), "Level levels/one needs asset odd.bin of type");
}

} // namespace
} // namespace harmonize
