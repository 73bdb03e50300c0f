// A QK750 keyboard made of software for scripts/test-kernel-hid: creates a HID device
// through /dev/uhid and answers its feature reports with the firmware model until killed.
//   qk750-uhid-keyboard [--memory-out=FILE] [--destroy-after=N]
// --memory-out keeps FILE holding the 2048-byte memory as each write request leaves it;
// --destroy-after removes the device right after the Nth set-feature request.

#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
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

void send(int fd, const uhid_event& event, const char* what = "write to /dev/uhid") {
    if (fd < 0 || ::write(fd, &event, sizeof event) != static_cast<ssize_t>(sizeof event)) {
        std::cerr << "qk750-uhid-keyboard: " << what << ": " << std::strerror(errno) << '\n';
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string memoryOut;
    int destroyAfter = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.starts_with("--memory-out=")) {
            memoryOut = arg.substr(13);
        } else if (arg.starts_with("--destroy-after=")) {
            destroyAfter = std::atoi(arg.c_str() + 16);
        } else {
            std::cerr << "qk750-uhid-keyboard: unknown option " << arg << '\n';
            return 2;
        }
    }
    qk750::SimFirmware firmware;
    const int uhid = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    uhid_event create{};
    create.type = UHID_CREATE2;
    std::strcpy(reinterpret_cast<char*>(create.u.create2.name), "QK750 POS Keyboard (uhid)");
    create.u.create2.rd_size = sizeof kDescriptor;
    create.u.create2.bus = BUS_USB;
    create.u.create2.vendor = 0xFEED;
    create.u.create2.product = 0x0750;
    std::memcpy(create.u.create2.rd_data, kDescriptor, sizeof kDescriptor);
    send(uhid, create, "/dev/uhid");

    // Only the feature report exists; the kernel passes the report ID byte first. Killing
    // the process closes /dev/uhid, which removes the device.
    for (int requests = 0;;) {
        uhid_event event{}, reply{};
        if (::read(uhid, &event, sizeof event) < 0 && errno != EINTR && errno != EAGAIN) {
            send(-1, event, "read from /dev/uhid");
        }
        if (event.type == UHID_SET_REPORT) {
            const uhid_set_report_req& req = event.u.set_report;
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = req.id;
            const bool ok = req.rtype == UHID_FEATURE_REPORT && req.rnum == 0 &&
                            firmware.setFeature(req.data, std::min<std::size_t>(req.size, 7));
            reply.u.set_report_reply.err = ok ? 0 : EIO;
            if (!memoryOut.empty()) {
                std::ofstream(memoryOut, std::ios::binary)
                    .write(reinterpret_cast<const char*>(firmware.memory().data()), 2048);
            }
            send(uhid, reply);
            if (++requests == destroyAfter) {
                uhid_event destroy{};
                destroy.type = UHID_DESTROY;
                send(uhid, destroy);
                std::cout << "destroyed after " << requests << " requests" << std::endl;
                return 0;
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
}
