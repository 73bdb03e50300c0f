// A QK750 keyboard made of software: creates a HID device through /dev/uhid and
// answers its feature reports with the firmware model, faults included
// (QK750_SIM_FAULTS). Used to test the hidraw backend against a real kernel.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "uhid_keyboard/uhid_keyboard.h"

namespace {

using namespace qk750;

struct Options {
    UhidKeyboard::Identity identity;
    std::string memoryOut;
    int destroyAfter = 0;   // 0: never
    int createDelayMs = 0;  // wait this long before the device appears
};

const char kUsage[] =
    "Usage: qk750-uhid-keyboard [--name=TEXT] [--memory-out=FILE] [--destroy-after=N]\n"
    "                           [--create-delay-ms=MS]\n"
    "Creates an emulated QK750 keyboard through /dev/uhid until SIGTERM or SIGINT.\n"
    "  --memory-out=FILE     write the keyboard's 2048-byte memory to FILE on exit\n"
    "  --destroy-after=N     remove the device right after the Nth set-feature request\n"
    "  --create-delay-ms=MS  create the device only MS milliseconds after start-up\n"
    "Faults come from QK750_SIM_FAULTS, as for the simulated keyboard.\n";

bool parseCount(std::string_view text, int& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&arg](std::string_view prefix) { return arg.substr(prefix.size()); };
        if (arg.starts_with("--name=") && arg.size() > 7) {
            options.identity.name = std::string(value("--name="));
        } else if (arg.starts_with("--memory-out=") && arg.size() > 13) {
            options.memoryOut = std::string(value("--memory-out="));
        } else if (arg.starts_with("--destroy-after=")) {
            if (!parseCount(value("--destroy-after="), options.destroyAfter)) {
                return false;
            }
        } else if (arg.starts_with("--create-delay-ms=")) {
            if (!parseCount(value("--create-delay-ms="), options.createDelayMs)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

bool writeEvent(int fd, const uhid_event& event) {
    const ssize_t n = ::write(fd, &event, sizeof event);
    if (n != static_cast<ssize_t>(sizeof event)) {
        std::cerr << "qk750-uhid-keyboard: write to /dev/uhid failed: "
                  << (n < 0 ? std::strerror(errno) : "short write") << '\n';
        return false;
    }
    return true;
}

bool saveMemory(const std::string& path, const SimFirmware& firmware) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::cerr << "qk750-uhid-keyboard: cannot write " << path << ": " << std::strerror(errno)
                  << '\n';
        return false;
    }
    const auto& memory = firmware.memory();
    const bool written = std::fwrite(memory.data(), 1, memory.size(), file) == memory.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::cerr << "qk750-uhid-keyboard: cannot write " << path << '\n';
        return false;
    }
    return true;
}

// True when a stop signal arrived within timeoutMs (-1: wait for ever) while waiting for
// `fd` to become readable (-1: no descriptor).
bool waitFor(int fd, int signalFd, int timeoutMs, bool& readable) {
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {fd, POLLIN, 0}};
    readable = false;
    for (;;) {
        const int ready = ::poll(fds, fd >= 0 ? 2 : 1, timeoutMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready > 0 && fds[0].revents != 0) {
            return true;
        }
        readable = ready > 0 && (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
        std::cout << kUsage;
        return 0;
    }
    if (!parseOptions(argc, argv, options)) {
        std::cerr << kUsage;
        return 2;
    }
    std::string error;
    const char* faultText = std::getenv("QK750_SIM_FAULTS");
    const auto plan = parseSimFaultPlan(faultText ? faultText : "", &error);
    if (!plan) {
        std::cerr << "qk750-uhid-keyboard: " << error << '\n';
        return 2;
    }

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signalFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::cerr << "qk750-uhid-keyboard: signalfd: " << std::strerror(errno) << '\n';
        return 1;
    }

    SimFirmware firmware;
    firmware.setFaultPlan(*plan);
    UhidKeyboard keyboard(firmware);

    bool readable = false;
    bool stopped =
        options.createDelayMs > 0 && waitFor(-1, signalFd, options.createDelayMs, readable);
    int uhid = -1;
    int status = 0;
    if (!stopped) {
        uhid = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
        if (uhid < 0) {
            std::cerr << "qk750-uhid-keyboard: cannot open /dev/uhid: " << std::strerror(errno)
                      << '\n';
            return 1;
        }
        if (!writeEvent(uhid, UhidKeyboard::createRequest(options.identity))) {
            return 1;
        }
        std::cout << "created \"" << options.identity.name << "\"" << std::endl;
    }

    bool exists = uhid >= 0;
    while (exists && !stopped) {
        stopped = waitFor(uhid, signalFd, -1, readable);
        if (stopped || !readable) {
            continue;
        }
        uhid_event event{};
        const ssize_t n = ::read(uhid, &event, sizeof event);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            std::cerr << "qk750-uhid-keyboard: read from /dev/uhid failed: " << std::strerror(errno)
                      << '\n';
            status = 1;
            break;
        }
        const bool wasStarted = keyboard.started();
        const std::optional<uhid_event> reply = keyboard.handle(event);
        if (keyboard.started() && !wasStarted) {
            std::cout << "started" << std::endl;
        }
        if (reply && !writeEvent(uhid, *reply)) {
            status = 1;
            break;
        }
        const bool removeNow =
            keyboard.unplugged() ||
            (options.destroyAfter > 0 && keyboard.requests() >= options.destroyAfter);
        if (event.type == UHID_SET_REPORT && removeNow) {
            uhid_event destroy{};
            destroy.type = UHID_DESTROY;
            writeEvent(uhid, destroy);
            exists = false;
            std::cout << "destroyed after " << keyboard.requests() << " requests" << std::endl;
        }
    }
    if (uhid >= 0) {
        ::close(uhid);  // destroys the device if it is still there
    }
    std::cout << "requests=" << keyboard.requests() << std::endl;
    if (!options.memoryOut.empty() && !saveMemory(options.memoryOut, firmware)) {
        status = 1;
    }
    return status;
}
