#include "harmonize/tasks/LoadingWorker.h"

#include "harmonize/Settings.h"
#include "harmonize/components/ComponentTypes.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/settings/SettingsUtility.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/tasks/TaskDispatcher.h"
#include "harmonize/utils/AppEventQueue.h"
#include "quern/assets/AssetDatabase.h"
#include "quern/assets/AssetHandler.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/Depot.h"
#include "quern/assets/DepotSource.h"
#include "quern/assets/ResourceCache.h"
#include "quern/debug/Log.h"
#include "quern/entity/World.h"
#include "quern/entity/WorldFile.h"
#include "quern/entity/WorldLocalization.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/Clock.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/Thread.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/Format.h"

#include <cinttypes>
#include <new>

namespace harmonize {
namespace {

using quern::assets::ResourceCache;
using quern::assets::ResourceType::AudioStream;
using quern::assets::ResourceType::Texture;

// The global record's ids whose dependencies are preloaded with them, then
// those preloaded on their own (the fonts among them), in the order they load.
constexpr u64 kGlobalIdsWithDependencies[] = { 44, 60, 68, 52 };
constexpr u64 kGlobalIdsAlone[] = { 20, 36, 4, 28, 12, 76 };

i64 counterNow() { return static_cast<i64>(quern::platform::getPerformanceCounter()); }

} // namespace

// ResourceLoadJob ------------------------------------------------------------

ResourceLoadJob::~ResourceLoadJob()
{
    if (m_context)
        complete();
}

void ResourceLoadJob::prepare(u64 assetId, quern::assets::Depot& depot, ResourceCache& cache,
    quern::assets::AssetHandler& handler)
{
    if (m_context)
        complete();
    m_depot = &depot;
    m_cache = &cache;
    m_handler = &handler;
    m_context = new (m_contextStorage) quern::assets::DefaultAssetLoaderContext(assetId, depot, cache);
    m_depotHandle = depot.open(assetId);
    m_entryOpen = true;

    quern::assets::AssetHandlerInfo info {};
    handler.describe(info);
    m_mainThread = info.mainThreadStages;
    m_keepOpen = info.keepOpen;

    m_context->allocateScratch(handler);
    depot.seek(m_depotHandle, 0);
    quern::assets::DepotSource source(depot, m_depotHandle, false);
    handler.prepare(source, *m_context);
    m_stage.store(m_mainThread ? kMainThreadBegin : kLoad, std::memory_order_release);
}

void ResourceLoadJob::run(quern::threads::TaskRange) { runStage(); }

void ResourceLoadJob::runStage()
{
    switch (stage()) {
    case kMainThreadBegin:
        m_handler->preload(*m_context);
        m_stage.store(kLoad, std::memory_order_release);
        break;
    case kLoad: {
        if (!m_mainThread)
            m_handler->preload(*m_context);
        m_depot->seek(m_depotHandle, 0);
        {
            quern::assets::DepotSource source(*m_depot, m_depotHandle, false);
            m_handler->load(source, *m_context);
        }
        if (!m_keepOpen) {
            m_depot->close(m_depotHandle);
            m_entryOpen = false;
        }
        if (m_mainThread) {
            m_stage.store(kMainThreadFinish, std::memory_order_release);
        } else {
            m_handler->finalize(*m_context);
            m_stage.store(kDone, std::memory_order_release);
        }
        break;
    }
    case kMainThreadFinish:
        m_handler->finalize(*m_context);
        m_stage.store(kDone, std::memory_order_release);
        break;
    default:
        break;
    }
}

void ResourceLoadJob::link()
{
    if (m_context && stage() == kDone)
        m_handler->link(*m_context);
}

void ResourceLoadJob::complete()
{
    if (!m_context)
        return;
    m_context->freeScratch();
    m_context->releaseFirstResource();
    if (m_entryOpen && !m_keepOpen)
        m_depot->close(m_depotHandle);
    m_entryOpen = false;
    m_context->~DefaultAssetLoaderContext();
    m_context = nullptr;
}

// ResourceKeyList ------------------------------------------------------------

ResourceKeyList::ResourceKeyList() : m_keys(sizeof(u64), alignof(u64)) {}

bool ResourceKeyList::contains(u64 key) const
{
    const u64* keys = m_keys.dataAs<u64>();
    for (u64 i = 0; i < m_keys.count(); ++i)
        if (keys[i] == key)
            return true;
    return false;
}

void ResourceKeyList::copyFrom(const ResourceKeyList& other)
{
    m_keys.clear();
    m_keys.reserve(other.count());
    for (u64 i = 0; i < other.count(); ++i)
        m_keys.append(other.at(i));
}

void ResourceKeyList::swap(ResourceKeyList& other)
{
    quern::containers::Array keys = std::move(m_keys);
    m_keys = std::move(other.m_keys);
    other.m_keys = std::move(keys);
}

// LoadWorldTask --------------------------------------------------------------

LoadWorldTask::LoadWorldTask(
    quern::assets::Depot* depot, quern::assets::AssetDatabase* database, ResourceCache& cache)
    : Task(1)
    , m_database(database)
    , m_depot(depot)
    , m_cache(cache)
    , m_jobs(new ResourceLoadJob[kMaxJobs])
    , m_mainThreadJobs(sizeof(ResourceLoadJob*), alignof(ResourceLoadJob*))
{
}

LoadWorldTask::~LoadWorldTask() { delete[] m_jobs; }

void LoadWorldTask::setUp(quern::entity::World& world, AppServices& services, u64 worldAssetId,
    bool switchWhenLoaded, i32 targetWorld, quern::memory::Allocator* allocator)
{
    m_world = &world;
    m_services = &services;
    m_allocator = allocator;
    m_worldAssetId = worldAssetId;
    m_switchWhenLoaded = switchWhenLoaded;
    m_targetWorld = targetWorld;
    m_progress.store(0, std::memory_order_release);
    m_cancel.store(false, std::memory_order_release);
}

bool LoadWorldTask::threaded() const
{
    return m_services && m_services->taskDispatcher && m_services->taskDispatcher->threaded();
}

const char* LoadWorldTask::worldName() const
{
    const char* name = m_database ? m_database->getAssetName(m_worldAssetId) : nullptr;
    return name ? name : "<unnamed world>";
}

void LoadWorldTask::run(quern::threads::TaskRange)
{
    m_progress.store(0, std::memory_order_release);
    if (!m_depot || !m_world)
        QUERN_FATAL("A world load needs a depot and a world");

    quern::assets::DepotSource source(*m_depot, m_depot->open(m_worldAssetId), true);
    if (source.size() == 0)
        QUERN_FATAL(quern::strings::format<384>("World asset %s is empty", worldName()).c_str());
    // Text worlds start with a brace or a quoted name; anything else is binary.
    u8 first = 0;
    source.read(&first, 1);
    source.position = 0;
    quern::serialize::BinaryPODToken binary;
    quern::serialize::TextPODToken text;
    quern::serialize::PODToken& token
        = first == '{' || first == '"' ? static_cast<quern::serialize::PODToken&>(text) : binary;
    const i32 reserved = Settings::Development.reservedEntities;
    quern::entity::loadWorld(
        source, token, *m_world, reserved > 0 ? static_cast<u64>(reserved) : 0, m_allocator, worldName());

    if (!matchesComponentSizeTable(*m_world))
        QUERN_FATAL("World model from file doesn't match the code");

    quern::entity::loadLocalization(*m_world, *m_depot);
    const i32 language = getLanguage();
    if (language != -1)
        m_world->language = language;

    m_current.clear();
    for (u64 i = 0; i < m_jobCount; ++i)
        m_jobs[i].complete();
    m_jobCount = 0;
    {
        quern::debug::MutexLock lock(m_mutex);
        // A count left by a cancelled or earlier load must not let this one
        // pass its wait early.
        while (m_mainThreadDone.tryWait()) { }
        m_mainThreadJobsQueued = false;
        m_allJobsSubmitted = false;
        m_mainThreadJobs.clear();
    }

    queueTexturePreloads();

    quern::containers::Array ids(sizeof(u64), 4, m_allocator);
    collectWorldDependencies(ids);
    for (u64 i = 0; i < ids.count(); ++i) {
        const u64 id = ids.at<u64>(i);
        const quern::assets::AssetRecord* record = m_database ? m_database->findAsset(id) : nullptr;
        if (record && record->typeId != 0)
            preloadResource(id, record->typeId);
        if (cancelled()) {
            ids.release();
            waitForJobs();
            finishJobs();
            m_progress.store(100, std::memory_order_release);
            return;
        }
    }
    ids.release();

    {
        quern::debug::MutexLock lock(m_mutex);
        m_allJobsSubmitted = true;
    }
    waitForJobs();
    bool waitForMainThread = false;
    {
        quern::debug::MutexLock lock(m_mutex);
        waitForMainThread = m_mainThreadJobsQueued && threaded() && !cancelled();
    }
    if (waitForMainThread)
        waitForMainThreadStages();
    // Shutdown may have let the wait go with main-thread stages left: jobs the
    // pump handed to the workers are waited for again before anything is linked.
    if (cancelled())
        waitForJobs();
    finishJobs();

    m_progress.store(100, std::memory_order_release);
    if (cancelled())
        return;
    if (m_services && m_services->appEventQueue) {
        LoadingFinishedEvent finished {};
        finished.worldAssetId = m_worldAssetId;
        finished.targetWorld = m_targetWorld;
        finished.switchWhenLoaded = m_switchWhenLoaded ? 1 : 0;
        m_services->appEventQueue->postLoadingFinished(finished);
    }
    QUERN_LOG(3) << m_cache.count() << " resources in cache" << std::endl;
}

void LoadWorldTask::collectWorldDependencies(quern::containers::Array& ids)
{
    if (m_database)
        m_database->collectDependencies(m_worldAssetId, ids);
    const LevelList* list = m_services ? m_services->levelList : nullptr;
    if (!list || !list->globalRecord())
        return;
    for (u64 offset : kGlobalIdsWithDependencies) {
        const u64 id = list->globalAssetId(offset);
        // No asset has id 0: an empty slot preloads nothing.
        if (id == 0)
            continue;
        if (m_database)
            m_database->collectDependencies(id, ids);
        ids.append(id);
    }
    for (u64 offset : kGlobalIdsAlone) {
        const u64 id = list->globalAssetId(offset);
        if (id != 0)
            ids.append(id);
    }
}

void LoadWorldTask::queueTexturePreloads()
{
    const LevelList* list = m_services ? m_services->levelList : nullptr;
    const u8* start = list ? list->startLevel() : nullptr;
    if (!start)
        return;
    for (i32 i = 0; i < LevelList::kStartTextureCount; ++i) {
        const u64 id = LevelList::startTextureId(start, i);
        if (id != 0)
            preloadResource(id, Texture);
    }
}

void LoadWorldTask::preloadResource(u64 assetId, u64 typeId)
{
    if (typeId == AudioStream && !Settings::Audio.enabled)
        return;
    const u64 key = quern::assets::resourceKey(assetId, typeId);
    if (m_current.contains(key))
        return;
    m_current.add(key);
    if (key != 0 && m_cache.find(key))
        return;

    quern::assets::AssetHandlerRegistry* registry = quern::assets::AssetHandlerRegistry::instance();
    quern::assets::AssetHandler* handler = registry ? registry->findHandler(typeId) : nullptr;
    if (!handler) {
        const char* name = m_database ? m_database->getAssetName(assetId) : nullptr;
        QUERN_FATAL(quern::strings::format<512>("Level %s needs asset %s of type %s (0x%016" PRIx64
                                                "), which no asset handler loads",
            worldName(), name ? name : "<unnamed>", quern::assets::resourceTypeName(typeId), typeId)
                        .c_str());
    }
    if (m_jobCount == kMaxJobs)
        QUERN_FATAL(quern::strings::format<384>(
            "Level %s needs more than %" PRIu64 " resource loads", worldName(), kMaxJobs)
                        .c_str());

    ResourceLoadJob& job = m_jobs[m_jobCount++];
    job.prepare(assetId, *m_depot, m_cache, *handler);

    TaskDispatcher* dispatcher = m_services ? m_services->taskDispatcher : nullptr;
    if (threaded()) {
        if (job.needsMainThread()) {
            quern::debug::MutexLock lock(m_mutex);
            ResourceLoadJob* pointer = &job;
            m_mainThreadJobs.append(pointer);
            m_mainThreadJobsQueued = true;
        } else {
            dispatcher->run(job);
        }
        return;
    }
    while (job.stage() != ResourceLoadJob::kDone)
        job.runStage();
}

void LoadWorldTask::waitForJobs()
{
    TaskDispatcher* dispatcher = m_services ? m_services->taskDispatcher : nullptr;
    if (!threaded())
        return;
    for (u64 i = 0; i < m_jobCount; ++i)
        dispatcher->wait(m_jobs[i]);
}

void LoadWorldTask::waitForMainThreadStages()
{
    // The pump hands the loads of main-thread jobs to the dispatcher from the
    // main thread, whose queue only drains while the main thread waits or when
    // a worker steals from it. Blocking here could leave them to nobody (with
    // one worker thread, this one), so the wait helps with them meanwhile.
    TaskDispatcher* dispatcher = m_services->taskDispatcher;
    while (!m_mainThreadDone.tryWait()) {
        bool helped = false;
        for (u64 i = 0; i < m_jobCount; ++i) {
            if (!m_jobs[i].isComplete()) {
                dispatcher->wait(m_jobs[i]);
                helped = true;
            }
        }
        if (!helped)
            quern::platform::sleepMilliseconds(1);
    }
}

void LoadWorldTask::finishJobs()
{
    {
        // A cancelled load can leave jobs the main thread never began: the
        // pump must not reach them once they are completed.
        quern::debug::MutexLock lock(m_mutex);
        m_mainThreadJobs.clear();
    }
    for (u64 i = 0; i < m_jobCount; ++i)
        m_jobs[i].link();
    for (u64 i = 0; i < m_jobCount; ++i)
        m_jobs[i].complete();
}

void LoadWorldTask::pumpMainThreadJobs(i64 budgetTicks)
{
    quern::debug::MutexLock lock(m_mutex);
    if (cancelled())
        return;
    if (m_mainThreadJobs.isEmpty()) {
        if (m_allJobsSubmitted)
            m_mainThreadDone.release(1);
        return;
    }
    TaskDispatcher* dispatcher = m_services ? m_services->taskDispatcher : nullptr;
    i64 budget = budgetTicks;
    u64 index = 0;
    while (index < m_mainThreadJobs.count() && budget > 0) {
        ResourceLoadJob* job = m_mainThreadJobs.at<ResourceLoadJob*>(index);
        const i32 stage = job->stage();
        if (stage == ResourceLoadJob::kLoad) {
            // Loading on a worker: costs the main thread nothing.
            ++index;
            continue;
        }
        const i64 started = counterNow();
        if (stage == ResourceLoadJob::kMainThreadBegin) {
            job->runStage();
            if (dispatcher && threaded())
                dispatcher->run(*job);
            else
                job->runStage();
        } else {
            if (stage == ResourceLoadJob::kMainThreadFinish)
                job->runStage();
            // The job behind it moves into this place and waits for the next pump.
            m_mainThreadJobs.erase(m_mainThreadJobs.at(index), m_mainThreadJobs.at(index + 1));
        }
        ++index;
        budget -= counterNow() - started;
    }
}

u64 LoadWorldTask::mainThreadJobsWaiting()
{
    quern::debug::MutexLock lock(m_mutex);
    return m_mainThreadJobs.count();
}

void LoadWorldTask::cancel()
{
    quern::debug::MutexLock lock(m_mutex);
    m_cancel.store(true, std::memory_order_release);
    m_mainThreadDone.release(1);
}

// LoadingWorker --------------------------------------------------------------

LoadingWorker::LoadingWorker(quern::assets::Depot* depot, quern::assets::AssetDatabase* database)
    : m_task(depot, database, m_cache)
{
    ResourceCache* cache = &m_cache;
    ResourceCache::cacheStack().append(cache);
}

LoadingWorker::~LoadingWorker()
{
    for (u64 i = 0; i < m_task.jobCount(); ++i)
        const_cast<ResourceLoadJob&>(m_task.job(i)).complete();
    ResourceCache* self = &m_cache;
    ResourceCache::cacheStack().removeValue(&self);
}

void LoadingWorker::loadWorld(quern::entity::World& world, AppServices& services, u64 worldAssetId,
    bool switchWhenLoaded, i32 targetWorld, quern::memory::Allocator* allocator)
{
    m_previous.swap(m_task.currentList());
    m_task.currentList().clear();
    m_task.setUp(world, services, worldAssetId, switchWhenLoaded, targetWorld, allocator);
    if (services.taskDispatcher)
        services.taskDispatcher->run(m_task);
    else
        quern::threads::Task::runInline(m_task);
}

u32 LoadingWorker::acquirePreloadedResource(u64 nameId, u64 typeId)
{
    const u64 key = quern::assets::resourceKey(nameId, typeId);
    if (nameId == typeId || !m_cache.find(key))
        quern::debug::softAssert("Resource was not preloaded", "", __FILE__, __LINE__);
    return m_cache.acquire(key);
}

void LoadingWorker::releaseUnusedResources()
{
    const ResourceKeyList& current = m_task.currentList();
    for (u64 i = 0; i < m_previous.count(); ++i) {
        const u64 key = m_previous.at(i);
        if (!current.contains(key) && !m_persistent.contains(key))
            m_cache.releaseByKey(key);
    }
}

} // namespace harmonize
