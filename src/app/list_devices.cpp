#include "app/list_devices.h"

#include <ostream>

#include "usb/device_list.h"
#include "usb/hid_platform_sim.h"
#include "usb/hid_platform_system.h"

namespace qk750 {

int runListDevices(bool simulate, const std::string& memoryFile, bool trace, std::ostream& out,
                   std::ostream& err) {
    if (!simulate) {
        std::unique_ptr<HidPlatform> platform = CreateSystemHidPlatform();
        ListDevices(*platform, trace, out, err);
        return 0;
    }
    std::string error;
    std::unique_ptr<HidPlatformSim> platform = CreateSimulatedHidPlatform(memoryFile, &error);
    if (!platform) {
        err << "qk750setup: " << error << '\n';
        return 2;
    }
    ListDevices(*platform, trace, out, err);
    if (!platform->saveMemoryFile(&error)) {
        err << "qk750setup: " << error << '\n';
        return 2;
    }
    return 0;
}

}  // namespace qk750
