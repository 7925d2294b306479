#pragma once
// The frame profiler: code opens and closes named samples, which form a tree
// under "Root"; when a top-level sample closes, the frame's numbers of its
// subtree fold into running statistics, and the report lists them per sample.
// Nodes and their child lists live in the profiler's own 2 MB private heap, so
// sampling never touches the general heap. One thread only: the one running
// the frame.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/containers/BlockPool.h"
#include "quern/memory/PageAllocator.h"
#include "quern/memory/PrivateHeapAllocator.h"
#include "quern/profile/ProfilerClock.h"

namespace quern::profile {

// Numbers of one sample folded over frames.
struct SampleStatistics {
    u64 selfTicks;
    u64 childTicks;
    u32 calls;
    f32 fraction; // share of the top-level sample's time spent in this one alone
};

// Which statistics record holds what.
enum StatisticsRecord : u32 {
    kTotals = 0,    // sums over all frames; fraction is the running average
    kMinimum = 1,   // fraction: the smallest seen
    kMaximum = 2,   // fraction: the largest seen
    kLastFrame = 3, // the numbers of the frame last folded in; cleared at frame start
};

struct ProfileNode {
    // This frame, until the top-level sample closes.
    u64 ticks; // inclusive
    u64 childTicks;
    u32 calls;
    f32 fraction; // the last frame's self-time share
    const char* name; // compared by address, never copied
    u64 start;        // counter at the last begin
    u32 samples;      // frames folded in
    ProfileNode* parent;
    containers::Array children; // ProfileNode*
    u32 depth;                  // Root 0, top-level samples 1
    SampleStatistics statistics[4];
    void* poolLink; // the pool's free-list link while the node is unused
};

class Profiler {
public:
    static constexpr u64 kArenaSize = 0x200000;
    static constexpr u64 kNodeBlockCount = 100;
    // Arrays, not pointers to literals: samples match by address, and equal
    // literals in different files need not share one.
    static constexpr char kRootName[] = "Root";
    static constexpr char kMainLoopName[] = "Main loop";

    // Timed by the processor's time-stamp counter.
    Profiler();
    explicit Profiler(const ProfilerClock& clock);
    ~Profiler();
    Profiler(const Profiler&) = delete;
    Profiler& operator=(const Profiler&) = delete;

    // `name` must outlive the profiler: samples are matched by its address.
    // A null name is fatal.
    void beginSample(const char* name);
    // Closes the innermost open sample; nothing when none is open.
    void endSample();
    // The frame boundary: opens the "Main loop" sample that the frame closes.
    void nextFrame();

    // Writes the report; a file that cannot be written ends in the fatal path
    // with "Error writing to file".
    void outputStatisticsToFile(const char* path);

    bool isEnabled() const { return m_enabled; }
    // Off while world updates run on worker threads.
    void setEnabled(bool enabled) { m_enabled = enabled; }

    const ProfileNode* root() const { return m_root; }
    const ProfileNode* current() const { return m_current; }
    const ProfilerClock& clock() const { return m_clock; }
    // The child of `parent` whose name has this address, or null.
    static ProfileNode* findChild(const ProfileNode* parent, const char* name);
    u64 childCount(const ProfileNode* node) const { return node->children.count(); }
    const ProfileNode* childAt(const ProfileNode* node, u64 index) const
    {
        return node->children.at<ProfileNode*>(index);
    }
    const memory::PrivateHeapAllocator& arena() const { return m_arena; }

private:
    ProfileNode* makeNode(const char* name, ProfileNode* parent);
    void accumulate(ProfileNode& node, u64 frameTicks);
    void clearLastFrame(ProfileNode& node);
    void destroyNodes(ProfileNode* node);

    ProfilerClock m_clock;
    memory::PageAllocator m_pages;
    memory::PrivateHeapAllocator m_arena;
    containers::BlockPool<ProfileNode> m_pool;
    ProfileNode* m_root = nullptr;
    ProfileNode* m_current = nullptr;
    bool m_enabled = true;
};

// The process's profiler, created on first use.
Profiler& getProfiler();
// Destroys the process's profiler; nothing when none exists. The next
// getProfiler makes a fresh one. Also runs at exit.
void destroyProfiler();

} // namespace quern::profile
