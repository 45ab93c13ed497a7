#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace corvane {

// Google Benchmark's console output, plus one table at the end that sets every codec beside
// the reference codec for each operation. Benchmarks are named "<operation>/<codec>" and report
// one item per line.
class ComparisonReporter : public benchmark::ConsoleReporter {
public:
    ComparisonReporter(std::string reference, std::vector<std::string> operations,
                       std::vector<std::string> codecs, std::size_t mixSize);

    void ReportRuns(const std::vector<Run>& runs) override;

    void printTable(std::ostream& out) const;

private:
    std::string reference_;
    std::vector<std::string> operations_;
    std::vector<std::string> codecs_;
    std::size_t mixSize_;
    std::map<std::string, double> linesPerSecond_; // best of repetitions, by benchmark name
};

} // namespace corvane
