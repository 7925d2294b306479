// The text report: one line per sample in tree order, then the per-frame
// costs below "Main loop" and the overall costs per sample name.

#include "quern/profile/Profiler.h"

#include "quern/language/Exception.h"

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <map>
#include <string>
#include <vector>

namespace quern::profile {
namespace {

struct NameTotals {
    f64 fraction = 0.0;
    f64 seconds = 0.0;
    u64 calls = 0;
};

using NameTable = std::map<std::string, NameTotals>;

class ReportWriter {
public:
    ReportWriter(std::ostream& out, const ProfilerClock& clock) : m_out(out), m_clock(clock) {}

    void begin()
    {
        m_out << "  Time   Average  Minimum  Maximum  Calls  Profile Name\n";
        m_out << "--------------------------------------------------------\n";
        m_savedFlags = m_out.flags();
        m_savedPrecision = m_out.precision();
        m_out << std::fixed << std::setprecision(2);
    }

    void visit(const ProfileNode& node, bool belowMainLoop)
    {
        const SampleStatistics& totals = node.statistics[kTotals];
        const f64 seconds = m_clock.toSeconds(totals.selfTicks);
        m_out << std::setw(6) << seconds << "s ";
        if (totals.calls != 0) {
            for (f32 fraction : { totals.fraction, node.statistics[kMinimum].fraction,
                                  node.statistics[kMaximum].fraction })
                m_out << std::setw(7) << static_cast<f64>(fraction) * 100.0 << "% ";
        } else {
            m_out << " ------------------------- ";
        }
        m_out << std::setw(6) << totals.calls << " " << std::string(node.depth, ' ') << node.name << "\n";

        const bool isMainLoop = std::string(node.name) == Profiler::kMainLoopName;
        if (isMainLoop && !m_mainLoop)
            m_mainLoop = &node;
        sumInto(m_overall, node, seconds);
        if (isMainLoop || belowMainLoop)
            sumInto(m_mainLoopTable, node, seconds);
    }

    void end()
    {
        if (m_mainLoop && m_mainLoop->statistics[kTotals].calls != 0) {
            const u64 frames = m_mainLoop->statistics[kTotals].calls;
            m_out << "Main loop statistics for " << frames << " frames:\n";
            for (const auto& [name, totals] : sortedBySeconds(m_mainLoopTable, 0.0))
                m_out << std::setw(6) << totals.seconds * 1000.0 / static_cast<f64>(frames) << "ms " << std::setw(4)
                      << totals.calls / frames << " " << name << "\n";
        }
        m_out << "Overall statistics:\n";
        for (const auto& [name, totals] : sortedBySeconds(m_overall, 0.01))
            m_out << std::setw(6) << totals.seconds << "s " << std::setw(4) << totals.calls << " " << name << "\n";
        m_out.flags(m_savedFlags);
        m_out.precision(m_savedPrecision);
    }

private:
    static void sumInto(NameTable& table, const ProfileNode& node, f64 seconds)
    {
        NameTotals& totals = table[node.name];
        totals.fraction += node.statistics[kTotals].fraction;
        totals.seconds += seconds;
        totals.calls += node.statistics[kTotals].calls;
    }

    // Largest first; names with equal time keep their alphabetical order.
    static std::vector<std::pair<std::string, NameTotals>> sortedBySeconds(const NameTable& table, f64 minimum)
    {
        std::vector<std::pair<std::string, NameTotals>> rows;
        for (const auto& row : table)
            if (row.second.seconds >= minimum)
                rows.push_back(row);
        std::stable_sort(rows.begin(), rows.end(),
                         [](const auto& a, const auto& b) { return a.second.seconds > b.second.seconds; });
        return rows;
    }

    std::ostream& m_out;
    const ProfilerClock& m_clock;
    std::ios::fmtflags m_savedFlags{};
    std::streamsize m_savedPrecision = 0;
    const ProfileNode* m_mainLoop = nullptr;
    NameTable m_overall;
    NameTable m_mainLoopTable;
};

// Depth-first, each node before its children.
void visitTree(ReportWriter& writer, const ProfileNode& node, bool belowMainLoop)
{
    writer.visit(node, belowMainLoop);
    const bool childrenBelow = belowMainLoop || std::string(node.name) == Profiler::kMainLoopName;
    for (u64 i = 0; i < node.children.count(); ++i)
        visitTree(writer, *node.children.at<const ProfileNode*>(i), childrenBelow);
}

} // namespace

void Profiler::outputStatisticsToFile(const char* path)
{
    std::ofstream out(path);
    if (!out)
        QUERN_RAISE(IOException, "Error writing to file", path);

    if (m_current != m_root && m_current->ticks != 0)
        accumulate(*m_current, m_current->ticks);

    ReportWriter writer(out, m_clock);
    writer.begin();
    for (u64 i = 0; i < m_root->children.count(); ++i)
        visitTree(writer, *m_root->children.at<const ProfileNode*>(i), false);
    writer.end();

    // A full disk shows only here; the report must not look written when it is not.
    out.close();
    if (!out)
        QUERN_RAISE(IOException, "Error writing to file", path);
}

} // namespace quern::profile
