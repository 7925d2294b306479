#pragma once
// Console reporter that also keeps the fastest time of every benchmark, so a
// program can print its ratio against the peer it ran beside in the same run.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace quern::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        // With repetitions, the fastest run of each stands for it: noise only adds time.
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            auto [it, added] = seconds.emplace(run.benchmark_name(), run.GetAdjustedRealTime());
            if (!added && run.GetAdjustedRealTime() < it->second)
                it->second = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> seconds;
};

} // namespace quern::bench
