#include "EndToEndRun.h"

#include "AlwaysTrusted.h"
#include "AnyPortListenerFactory.h"
#include "CountingEventSink.h"
#include "SocketFloor.h"
#include "TouchClient.h"
#include "fakes/FakeHostName.h"
#include "fakes/FakeSecretStore.h"
#include "fakes/FakeUserDefaults.h"
#include "platform/qt/QtClock.h"
#include "platform/qt/QtMainThread.h"
#include "platform/system/SodiumRandom.h"
#include "receiver/TouchReceiver.h"

#include <pthread.h>
#include <time.h>

#include <QCoreApplication>
#include <thread>

namespace corvane {

namespace {

struct PhoneResults {
    std::vector<std::int64_t> latencies;
    Throughput throughput;
};

std::string moveLine() {
    TouchMessage move;
    move.kind = TouchMessage::Kind::move;
    move.dx = 3.25;
    move.dy = -1.5;
    return *move.line();
}

LatencyStats summarizeAfter(std::size_t warmUp, std::vector<std::int64_t> samples) {
    samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(warmUp));
    return summarize(std::move(samples));
}

// The calling thread's CPU clock, readable from any thread.
TouchClient::CpuClock currentThreadCpuClock() {
    clockid_t clock{};
    pthread_getcpuclockid(pthread_self(), &clock);
    return [clock] {
        timespec now{};
        clock_gettime(clock, &now);
        return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    };
}

std::expected<PhoneResults, Error> playPhone(std::uint16_t port, const std::string& code,
                                             std::shared_ptr<const CountingEventSink> sink,
                                             const TouchClient::CpuClock& receiverCpu,
                                             const RunSizes& sizes) {
    const std::string line = moveLine();
    auto client = TouchClient::pair(port, code, std::move(sink));
    if (!client) {
        return std::unexpected(client.error());
    }
    auto latencies = client->measureLatency(line, sizes.warmUpSamples + sizes.latencySamples);
    if (!latencies) {
        return std::unexpected(latencies.error());
    }
    auto throughput = client->measureThroughput(line, sizes.streamedMessages, receiverCpu);
    if (!throughput) {
        return std::unexpected(throughput.error());
    }
    return PhoneResults{std::move(*latencies), *throughput};
}

std::shared_ptr<TouchReceiver> makeReceiver(std::shared_ptr<ListenerFactory> listeners,
                                            std::shared_ptr<EventSink> sink,
                                            std::shared_ptr<MainThread> mainThread) {
    auto random = std::make_shared<SodiumRandom>();
    return TouchReceiver::create(ReceiverPlatform{
        .listeners = std::move(listeners),
        .trust = std::make_shared<AlwaysTrusted>(),
        .events = std::move(sink),
        .mainThread = std::move(mainThread),
        .hostName = std::make_shared<test::FakeHostName>("Benchmark"),
        .random = random,
        .clock = std::make_shared<QtClock>(),
        .pairingStorage = {std::make_shared<test::FakeSecretStore>(),
                           std::make_shared<test::FakeUserDefaults>(), random},
    });
}

std::expected<PhoneResults, Error> runReceiver(const RunSizes& sizes) {
    auto mainThread = std::make_shared<QtMainThread>();
    auto listeners = std::make_shared<AnyPortListenerFactory>(mainThread);
    auto sink = std::make_shared<CountingEventSink>();
    const auto receiver = makeReceiver(listeners, sink, mainThread);
    receiver->start();
    if (!receiver->isRunning()) {
        return std::unexpected(Error("the receiver did not start: " + receiver->status()));
    }

    std::expected<PhoneResults, Error> results = std::unexpected(Error("the phone did not run"));
    std::jthread phone([&, port = listeners->boundPort(), code = receiver->code(),
                        receiverCpu = currentThreadCpuClock()] {
        results = playPhone(port, code, sink, receiverCpu, sizes);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    receiver->stop();
    phone.join();
    return results;
}

} // namespace

std::expected<BenchmarkResults, Error> runEndToEnd(const RunSizes& sizes) {
    const std::string line = moveLine();
    const std::size_t samples = sizes.warmUpSamples + sizes.latencySamples;
    auto echoFloor = measureEchoFloor(line, samples);
    if (!echoFloor) {
        return std::unexpected(Error("echo floor: " + echoFloor.error().description()));
    }
    auto readFloor = measureReadFloor(line, samples);
    if (!readFloor) {
        return std::unexpected(Error("reader floor: " + readFloor.error().description()));
    }
    auto phone = runReceiver(sizes);
    if (!phone) {
        return std::unexpected(Error("receiver: " + phone.error().description()));
    }
    return BenchmarkResults{
        sizes.latencySamples,
        summarizeAfter(sizes.warmUpSamples, std::move(*echoFloor)),
        summarizeAfter(sizes.warmUpSamples, std::move(*readFloor)),
        summarizeAfter(sizes.warmUpSamples, std::move(phone->latencies)),
        phone->throughput,
    };
}

} // namespace corvane
