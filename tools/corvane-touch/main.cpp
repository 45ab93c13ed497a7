// A command-line phone: pairs with a receiver over TCP, prints its replies and turns typed lines
// into protocol messages. For testing receivers and for trying one out without a phone.

#include "PhoneCommand.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {
namespace {

constexpr std::string_view usageText =
    "usage: corvane-touch HOST PORT [--code CODE] [--client-id UUID] [--token TOKEN] "
    "[--linger MS]\n"
    "Reads commands from standard input, one a line: move DX DY, scroll DX DY, click, "
    "rightClick,\nmiddleClick, down, up, zoom V, navigate V, key NAME, modifiers MASK.\n";

struct Options {
    std::string host;
    std::string port;
    std::optional<std::string> code;
    std::optional<std::string> clientID;
    std::optional<std::string> token;
    // How long replies are still awaited once standard input has ended.
    int lingerMs = 1000;
};

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--code" && hasValue) {
            options.code = argv[++i];
        } else if (arg == "--client-id" && hasValue) {
            options.clientID = argv[++i];
        } else if (arg == "--token" && hasValue) {
            options.token = argv[++i];
        } else if (arg == "--linger" && hasValue) {
            options.lingerMs = std::stoi(argv[++i]);
        } else if (!arg.starts_with("--") && positional == 0) {
            options.host = arg;
            ++positional;
        } else if (!arg.starts_with("--") && positional == 1) {
            options.port = arg;
            ++positional;
        } else {
            return std::nullopt;
        }
    }
    if (positional != 2) {
        return std::nullopt;
    }
    return options;
}

int connectTo(const Options& options) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int status = getaddrinfo(options.host.c_str(), options.port.c_str(), &hints, &found);
        status != 0) {
        std::cerr << "corvane-touch: " << options.host << ": " << gai_strerror(status) << "\n";
        return -1;
    }
    int fd = -1;
    int lastError = 0;
    for (addrinfo* candidate = found; candidate != nullptr && fd < 0;
         candidate = candidate->ai_next) {
        fd = socket(candidate->ai_family, candidate->ai_socktype | SOCK_CLOEXEC,
                    candidate->ai_protocol);
        if (fd >= 0 && connect(fd, candidate->ai_addr, candidate->ai_addrlen) != 0) {
            lastError = errno;
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) {
        std::cerr << "corvane-touch: cannot connect: " << std::strerror(lastError) << "\n";
    }
    return fd;
}

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool sendMessage(int fd, const TouchMessage& message) {
    const auto line = message.line();
    if (!line) {
        std::cerr << "corvane-touch: message cannot be encoded\n";
        return true;
    }
    return sendAll(fd, *line);
}

// Splits `buffer` at line feeds, handing each complete line to `handle`.
template<typename Handle>
void takeLines(std::string& buffer, Handle handle) {
    std::size_t end = 0;
    while ((end = buffer.find('\n')) != std::string::npos) {
        handle(std::string_view(buffer).substr(0, end));
        buffer.erase(0, end + 1);
    }
}

class Session {
public:
    Session(int socket, int lingerMs) : socket_(socket), lingerMs_(lingerMs) {}

    int run() {
        while (true) {
            pollfd fds[2] = {{socket_, POLLIN, 0}, {inputOpen_ ? 0 : -1, POLLIN, 0}};
            const int timeout = inputOpen_ ? -1 : remainingLinger();
            if (!inputOpen_ && timeout == 0) {
                return 0;
            }
            if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
                return 1;
            }
            if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !readSocket()) {
                return 0;
            }
            if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !readInput()) {
                return 1;
            }
        }
    }

private:
    int remainingLinger() const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            lingerUntil_ - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<long long>(left.count(), 0));
    }

    // False once the receiver has closed the connection.
    bool readSocket() {
        char chunk[4096];
        const ssize_t count = recv(socket_, chunk, sizeof chunk, 0);
        if (count < 0 && errno == EINTR) {
            return true;
        }
        if (count <= 0) {
            if (!fromReceiver_.empty()) {
                std::cout << fromReceiver_ << std::endl;
            }
            std::cerr << "corvane-touch: connection closed by the receiver\n";
            return false;
        }
        fromReceiver_.append(chunk, static_cast<std::size_t>(count));
        takeLines(fromReceiver_, [](std::string_view line) { std::cout << line << std::endl; });
        return true;
    }

    // False when a message could not be sent.
    bool readInput() {
        char chunk[4096];
        const ssize_t count = read(0, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            return true;
        }
        if (count <= 0) {
            inputOpen_ = false;
            lingerUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(lingerMs_);
            if (!fromUser_.empty()) {
                fromUser_ += '\n';
            }
        } else {
            fromUser_.append(chunk, static_cast<std::size_t>(count));
        }
        bool sent = true;
        takeLines(fromUser_,
                  [this, &sent](std::string_view line) { sent = sent && sendCommand(line); });
        return sent;
    }

    bool sendCommand(std::string_view line) {
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) {
            return true;
        }
        const auto message = parsePhoneCommand(line);
        if (!message) {
            std::cerr << "corvane-touch: " << message.error().description() << "\n";
            return true;
        }
        if (!sendMessage(socket_, *message)) {
            std::cerr << "corvane-touch: send failed: " << std::strerror(errno) << "\n";
            return false;
        }
        return true;
    }

    int socket_;
    int lingerMs_;
    bool inputOpen_ = true;
    std::chrono::steady_clock::time_point lingerUntil_;
    std::string fromReceiver_;
    std::string fromUser_;
};

} // namespace
} // namespace corvane

int main(int argc, char** argv) {
    using namespace corvane;
    const auto options = parseOptions(argc, argv);
    if (!options) {
        std::cerr << usageText;
        return 2;
    }
    const int socket = connectTo(*options);
    if (socket < 0) {
        return 1;
    }
    TouchMessage hello;
    hello.kind = TouchMessage::Kind::hello;
    hello.code = options->code;
    hello.clientID = options->clientID;
    hello.token = options->token;
    if (!sendMessage(socket, hello)) {
        std::cerr << "corvane-touch: send failed: " << std::strerror(errno) << "\n";
        return 1;
    }
    const int status = Session(socket, options->lingerMs).run();
    close(socket);
    return status;
}
