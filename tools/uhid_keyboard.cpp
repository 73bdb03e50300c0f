// A QK750 keyboard made of software: creates a HID device through /dev/uhid and answers
// its feature reports with the firmware model, faults included (QK750_SIM_FAULTS), until
// SIGTERM. Tests the hidraw backend against a real kernel (scripts/test-kernel-hid).
//   qk750-uhid-keyboard [--memory-out=FILE] [--destroy-after=N]
// --memory-out writes the 2048-byte memory on exit; --destroy-after removes the device
// right after the Nth set-feature request.

#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "usb/sim_firmware.h"

namespace {

// One interface without report IDs: a vendor feature report of 6 data bytes (7 with the
// report ID byte) and an 8-byte input report.
const std::uint8_t kDescriptor[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                                    0x26, 0xFF, 0x00, 0x75, 0x08, 0x09, 0x02, 0x95, 0x06,
                                    0xB1, 0x02, 0x09, 0x03, 0x95, 0x08, 0x81, 0x02, 0xC0};

void send(int fd, const uhid_event& event) {
    if (::write(fd, &event, sizeof event) != static_cast<ssize_t>(sizeof event)) {
        std::cerr << "qk750-uhid-keyboard: write to /dev/uhid: " << std::strerror(errno) << '\n';
        std::exit(1);
    }
}

// True when a stop signal came while waiting for `fd`.
bool stopped(int signalFd, int fd) {
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {fd, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
    }
    return fds[0].revents != 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string memoryOut;
    int destroyAfter = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string value = arg.substr(arg.find('=') + 1);
        if (arg.starts_with("--memory-out=")) {
            memoryOut = value;
        } else if (arg.starts_with("--destroy-after=")) {
            destroyAfter = std::atoi(value.c_str());
        } else {
            std::cerr << "qk750-uhid-keyboard: unknown option " << arg << '\n';
            return 2;
        }
    }
    std::string error;
    const char* faults = std::getenv("QK750_SIM_FAULTS");
    const auto plan = qk750::parseSimFaultPlan(faults ? faults : "", &error);
    if (!plan) {
        std::cerr << "qk750-uhid-keyboard: " << error << '\n';
        return 2;
    }
    qk750::SimFirmware firmware;
    firmware.setFaultPlan(*plan);

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    const int signalFd = ::signalfd(-1, &stop, SFD_CLOEXEC);
    const int uhid = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (uhid < 0) {
        std::cerr << "qk750-uhid-keyboard: /dev/uhid: " << std::strerror(errno) << '\n';
        return 1;
    }
    uhid_event create{};
    create.type = UHID_CREATE2;
    std::strcpy(reinterpret_cast<char*>(create.u.create2.name), "QK750 POS Keyboard (uhid)");
    create.u.create2.rd_size = sizeof kDescriptor;
    create.u.create2.bus = BUS_USB;
    create.u.create2.vendor = 0xFEED;
    create.u.create2.product = 0x0750;
    std::memcpy(create.u.create2.rd_data, kDescriptor, sizeof kDescriptor);
    send(uhid, create);

    int requests = 0;
    bool exists = true;
    while (exists && !stopped(signalFd, uhid)) {
        uhid_event event{};
        if (::read(uhid, &event, sizeof event) < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            std::cerr << "qk750-uhid-keyboard: read from /dev/uhid: " << std::strerror(errno)
                      << '\n';
            return 1;
        }
        uhid_event reply{};
        // Only the feature report exists; the kernel passes the report ID byte first.
        if (event.type == UHID_SET_REPORT) {
            const uhid_set_report_req& req = event.u.set_report;
            ++requests;
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = req.id;
            const bool ok = req.rtype == UHID_FEATURE_REPORT && req.rnum == 0 &&
                            firmware.setFeature(req.data, std::min<std::size_t>(req.size, 7));
            reply.u.set_report_reply.err = ok ? 0 : EIO;
            send(uhid, reply);
            if (firmware.unplugged() || (destroyAfter > 0 && requests >= destroyAfter)) {
                uhid_event destroy{};
                destroy.type = UHID_DESTROY;
                send(uhid, destroy);
                exists = false;
                std::cout << "destroyed after " << requests << " requests" << std::endl;
            }
        } else if (event.type == UHID_GET_REPORT) {
            const uhid_get_report_req& req = event.u.get_report;
            uhid_get_report_reply_req& out = reply.u.get_report_reply;
            reply.type = UHID_GET_REPORT_REPLY;
            out.id = req.id;
            const bool ok = req.rtype == UHID_FEATURE_REPORT && req.rnum == 0 &&
                            firmware.getFeature(out.data, 7);
            out.err = ok ? 0 : EIO;
            out.size = ok ? 7 : 0;
            send(uhid, reply);
        }
    }
    ::close(uhid);  // destroys the device if it is still there
    std::cout << "requests=" << requests << std::endl;
    if (!memoryOut.empty()) {
        std::ofstream out(memoryOut, std::ios::binary);
        out.write(reinterpret_cast<const char*>(firmware.memory().data()), 2048);
        if (!out.flush()) {
            std::cerr << "qk750-uhid-keyboard: cannot write " << memoryOut << '\n';
            return 1;
        }
    }
    return 0;
}
