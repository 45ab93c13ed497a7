#include "ComparisonReporter.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace corvane {
namespace {

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string rate(double linesPerSecond) {
    if (linesPerSecond >= 1e6) {
        return format("%.2f M/s", linesPerSecond / 1e6);
    }
    return format("%.1f k/s", linesPerSecond / 1e3);
}

std::string pad(std::string text, std::size_t width, bool right) {
    if (text.size() < width) {
        text.insert(right ? 0 : text.size(), width - text.size(), ' ');
    }
    return text;
}

} // namespace

ComparisonReporter::ComparisonReporter(std::string reference, std::vector<std::string> operations,
                                       std::vector<std::string> codecs, std::size_t mixSize)
    : reference_(std::move(reference)), operations_(std::move(operations)),
      codecs_(std::move(codecs)), mixSize_(mixSize) {}

void ComparisonReporter::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        const auto items = run.counters.find("items_per_second");
        if (run.run_type != Run::RT_Iteration || run.error_occurred ||
            items == run.counters.end()) {
            continue;
        }
        double& best = linesPerSecond_[run.benchmark_name()];
        best = std::max(best, static_cast<double>(items->second));
    }
}

void ComparisonReporter::printTable(std::ostream& out) const {
    out << "\nCodec comparison over a mix of " << mixSize_
        << " lines (mostly \"move\"), best of repetitions\n";
    out << pad("operation", 10, false) << pad("codec", 16, false) << pad("ns/line", 10, true)
        << pad("lines/s", 13, true) << pad(reference_ + " speed-up", 22, true) << '\n';
    for (const std::string& operation : operations_) {
        const auto reference = linesPerSecond_.find(operation + "/" + reference_);
        for (const std::string& codec : codecs_) {
            const auto found = linesPerSecond_.find(operation + "/" + codec);
            if (found == linesPerSecond_.end() || found->second <= 0) {
                continue;
            }
            std::string speedUp = "-";
            if (codec != reference_ && reference != linesPerSecond_.end()) {
                speedUp = format("%.1fx", reference->second / found->second);
            }
            out << pad(operation, 10, false) << pad(codec, 16, false)
                << pad(format("%.1f", 1e9 / found->second), 10, true)
                << pad(rate(found->second), 13, true) << pad(speedUp, 22, true) << '\n';
        }
    }
}

} // namespace corvane
