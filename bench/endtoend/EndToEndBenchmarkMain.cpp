// Latency and throughput of the whole TCP path (socket, Qt event loop, framing, decoding,
// injection) against plain loopback sockets measured in the same run.
#include "EndToEndRun.h"
#include "ResultTable.h"

#include <QCoreApplication>
#include <iostream>

int main(int argc, char* argv[]) {
    // Measure the event loop the program itself runs on (see src/app/main.cpp).
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) {
        qputenv("QT_NO_GLIB", "1");
    }
    QCoreApplication application(argc, argv);
    const auto results = corvane::runEndToEnd(corvane::RunSizes{});
    if (!results) {
        std::cerr << results.error().description() << '\n';
        return 1;
    }
    corvane::printResults(std::cout, *results, corvane::BenchmarkGoals{});
    return 0;
}
