#include "quern/profile/Profiler.h"

#include "quern/platform/ErrorReporting.h"

#include <cfloat>
#include <cstdlib>
#include <new>

namespace quern::profile {
namespace {

constexpr SampleStatistics kZeroStatistics = { 0, 0, 0, 0.0f };
constexpr SampleStatistics kMinimumStart = { ~u64{0}, ~u64{0}, ~u32{0}, FLT_MAX };

void resetStatistics(ProfileNode& node)
{
    node.statistics[kTotals] = kZeroStatistics;
    node.statistics[kMinimum] = kMinimumStart;
    node.statistics[kMaximum] = kZeroStatistics;
    node.statistics[kLastFrame] = kZeroStatistics;
}

} // namespace

Profiler::Profiler() : Profiler(ProfilerClock::timeStampCounter()) {}

Profiler::Profiler(const ProfilerClock& clock)
    : m_clock(clock), m_pool(&m_arena, kNodeBlockCount, alignof(ProfileNode))
{
    void* block = m_pages.allocate(kArenaSize, 4);
    if (!block)
        QUERN_FATAL("Out of memory");
    m_arena.init(block, kArenaSize, &m_pages);
    m_root = makeNode(kRootName, nullptr);
    m_current = m_root;
    m_root->start = m_clock.read();
}

Profiler::~Profiler()
{
    destroyNodes(m_root);
    m_pool.clear();
    // The arena's destructor then destroys the private heap and hands the block back.
}

void Profiler::destroyNodes(ProfileNode* node)
{
    for (u64 i = 0; i < node->children.count(); ++i)
        destroyNodes(node->children.at<ProfileNode*>(i));
    node->~ProfileNode();
    m_pool.give(node);
}

ProfileNode* Profiler::makeNode(const char* name, ProfileNode* parent)
{
    ProfileNode* node = new (m_pool.take()) ProfileNode{};
    node->children = containers::Array(sizeof(ProfileNode*), alignof(ProfileNode*), &m_arena);
    node->name = name;
    node->parent = parent;
    node->depth = parent ? parent->depth + 1 : 0;
    resetStatistics(*node);
    if (parent)
        parent->children.append(node);
    return node;
}

ProfileNode* Profiler::findChild(const ProfileNode* parent, const char* name)
{
    for (u64 i = 0; i < parent->children.count(); ++i) {
        ProfileNode* child = parent->children.at<ProfileNode*>(i);
        if (child->name == name)
            return child;
    }
    return nullptr;
}

void Profiler::beginSample(const char* name)
{
    if (!m_enabled)
        return;
    if (!name)
        QUERN_FATAL("Profiler sample without a name");
    ProfileNode* node = findChild(m_current, name);
    if (!node)
        node = makeNode(name, m_current);
    m_current = node;
    node->calls += 1;
    node->start = m_clock.read();
}

void Profiler::endSample()
{
    if (m_current == m_root)
        return;
    ProfileNode& node = *m_current;
    const u64 now = m_clock.read();
    // A counter read on another core may lag the start a little.
    const u64 elapsed = now > node.start ? now - node.start : 0;
    node.ticks += elapsed;
    node.parent->childTicks += elapsed;
    if (node.parent == m_root)
        accumulate(node, elapsed);
    m_current = node.parent;
}

// Folds the frame's numbers of the node and its subtree into the totals, the
// extremes and the last-frame record, then starts the node's next frame.
void Profiler::accumulate(ProfileNode& node, u64 frameTicks)
{
    const u64 selfTicks = node.ticks > node.childTicks ? node.ticks - node.childTicks : 0;
    // A frame that took no measurable time has no shares to give.
    const f64 fraction = frameTicks ? static_cast<f64>(selfTicks) / static_cast<f64>(frameTicks) : 0.0;
    node.fraction = static_cast<f32>(fraction);

    SampleStatistics& totals = node.statistics[kTotals];
    totals.selfTicks += selfTicks;
    totals.childTicks += node.childTicks;
    totals.calls += node.calls;
    totals.fraction = static_cast<f32>((static_cast<f64>(totals.fraction) * node.samples + fraction) / (node.samples + 1));
    node.samples += 1;
    node.statistics[kLastFrame] = { selfTicks, node.childTicks, node.calls, node.fraction };
    if (node.fraction < node.statistics[kMinimum].fraction)
        node.statistics[kMinimum].fraction = node.fraction;
    if (node.fraction > node.statistics[kMaximum].fraction)
        node.statistics[kMaximum].fraction = node.fraction;

    node.ticks = 0;
    node.childTicks = 0;
    node.calls = 0;
    for (u64 i = 0; i < node.children.count(); ++i)
        accumulate(*node.children.at<ProfileNode*>(i), frameTicks);
}

void Profiler::clearLastFrame(ProfileNode& node)
{
    node.statistics[kLastFrame] = kZeroStatistics;
    for (u64 i = 0; i < node.children.count(); ++i)
        clearLastFrame(*node.children.at<ProfileNode*>(i));
}

void Profiler::nextFrame()
{
    if (findChild(m_root, kMainLoopName)) {
        for (u64 i = 0; i < m_root->children.count(); ++i)
            clearLastFrame(*m_root->children.at<ProfileNode*>(i));
    }
    beginSample(kMainLoopName);
}

namespace {

Profiler* g_profiler = nullptr;
bool g_exitHandlerRegistered = false;

} // namespace

Profiler& getProfiler()
{
    if (!g_profiler) {
        g_profiler = new Profiler();
        if (!g_exitHandlerRegistered) {
            g_exitHandlerRegistered = true;
            std::atexit(destroyProfiler);
        }
    }
    return *g_profiler;
}

void destroyProfiler()
{
    delete g_profiler;
    g_profiler = nullptr;
}

} // namespace quern::profile
