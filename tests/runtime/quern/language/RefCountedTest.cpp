#include "quern/language/RefCounted.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using quern::Ref;
using quern::RefCounted;

struct Record {
    int hookCalls = 0;
    int destroyed = 0;
};

class Counted : public RefCounted {
public:
    explicit Counted(Record& record, bool keepAlive = false) : m_record(record), m_keepAlive(keepAlive) {}
    ~Counted() override { ++m_record.destroyed; }

protected:
    void onLastReference() override
    {
        ++m_record.hookCalls;
        if (m_keepAlive)
            retain(this); // taken back, as a cache does
    }

private:
    Record& m_record;
    bool m_keepAlive;
};

TEST(RefCounted, RetainThenReleaseRunsTheHookOnceThenDestroys)
{
    Record record;
    Counted* object = new Counted(record);
    RefCounted::retain(object);
    EXPECT_EQ(object->refCount(), 1);
    RefCounted::release(object);
    EXPECT_EQ(record.hookCalls, 1);
    EXPECT_EQ(record.destroyed, 1);
}

TEST(RefCounted, HookThatRetainsCancelsTheDestruction)
{
    Record record;
    Counted* object = new Counted(record, true);
    RefCounted::retain(object);
    RefCounted::release(object);
    EXPECT_EQ(record.hookCalls, 1);
    EXPECT_EQ(record.destroyed, 0);
    EXPECT_EQ(object->refCount(), 1);
    delete object;
}

TEST(RefCounted, ReleaseAtZeroGoesNegativeAndDoesNothingElse)
{
    Record record;
    Counted object(record);
    RefCounted::release(&object);
    EXPECT_EQ(object.refCount(), -1);
    EXPECT_EQ(record.hookCalls, 0);
    EXPECT_EQ(record.destroyed, 0);
}

TEST(RefCounted, DecrementToZeroNeitherCallsTheHookNorDestroys)
{
    Record record;
    Counted object(record);
    RefCounted::retain(&object);
    RefCounted::decrementRef(&object);
    EXPECT_EQ(object.refCount(), 0);
    EXPECT_EQ(record.hookCalls, 0);
    EXPECT_EQ(record.destroyed, 0);
}

TEST(RefCounted, CountsStayExactWhenThreadsRetainAndRelease)
{
    Record record;
    Counted* object = new Counted(record);
    RefCounted::retain(object);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([object] {
            for (int i = 0; i < 100000; ++i) {
                RefCounted::retain(object);
                RefCounted::release(object);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(object->refCount(), 1);
    EXPECT_EQ(record.destroyed, 0);
    RefCounted::release(object);
    EXPECT_EQ(record.destroyed, 1);
}

// Handles with counting functions of their own, to see every call.
struct Calls {
    int retains = 0;
    int decrements = 0;
    int releases = 0;
};
Calls g_calls;
void countRetain(void*) { ++g_calls.retains; }
void countDecrement(void*) { ++g_calls.decrements; }
void countRelease(void*) { ++g_calls.releases; }

TEST(Ref, NullHandleCallsNothing)
{
    g_calls = {};
    {
        Ref empty(nullptr, &countRetain, &countDecrement, &countRelease);
        Ref copy(empty);
        Ref assigned;
        assigned = copy;
        EXPECT_FALSE(copy);
    }
    EXPECT_EQ(g_calls.retains, 0);
    EXPECT_EQ(g_calls.releases, 0);
}

TEST(Ref, CopiesRetainAndDestructionReleases)
{
    g_calls = {};
    int target = 0;
    {
        Ref handle(&target, &countRetain, &countDecrement, &countRelease);
        EXPECT_EQ(g_calls.retains, 1);
        Ref copy(handle);
        EXPECT_EQ(copy.object(), &target);
        EXPECT_EQ(g_calls.retains, 2);
        Ref moved(std::move(copy));
        EXPECT_EQ(g_calls.retains, 2);
        EXPECT_FALSE(copy);
    }
    EXPECT_EQ(g_calls.releases, 2);
    EXPECT_EQ(g_calls.decrements, 0);
}

TEST(Ref, DropGivesTheReferenceUpWithTheDecrementFunction)
{
    g_calls = {};
    int target = 0;
    Ref handle(&target, &countRetain, &countDecrement, &countRelease);
    handle.drop();
    EXPECT_FALSE(handle);
    EXPECT_EQ(g_calls.decrements, 1);
    EXPECT_EQ(g_calls.releases, 0);
}

TEST(Ref, LastHandleOnACountedObjectDestroysIt)
{
    Record record;
    Counted* object = new Counted(record);
    {
        Ref first(object);
        Ref second = first;
        EXPECT_EQ(object->refCount(), 2);
        second = first; // assigning the same object keeps it alive
        EXPECT_EQ(object->refCount(), 2);
        first = second;
        EXPECT_EQ(object->refCount(), 2);
        EXPECT_EQ(second.get<Counted>(), object);
    }
    EXPECT_EQ(record.hookCalls, 1);
    EXPECT_EQ(record.destroyed, 1);
}

TEST(Ref, AssignmentReleasesThePreviousObject)
{
    Record a, b;
    Ref handle(new Counted(a));
    Ref other(new Counted(b));
    handle = other;
    EXPECT_EQ(a.destroyed, 1);
    EXPECT_EQ(b.destroyed, 0);
    handle.reset();
    other.reset();
    EXPECT_EQ(b.destroyed, 1);
}

} // namespace
