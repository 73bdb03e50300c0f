// A QK750 keyboard made of software for scripts/test-kernel-hid: creates a HID device
// through /dev/uhid and answers its feature reports with the firmware model until killed.
//   qk750-uhid-keyboard [MEMORY_FILE [N]]
// MEMORY_FILE holds the 2048-byte memory as each request leaves it. With N the keyboard
// answers nothing after its Nth set-feature request, as a wedged one does (the kernel
// gives up on each request after 5 s). QK750_SIM_FAULTS is the fault plan of --simulate;
// with unplug@ADDRESS the device is removed once that request is answered.

#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "usb/sim_firmware.h"

int main(int argc, char** argv) {
    // One interface without report IDs: a vendor feature report of 6 data bytes (7 with the
    // report ID byte) and an 8-byte input report.
    static const std::uint8_t descriptor[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                                              0x26, 0xFF, 0x00, 0x75, 0x08, 0x09, 0x02, 0x95, 0x06,
                                              0xB1, 0x02, 0x09, 0x03, 0x95, 0x08, 0x81, 0x02, 0xC0};
    const char* memoryFile = argc > 1 ? argv[1] : "/dev/null";
    const int wedgeAfter = argc > 2 ? std::atoi(argv[2]) : 0;
    qk750::SimFirmware firmware;
    std::string why;
    const char* plan = std::getenv("QK750_SIM_FAULTS");
    const auto faults = qk750::parseSimFaultPlan(plan ? plan : "", &why);
    if (!faults) {
        std::fprintf(stderr, "qk750-uhid-keyboard: %s\n", why.c_str());
        return 2;
    }
    firmware.setFaultPlan(*faults);
    const int uhid = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    auto check = [](bool ok) {
        if (!ok) {
            std::perror("qk750-uhid-keyboard: /dev/uhid");
            std::exit(1);
        }
    };
    check(uhid >= 0);
    auto send = [&](const uhid_event& event) {
        check(::write(uhid, &event, sizeof event) == static_cast<ssize_t>(sizeof event));
    };
    uhid_event create{};
    create.type = UHID_CREATE2;
    std::strcpy(reinterpret_cast<char*>(create.u.create2.name), "QK750 POS Keyboard (uhid)");
    create.u.create2.rd_size = sizeof descriptor;
    create.u.create2.bus = BUS_USB;
    create.u.create2.vendor = 0xFEED;
    create.u.create2.product = 0x0750;
    std::memcpy(create.u.create2.rd_data, descriptor, sizeof descriptor);
    send(create);

    // Only the feature report exists; the kernel passes the report ID byte first. A set
    // request starts as a get request does, and its reply as a get reply does. Killing the
    // process closes /dev/uhid, which removes the device.
    for (int requests = 0;;) {
        uhid_event event{}, reply{};
        check(::read(uhid, &event, sizeof event) >= 0 || errno == EINTR);
        const bool set = event.type == UHID_SET_REPORT;
        if (!set && event.type != UHID_GET_REPORT) {
            continue;
        }
        requests += set;
        if (wedgeAfter > 0 && requests > wedgeAfter) {
            continue;
        }
        const uhid_get_report_req& req = event.u.get_report;
        uhid_get_report_reply_req& out = reply.u.get_report_reply;
        const uhid_set_report_req& written = event.u.set_report;
        const bool ok = req.rtype == UHID_FEATURE_REPORT && req.rnum == 0 &&
                        (set ? firmware.setFeature(written.data, std::min<int>(written.size, 7))
                             : firmware.getFeature(out.data, 7));
        reply.type = set ? UHID_SET_REPORT_REPLY : UHID_GET_REPORT_REPLY;
        out.id = req.id;
        out.err = ok ? 0 : EIO;
        out.size = ok ? 7 : 0;
        std::ofstream(memoryFile, std::ios::binary)
            .write(reinterpret_cast<const char*>(firmware.memory().data()), 2048);
        send(reply);
        if (firmware.unplugged()) {
            reply.type = UHID_DESTROY;  // the rest of the event is ignored
            send(reply);
            return 0;
        }
    }
}
