#include "quern/visuals/RayHit.h"

#include "quern/memory/Allocator.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <cstdlib>
#include <new>

namespace quern::visuals {
namespace {

struct HitBlock {
    RayHit* records;
    HitBlock* next;
};

struct HitPool {
    RayHit* freeList = nullptr;
    HitBlock* blocks = nullptr;
    memory::Allocator* allocator = nullptr;
    u64 capacity = 0;
};

HitPool* g_pool = nullptr;

void releasePool()
{
    if (!g_pool)
        return;
    for (HitBlock* block = g_pool->blocks; block;) {
        HitBlock* next = block->next;
        g_pool->allocator->free(block->records);
        g_pool->allocator->free(block);
        block = next;
    }
    delete g_pool;
    g_pool = nullptr;
}

HitPool& pool()
{
    if (!g_pool) {
        g_pool = new HitPool();
        g_pool->allocator = memory::getDefaultAllocator();
        std::atexit(releasePool);
    }
    return *g_pool;
}

void addBlock(HitPool& hits)
{
    void* records = hits.allocator->allocate(sizeof(RayHit) * kRayHitBlock, 8);
    void* node = hits.allocator->allocate(sizeof(HitBlock), alignof(HitBlock));
    if (!records || !node)
        QUERN_OUT_OF_MEMORY();
    RayHit* block = static_cast<RayHit*>(records);
    for (u64 i = 0; i < kRayHitBlock; ++i) {
        new (block + i) RayHit();
        block[i].nextFree = i + 1 < kRayHitBlock ? block + i + 1 : hits.freeList;
    }
    hits.freeList = block;
    hits.blocks = new (node) HitBlock { block, hits.blocks };
    hits.capacity += kRayHitBlock;
}

} // namespace

RayHit* takeRayHit()
{
    HitPool& hits = pool();
    if (!hits.freeList)
        addBlock(hits);
    RayHit* hit = hits.freeList;
    hits.freeList = hit->nextFree;
    *hit = RayHit();
    return hit;
}

void returnRayHit(RayHit* hit)
{
    HitPool& hits = pool();
    hit->nextFree = hits.freeList;
    hits.freeList = hit;
}

u64 rayHitPoolCapacity() { return g_pool ? g_pool->capacity : 0; }

} // namespace quern::visuals
