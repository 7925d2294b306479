#pragma once
// Loads level worlds in the background and keeps every resource a level needs
// ready in its resource cache, which is the process's current cache while the
// worker lives. A level load is one LoadWorldTask on the game task dispatcher:
// it reads the world asset, checks the component model, loads the
// localisation, then preloads every dependency as a ResourceLoadJob. Jobs whose
// handler needs the main thread run their first and last stages there, a
// millisecond at a time, through pumpMainThreadJobs; the task sleeps on a
// semaphore until the pump has finished them. When every job is done the task
// posts LoadingFinished.

#include "quern/Types.h"
#include "quern/assets/DefaultAssetLoaderContext.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/containers/Array.h"
#include "quern/debug/MutexImpl.h"
#include "quern/platform/Semaphore.h"
#include "quern/threads/Task.h"

#include <atomic>

namespace quern::assets {
class AssetDatabase;
class AssetHandler;
class Depot;
} // namespace quern::assets
namespace quern::entity {
class World;
}
namespace quern::memory {
class Allocator;
}

namespace harmonize {

using quern::i32;
using quern::i64;
using quern::u32;
using quern::u64;
using quern::u8;

struct AppServices;

// One asset load in three stages: main-thread begin, load (any thread),
// main-thread finish. Slots are reused from load to load; a slot's loader
// context lives from the job's preparation to its completion.
class ResourceLoadJob final : public quern::threads::Task {
public:
    enum Stage : i32 {
        kMainThreadBegin = 0,
        kLoad = 1,
        kMainThreadFinish = 2,
        kDone = 3, // every stage ran; ready to be linked
    };

    ResourceLoadJob() : Task(1) {}
    ~ResourceLoadJob() override;
    ResourceLoadJob(const ResourceLoadJob&) = delete;
    ResourceLoadJob& operator=(const ResourceLoadJob&) = delete;

    // Opens the asset, binds a fresh loader context and lets the handler
    // prepare from the asset's bytes. The job starts at the main-thread stage
    // when its handler asks for the main thread, else at the load.
    void prepare(u64 assetId, quern::assets::Depot& depot, quern::assets::ResourceCache& cache,
        quern::assets::AssetHandler& handler);
    // The dispatcher's entry: runs the current stage.
    void run(quern::threads::TaskRange range) override;
    // Runs the current stage and moves on. A job whose handler may run anywhere
    // finishes in the same call as its load: its finish needs no other thread.
    void runStage();
    // The handler's link step; only for a job that reached kDone.
    void link();
    // Gives back what the load held (scratch, the first resource's handle, the
    // depot entry unless the handler keeps it) and ends the loader context.
    void complete();

    i32 stage() const { return m_stage.load(std::memory_order_acquire); }
    bool needsMainThread() const { return m_mainThread; }
    bool active() const { return m_context != nullptr; }

private:
    std::atomic<i32> m_stage { kLoad };
    u32 m_depotHandle = 0;
    quern::assets::Depot* m_depot = nullptr;
    quern::assets::ResourceCache* m_cache = nullptr;
    quern::assets::AssetHandler* m_handler = nullptr;
    quern::assets::DefaultAssetLoaderContext* m_context = nullptr; // in m_contextStorage while active
    bool m_mainThread = false;
    bool m_keepOpen = false;
    bool m_entryOpen = false;
    alignas(quern::assets::DefaultAssetLoaderContext) u8 m_contextStorage[sizeof(
        quern::assets::DefaultAssetLoaderContext)];
};

// Preload lists hold resource keys (asset id XOR resource type id).
class ResourceKeyList {
public:
    ResourceKeyList();
    bool contains(u64 key) const;
    void add(u64 key) { m_keys.append(key); }
    void clear() { m_keys.clear(); }
    void copyFrom(const ResourceKeyList& other);
    void swap(ResourceKeyList& other);
    u64 count() const { return m_keys.count(); }
    u64 at(u64 index) const { return m_keys.at<u64>(index); }

private:
    quern::containers::Array m_keys;
};

class LoadWorldTask final : public quern::threads::Task {
public:
    static constexpr u64 kMaxJobs = 1024;

    LoadWorldTask(quern::assets::Depot* depot, quern::assets::AssetDatabase* database,
        quern::assets::ResourceCache& cache);
    ~LoadWorldTask() override;
    LoadWorldTask(const LoadWorldTask&) = delete;
    LoadWorldTask& operator=(const LoadWorldTask&) = delete;

    // What the worker's loadWorld fills in before the task runs.
    void setUp(quern::entity::World& world, AppServices& services, u64 worldAssetId, bool switchWhenLoaded,
        i32 targetWorld, quern::memory::Allocator* allocator);
    void run(quern::threads::TaskRange range) override;

    // Main thread: see LoadingWorker::pumpMainThreadJobs.
    void pumpMainThreadJobs(i64 budgetTicks);
    // Stops the load after the dependency being queued and lets a task that
    // waits for the main thread go on. A cancelled load posts nothing.
    void cancel();

    i32 progress() const { return m_progress.load(std::memory_order_acquire); }
    bool cancelled() const { return m_cancel.load(std::memory_order_acquire); }
    u64 jobCount() const { return m_jobCount; }
    const ResourceLoadJob& job(u64 index) const { return m_jobs[index]; }
    // Jobs the main thread still has to visit.
    u64 mainThreadJobsWaiting();

    // The preload list of the load (keys, in the order they were queued).
    ResourceKeyList& currentList() { return m_current; }
    quern::assets::Depot* depot() const { return m_depot; }

private:
    bool threaded() const;
    void queueTexturePreloads();
    void preloadResource(u64 assetId, u64 typeId);
    void collectWorldDependencies(quern::containers::Array& ids);
    void waitForJobs();
    void waitForMainThreadStages();
    void finishJobs();
    const char* worldName() const;

    quern::entity::World* m_world = nullptr;
    AppServices* m_services = nullptr;
    quern::assets::AssetDatabase* m_database;
    quern::assets::Depot* m_depot;
    quern::assets::ResourceCache& m_cache;
    quern::memory::Allocator* m_allocator = nullptr;
    u64 m_worldAssetId = 0;
    quern::platform::Semaphore m_mainThreadDone { 0, 1 };
    std::atomic<i32> m_progress { 100 };
    i32 m_targetWorld = 0;
    bool m_switchWhenLoaded = false;
    std::atomic<bool> m_cancel { false };
    quern::debug::MutexImpl m_mutex;
    bool m_mainThreadJobsQueued = false;
    bool m_allJobsSubmitted = false;
    ResourceKeyList m_current;
    ResourceLoadJob* m_jobs;
    u64 m_jobCount = 0;
    quern::containers::Array m_mainThreadJobs; // ResourceLoadJob*, oldest first
};

class LoadingWorker {
public:
    // Makes its cache the process's current resource cache.
    LoadingWorker(quern::assets::Depot* depot, quern::assets::AssetDatabase* database);
    // Takes its cache off the stack of caches and destroys it with every
    // resource still in it.
    ~LoadingWorker();
    LoadingWorker(const LoadingWorker&) = delete;
    LoadingWorker& operator=(const LoadingWorker&) = delete;

    // Starts loading the world asset into `world`: on the game task dispatcher
    // when it runs threads, else before returning. The previous load's
    // preload list is kept to release what the new level does not use.
    void loadWorld(quern::entity::World& world, AppServices& services, u64 worldAssetId, bool switchWhenLoaded,
        i32 targetWorld, quern::memory::Allocator* allocator);

    // A handle on a resource a load preloaded. One that was not preloaded is
    // reported through the soft assertion and gives whatever the cache holds
    // for the key: 0 when nothing, which callers take as no resource.
    u32 acquirePreloadedResource(u64 nameId, u64 typeId);
    // After a switch: releases what the previous level preloaded and neither
    // the new level nor the persistent list holds.
    void releaseUnusedResources();
    // Main thread, once per prepared world and frame: runs main-thread stages
    // for at most `budgetTicks` of the performance counter.
    void pumpMainThreadJobs(i64 budgetTicks) { m_task.pumpMainThreadJobs(budgetTicks); }
    // The front end's resources are never released: its finished load's list
    // becomes the persistent list.
    void makeCurrentListPersistent() { m_persistent.copyFrom(m_task.currentList()); }
    void cancel() { m_task.cancel(); }

    LoadWorldTask& task() { return m_task; }
    quern::assets::DefaultResourceCache& cache() { return m_cache; }
    // Where the assets come from; null for a worker made without one.
    quern::assets::Depot* depot() const { return m_task.depot(); }
    i32 progress() const { return m_task.progress(); }

private:
    quern::assets::DefaultResourceCache m_cache;
    LoadWorldTask m_task;
    ResourceKeyList m_previous;
    ResourceKeyList m_persistent;
};

} // namespace harmonize
