#include "app/TerminationSignals.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

namespace corvane {

namespace {

sigset_t terminationSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

void TerminationSignals::blockTerminationSignals() {
    const sigset_t set = terminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::expected<std::unique_ptr<TerminationSignals>, Error>
TerminationSignals::watch(std::function<void()> onSignal) {
    const sigset_t set = terminationSet();
    const int fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0) {
        return std::unexpected(Error(std::strerror(errno)));
    }
    return std::make_unique<TerminationSignals>(fd, std::move(onSignal));
}

TerminationSignals::TerminationSignals(int fd, std::function<void()> onSignal)
    : fd_(fd), onSignal_(std::move(onSignal)), notifier_(fd, QSocketNotifier::Read) {
    QObject::connect(&notifier_, &QSocketNotifier::activated, &notifier_, [this] { readSignal(); });
}

TerminationSignals::~TerminationSignals() {
    notifier_.setEnabled(false);
    ::close(fd_);
}

void TerminationSignals::readSignal() {
    signalfd_siginfo info{};
    bool caught = false;
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        caught = true;
    }
    if (caught) {
        onSignal_();
    }
}

} // namespace corvane
