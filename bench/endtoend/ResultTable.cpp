#include "ResultTable.h"

#include <algorithm>
#include <initializer_list>
#include <iomanip>
#include <string_view>

namespace corvane {

namespace {

constexpr int labelWidth = 40;
constexpr int columnWidth = 12;

double perSecond(std::uint64_t count, std::int64_t nanoseconds) {
    return nanoseconds > 0 ? static_cast<double>(count) * 1e9 / static_cast<double>(nanoseconds)
                           : 0.0;
}

double ratio(double ours, double floor) {
    return floor > 0 ? ours / floor : 0.0;
}

const char* verdict(bool met) {
    return met ? "met" : "NOT met";
}

// A label, then each value right-aligned in its column with `decimals` places and a unit.
void row(std::ostream& out, std::string_view label, std::initializer_list<double> values,
         int decimals, std::string_view unit) {
    out << std::left << std::setw(labelWidth) << label << std::right << std::fixed
        << std::setprecision(decimals);
    for (const double value : values) {
        out << std::setw(columnWidth - static_cast<int>(unit.size())) << value << unit;
    }
    out << '\n';
}

void latencyRows(std::ostream& out, const BenchmarkResults& results) {
    const LatencyStats& ours = results.receiver;
    const LatencyStats& echo = results.echoFloor;
    const LatencyStats& read = results.readFloor;
    out << std::left << std::setw(labelWidth) << "latency, one way" << std::right
        << std::setw(columnWidth) << "median" << std::setw(columnWidth) << "p99" << '\n';
    row(out, "floor: plain echo, round trip / 2", {echo.medianMicroseconds, echo.p99Microseconds},
        1, " us");
    row(out, "floor: plain reader, send to read", {read.medianMicroseconds, read.p99Microseconds},
        1, " us");
    row(out, "receiver: send to post", {ours.medianMicroseconds, ours.p99Microseconds}, 1, " us");
    row(out, "ratio to the echo floor",
        {ratio(ours.medianMicroseconds, echo.medianMicroseconds),
         ratio(ours.p99Microseconds, echo.p99Microseconds)},
        2, "x");
    row(out, "ratio to the reader floor",
        {ratio(ours.medianMicroseconds, read.medianMicroseconds),
         ratio(ours.p99Microseconds, read.p99Microseconds)},
        2, "x");
}

void throughputRows(std::ostream& out, const Throughput& stream) {
    row(out, "messages per second", {perSecond(stream.messages, stream.wallNanoseconds)}, 0, "");
    row(out, "receiver thread busy",
        {100 * ratio(static_cast<double>(stream.receiverCpuNanoseconds),
                     static_cast<double>(stream.wallNanoseconds))},
        0, " %");
    row(out, "messages per receiver CPU second",
        {perSecond(stream.messages, stream.receiverCpuNanoseconds)}, 0, "");
}

} // namespace

void printResults(std::ostream& out, const BenchmarkResults& results, const BenchmarkGoals& goals) {
    const double ours = results.receiver.medianMicroseconds;
    const double medianRatio = std::max(ratio(ours, results.echoFloor.medianMicroseconds),
                                        ratio(ours, results.readFloor.medianMicroseconds));
    const double rate = perSecond(results.throughput.messages, results.throughput.wallNanoseconds);

    out << "End to end over loopback TCP: " << results.latencySamples
        << " move lines one at a time, " << results.throughput.messages << " streamed\n";
    latencyRows(out, results);
    throughputRows(out, results.throughput);
    out << std::setprecision(2) << "goal: median within " << goals.medianRatio
        << "x of the floor: " << verdict(medianRatio <= goals.medianRatio) << " (" << medianRatio
        << "x)\n"
        << std::setprecision(0) << "goal: at least " << goals.messagesPerSecond
        << " messages per second on one core: " << verdict(rate >= goals.messagesPerSecond) << " ("
        << rate << ")\n";
}

} // namespace corvane
