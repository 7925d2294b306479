#include "harmonize/systems/CoroutineSystem.h"

#include "harmonize/systems/AppContext.h"
#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace harmonize {
namespace {

using quern::containers::Array;

Array makeList(quern::memory::Allocator* allocator = nullptr)
{
    return Array(sizeof(Coroutine), alignof(Coroutine), allocator);
}

// A list still holding records of another allocator moves them into a block
// of the new one, so every block goes back to the allocator it came from.
void takeAllocator(Array& list, quern::memory::Allocator* allocator)
{
    if (list.allocator() != allocator) {
        Array moved = makeList(allocator);
        moved.reserve(std::max(list.count(), CoroutineSystem::kReservedRecords));
        if (!list.isEmpty())
            moved.assign(list.data(), list.end());
        list = std::move(moved);
    }
    list.reserve(CoroutineSystem::kReservedRecords);
}

void copyList(Array& target, const Array& source)
{
    if (!target.allocator())
        target = makeList(source.allocator());
    const auto* begin = static_cast<const u8*>(source.data());
    target.assign(begin, begin + source.usedBytes());
}

bool isDue(f32 wait) { return wait == 0.0f || std::isnan(wait); }

// Single precision, as the waits are stored. The quiet comparison keeps a NaN
// from raising the invalid-operation trap.
f32 countDown(f32 wait, f32 step)
{
    const f32 left = wait - step;
    return std::isgreaterequal(left, 0.0f) ? left : 0.0f;
}

// Removes the Finished records, keeping the order of the others.
void removeFinished(Array& list)
{
    auto* records = list.dataAs<Coroutine>();
    u64 kept = 0;
    for (u64 i = 0; i < list.count(); ++i) {
        if (records[i].status == CoroutineStatus::Finished)
            continue;
        if (kept != i)
            records[kept] = records[i];
        ++kept;
    }
    list.expand(kept);
}

} // namespace

CoroutineSystem::CoroutineSystem(AppContext& context)
    : m_fixedTickSnapshot(makeList())
    , m_fixedTickList(makeList())
    , m_frameSnapshot(makeList())
    , m_frameList(makeList())
    , m_context(&context)
{
}

CoroutineSystem::~CoroutineSystem() = default;

void CoroutineSystem::attach(quern::memory::Allocator* allocator)
{
    if (!allocator)
        allocator = quern::memory::getDefaultAllocator();
    takeAllocator(m_fixedTickList, allocator);
    takeAllocator(m_fixedTickSnapshot, allocator);
    takeAllocator(m_frameList, allocator);
    takeAllocator(m_frameSnapshot, allocator);
}

void CoroutineSystem::detach(quern::memory::Allocator*)
{
    m_fixedTickList.release();
    m_fixedTickSnapshot.release();
    m_frameList.release();
    m_frameSnapshot.release();
}

void CoroutineSystem::fixedTick(quern::entity::UpdateContext*, quern::entity::World& world)
{
    run(m_fixedTickList, world);
}

void CoroutineSystem::update(quern::entity::UpdateContext*, quern::entity::World& world) { run(m_frameList, world); }

void CoroutineSystem::describe(quern::entity::SystemInfo* info) { info->name = "CoroutineSystem"; }

Coroutine& CoroutineSystem::start(CoroutineCallback callback, void* userData, const void* locals, u64 localsSize)
{
    if (!callback)
        QUERN_FATAL("Coroutine started without a callback");
    if (localsSize > Coroutine::kLocalsSize)
        QUERN_FATAL("Coroutine locals exceed 64 bytes");
    // The locals may lie in a record that the growth below moves.
    u8 copied[Coroutine::kLocalsSize] = {};
    if (localsSize != 0)
        std::memcpy(copied, locals, localsSize);
    auto& coroutine = *static_cast<Coroutine*>(m_fixedTickList.expand(m_fixedTickList.count() + 1));
    std::memset(&coroutine, 0, sizeof(Coroutine));
    coroutine.callback = callback;
    coroutine.userData = userData;
    coroutine.status = CoroutineStatus::Ready;
    std::memcpy(coroutine.locals, copied, sizeof(copied));
    return coroutine;
}

void CoroutineSystem::saveSnapshot()
{
    copyList(m_fixedTickSnapshot, m_fixedTickList);
    copyList(m_frameSnapshot, m_frameList);
}

void CoroutineSystem::restoreSnapshot()
{
    copyList(m_fixedTickList, m_fixedTickSnapshot);
    copyList(m_frameList, m_frameSnapshot);
}

// The count and the storage are read again at every index: callbacks append
// to the list they run on, and what they append runs in this same pass.
void CoroutineSystem::run(Array& list, quern::entity::World& world)
{
    if (m_context->paused)
        return;
    const f32 step = world.deltaTime;
    for (u64 i = 0; i < list.count(); ++i) {
        Coroutine copy = list.at<Coroutine>(i);
        if (copy.status == CoroutineStatus::Finished)
            continue;
        if (isDue(copy.wait) && copy.status == CoroutineStatus::Ready) {
            copy.status = CoroutineStatus::Running;
            const bool keep = copy.callback(copy.userData, copy, world, *m_context);
            // The callback, or a routine it called, may have ended the stored record.
            const bool endedMeanwhile = list.at<Coroutine>(i).status == CoroutineStatus::Finished;
            copy.status = keep && !endedMeanwhile ? CoroutineStatus::Ready : CoroutineStatus::Finished;
        }
        copy.wait = countDown(copy.wait, step);
        list.at<Coroutine>(i) = copy;
    }
    removeFinished(list);
}

} // namespace harmonize
