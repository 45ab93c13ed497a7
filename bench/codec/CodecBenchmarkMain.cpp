// Decodes and encodes a realistic mix of protocol lines with our codec, Qt's QJsonDocument and
// nlohmann::json, then prints one table setting them side by side.
#include "ComparisonReporter.h"
#include "CorvaneLineCodec.h"
#include "MessageMix.h"
#include "NlohmannLineCodec.h"
#include "QtLineCodec.h"

#include <benchmark/benchmark.h>

#include <iostream>
#include <string>
#include <vector>

namespace corvane {
namespace {

constexpr std::size_t mixSize = 1024;
constexpr std::uint32_t mixSeed = 20240611;

template<typename Codec>
void decodeMix(benchmark::State& state, const MessageMix& mix) {
    Codec codec;
    for (auto _ : state) {
        for (const std::string& line : mix.lines()) {
            auto message = codec.decode(line);
            benchmark::DoNotOptimize(message);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * mix.size()));
}

template<typename Codec>
void encodeMix(benchmark::State& state, const MessageMix& mix) {
    Codec codec;
    for (auto _ : state) {
        for (const TouchMessage& message : mix.messages()) {
            auto line = codec.line(message);
            benchmark::DoNotOptimize(line);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * mix.size()));
}

// A contender that decodes or encodes differently would make the comparison meaningless.
template<typename Codec>
bool agreesWithMix(const MessageMix& mix) {
    Codec codec;
    CorvaneLineCodec reader;
    for (std::size_t i = 0; i < mix.size(); ++i) {
        const TouchMessage& expected = mix.messages()[i];
        const auto decoded = codec.decode(mix.lines()[i]);
        const auto line = codec.line(expected);
        const bool encoded =
            line && !line->empty() && line->back() == '\n' &&
            reader.decode(std::string_view(*line).substr(0, line->size() - 1)) == expected;
        if (!decoded || *decoded != expected || !encoded) {
            std::cerr << Codec::name << " disagrees on line " << i << ": " << mix.lines()[i]
                      << '\n';
            return false;
        }
    }
    return true;
}

template<typename Codec>
bool registerCodec(const MessageMix& mix) {
    const std::string name(Codec::name);
    benchmark::RegisterBenchmark(("decode/" + name).c_str(), decodeMix<Codec>, std::cref(mix));
    benchmark::RegisterBenchmark(("encode/" + name).c_str(), encodeMix<Codec>, std::cref(mix));
    return agreesWithMix<Codec>(mix);
}

} // namespace
} // namespace corvane

int main(int argc, char** argv) {
    using namespace corvane;
    const MessageMix mix = MessageMix::realistic(mixSize, mixSeed);
    const bool agree = registerCodec<CorvaneLineCodec>(mix) && registerCodec<QtLineCodec>(mix) &&
                       registerCodec<NlohmannLineCodec>(mix);
    if (!agree) {
        return 1;
    }
    // Interleaved repetitions, best of each, so that a burst of load elsewhere on the machine
    // does not land on one contender only. Flags given on the command line come later and win.
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=7";
    std::string interleaving = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, {repetitions.data(), interleaving.data()});
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 1;
    }
    ComparisonReporter reporter(std::string(CorvaneLineCodec::name), {"decode", "encode"},
                                {std::string(CorvaneLineCodec::name),
                                 std::string(QtLineCodec::name),
                                 std::string(NlohmannLineCodec::name)},
                                mix.size());
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printTable(std::cout);
    benchmark::Shutdown();
    return 0;
}
