#include "quern/parameter/ParameterRegistry.h"
#include "quern/strings/PackedName.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

namespace quern {
namespace {

struct Event {
    std::string what;
    f32 value;
    const Parameter* parameter;
    const void* listener;
    bool operator==(const Event&) const = default;
};

// Writes every call into a shared journal so tests see the order across listeners.
class RecordingListener : public ParameterListener {
public:
    explicit RecordingListener(std::vector<Event>& journal, bool* destroyed = nullptr)
        : m_journal(journal), m_destroyed(destroyed)
    {
    }
    ~RecordingListener() override
    {
        if (m_destroyed)
            *m_destroyed = true;
    }
    void beginFrame() override { m_journal.push_back({ "begin", 0.0f, nullptr, this }); }
    void update(f32 frameTime) override { m_journal.push_back({ "update", frameTime, nullptr, this }); }
    void valueChanged(const ParameterValue* value, Parameter* parameter) override
    {
        m_journal.push_back({ "changed", value->value, parameter, this });
    }

private:
    std::vector<Event>& m_journal;
    bool* m_destroyed;
};

u64 id(const char* text) { return packName(text); }

TEST(ParameterRegistry, SameIdsGiveTheSameParameterWithTheUnpackedDisplayName)
{
    ParameterRegistry registry;
    struct Case {
        const char* group;
        const char* name;
        const char* displayName;
    } cases[] = {
        { "Display", "fps", "display.fps" },
        { "Render", "DrawCalls", "render.drawcalls" },
        { "a", "Z9", "a.z9" },
        { "twelveLetter", "name123", "twelveletter.name123" },
    };
    for (const Case& c : cases) {
        Parameter* first = registry.getParameter(id(c.group), id(c.name));
        EXPECT_EQ(first, registry.getParameter(id(c.group), id(c.name))) << c.displayName;
        EXPECT_STREQ(first->displayName(), c.displayName);
        EXPECT_EQ(first->value(), 0.0f);
        EXPECT_EQ(first->listenerCount(), 0u);
        EXPECT_EQ(first->group(), id(c.group));
        EXPECT_EQ(first->name(), id(c.name));
    }
    EXPECT_EQ(registry.parameterCount(), 4u);
    // Swapping group and name is another key.
    EXPECT_NE(registry.getParameter(id("fps"), id("Display")), registry.getParameter(id("Display"), id("fps")));
}

TEST(ParameterRegistry, DisplayNameCanBeReplaced)
{
    ParameterRegistry registry;
    Parameter* parameter = registry.getParameter(id("Display"), id("fps"));
    parameter->setDisplayName("Frames/second");
    EXPECT_STREQ(registry.getParameter(id("Display"), id("fps"))->displayName(), "Frames/second");
}

TEST(ParameterRegistry, ImmediateChangeReachesEveryListenerInOrder)
{
    std::vector<Event> journal;
    ParameterRegistry registry;
    Parameter* parameter = registry.getParameter(id("game"), id("speed"));
    auto* a = new RecordingListener(journal);
    auto* b = new RecordingListener(journal);
    parameter->addListener(a);
    parameter->addListener(b);
    parameter->setValue(2.5f);
    EXPECT_EQ(parameter->value(), 2.5f);
    const std::vector<Event> expected = { { "changed", 2.5f, parameter, a }, { "changed", 2.5f, parameter, b } };
    EXPECT_EQ(journal, expected);
    EXPECT_EQ(parameter->deferredCount(), 0u);
}

TEST(ParameterRegistry, DeferredChangesArriveAtTheFlushInOrderAndOnlyOnce)
{
    std::vector<Event> journal;
    ParameterRegistry registry;
    registry.setDeferNotifications(true);
    Parameter* parameter = registry.getParameter(id("game"), id("speed"));
    auto* listener = new RecordingListener(journal);
    parameter->addListener(listener);

    parameter->setValue(1.0f);
    parameter->setValue(2.0f);
    parameter->setValue(3.0f);
    EXPECT_TRUE(journal.empty());
    EXPECT_EQ(parameter->value(), 3.0f);
    EXPECT_EQ(parameter->deferredCount(), 3u);

    registry.forEach([](Parameter& p) { p.flushDeferred(); });
    const std::vector<Event> expected = {
        { "changed", 1.0f, parameter, listener },
        { "changed", 2.0f, parameter, listener },
        { "changed", 3.0f, parameter, listener },
    };
    EXPECT_EQ(journal, expected);
    parameter->flushDeferred();
    EXPECT_EQ(journal.size(), 3u);
}

TEST(ParameterRegistry, ListenerAddedTwiceIsToldTwice)
{
    std::vector<Event> journal;
    ParameterRegistry registry;
    Parameter* parameter = registry.getParameter(id("game"), id("speed"));
    auto* listener = new RecordingListener(journal);
    parameter->addListener(listener);
    parameter->addListener(listener);
    EXPECT_EQ(listener->refCount(), 2);
    parameter->setValue(4.0f);
    parameter->beginFrame();
    parameter->update(0.25f);
    const std::vector<Event> expected = {
        { "changed", 4.0f, parameter, listener }, { "changed", 4.0f, parameter, listener },
        { "begin", 0.0f, nullptr, listener },     { "begin", 0.0f, nullptr, listener },
        { "update", 0.25f, nullptr, listener },   { "update", 0.25f, nullptr, listener },
    };
    EXPECT_EQ(journal, expected);
}

TEST(ParameterRegistry, DestroyingTheRegistryReleasesListenersAndQueuedValues)
{
    std::vector<Event> journal;
    bool destroyed = false;
    auto* listener = new RecordingListener(journal, &destroyed);
    listener->retain(listener); // the test's own reference
    {
        ParameterRegistry registry;
        registry.setDeferNotifications(true);
        registry.getParameter(id("a"), id("x"))->addListener(listener);
        registry.getParameter(id("b"), id("y"))->addListener(listener);
        registry.getParameter(id("a"), id("x"))->setValue(1.0f);
        EXPECT_EQ(listener->refCount(), 3);
    }
    EXPECT_TRUE(journal.empty()); // queued values are dropped, never delivered late
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(listener->refCount(), 1);
    RefCounted::release(listener);
    EXPECT_TRUE(destroyed);
}

TEST(ParameterRegistry, ForEachAndUpdateVisitInGroupThenNameOrder)
{
    std::vector<Event> journal;
    ParameterRegistry registry;
    const char* keys[][2] = { { "render", "b" }, { "display", "z" }, { "render", "a" }, { "display", "fps" } };
    std::map<std::string, const void*> listenerOf;
    for (const auto& key : keys) {
        Parameter* parameter = registry.getParameter(id(key[0]), id(key[1]));
        auto* listener = new RecordingListener(journal);
        parameter->addListener(listener);
        listenerOf[parameter->displayName()] = listener;
    }

    std::vector<std::string> visited;
    registry.forEach([&](Parameter& parameter) { visited.push_back(parameter.displayName()); });
    const std::vector<std::string> expected = { "display.fps", "display.z", "render.a", "render.b" };
    EXPECT_EQ(visited, expected);

    registry.update(0.5f);
    ASSERT_EQ(journal.size(), expected.size());
    for (u64 i = 0; i < journal.size(); ++i)
        EXPECT_EQ(journal[i], (Event{ "update", 0.5f, nullptr, listenerOf[expected[i]] })) << expected[i];
}

// A listener that sets the value again while it is told: the new value waits
// for the next flush instead of extending (or corrupting) the one running.
class EchoListener : public ParameterListener {
public:
    std::vector<f32> seen;
    void valueChanged(const ParameterValue* value, Parameter* parameter) override
    {
        seen.push_back(value->value);
        if (value->value < 3.0f)
            parameter->setValue(value->value + 10.0f);
    }
};

TEST(ParameterRegistry, ValueSetDuringAFlushWaitsForTheNextFlush)
{
    ParameterRegistry registry;
    registry.setDeferNotifications(true);
    Parameter* parameter = registry.getParameter(id("game"), id("echo"));
    auto* listener = new EchoListener;
    parameter->addListener(listener);
    parameter->setValue(1.0f);
    parameter->setValue(2.0f);
    parameter->flushDeferred();
    EXPECT_EQ(listener->seen, (std::vector<f32>{ 1.0f, 2.0f }));
    EXPECT_EQ(parameter->deferredCount(), 2u);
    parameter->flushDeferred();
    EXPECT_EQ(listener->seen, (std::vector<f32>{ 1.0f, 2.0f, 11.0f, 12.0f }));
    EXPECT_EQ(parameter->deferredCount(), 0u);
}

// A listener that registers more listeners while it is told; the list grows
// under the running notification.
class GrowingListener : public ParameterListener {
public:
    explicit GrowingListener(std::vector<Event>& journal) : m_journal(journal) {}
    void valueChanged(const ParameterValue*, Parameter* parameter) override
    {
        for (int i = 0; i < 16; ++i)
            parameter->addListener(new RecordingListener(m_journal));
    }

private:
    std::vector<Event>& m_journal;
};

TEST(ParameterRegistry, ListenersAddedWhileNotifyingAreToldToo)
{
    std::vector<Event> journal;
    ParameterRegistry registry;
    Parameter* parameter = registry.getParameter(id("game"), id("grow"));
    parameter->addListener(new GrowingListener(journal));
    parameter->setValue(7.0f);
    EXPECT_EQ(parameter->listenerCount(), 17u);
    EXPECT_EQ(journal.size(), 16u);
    for (const Event& event : journal)
        EXPECT_EQ(event.value, 7.0f);
}

class CountingListener : public ParameterListener {
public:
    std::vector<f32> seen;
    void valueChanged(const ParameterValue* value, Parameter*) override { seen.push_back(value->value); }
};

TEST(ParameterRegistry, DeferredValuesFromSeveralThreadsAreAllDelivered)
{
    ParameterRegistry registry;
    registry.setDeferNotifications(true);
    constexpr int kThreads = 4;
    constexpr int kValues = 2000;
    Parameter* shared = registry.getParameter(id("game"), id("shared"));
    auto* listener = new CountingListener;
    shared->addListener(listener);

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&registry, t] {
            Parameter* own = registry.getParameter(id("worker"), packName(("w" + std::to_string(t)).c_str()));
            Parameter* common = registry.getParameter(id("game"), id("shared"));
            for (int i = 0; i < kValues; ++i) {
                own->setValue(static_cast<f32>(i));
                common->setValue(static_cast<f32>(t * kValues + i));
            }
        });
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_EQ(registry.parameterCount(), 1u + kThreads);
    registry.forEach([](Parameter& p) { p.flushDeferred(); });
    ASSERT_EQ(listener->seen.size(), static_cast<u64>(kThreads * kValues));
    // Each thread's values arrive in the order that thread set them.
    std::vector<int> next(kThreads, 0);
    for (f32 value : listener->seen) {
        const int v = static_cast<int>(value);
        EXPECT_EQ(v % kValues, next[v / kValues]++);
    }
}

TEST(ParameterRegistryDeathTest, NullListenerIsFatal)
{
    ParameterRegistry registry;
    Parameter* parameter = registry.getParameter(id("game"), id("speed"));
    EXPECT_DEATH(parameter->addListener(nullptr), "Parameter listener is null");
}

TEST(ParameterRegistry, InstanceIsOneProcessWideRegistry)
{
    ParameterRegistry& registry = ParameterRegistry::instance();
    EXPECT_EQ(&registry, &ParameterRegistry::instance());
    Parameter* parameter = registry.getParameter(id("test"), id("instance"));
    EXPECT_EQ(parameter, ParameterRegistry::instance().getParameter(id("test"), id("instance")));
}

} // namespace
} // namespace quern
