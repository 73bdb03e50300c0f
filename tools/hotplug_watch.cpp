// Waits, through the same controller, device list and event-loop watcher that batch mode
// uses, until a QK750 keyboard arrives after start-up (and, with --until-removed, goes
// away again): tells whether the hidraw backend's hot-plug monitor sees new devices.
//   qk750-hotplug-watch [--timeout-ms=MS] [--until-removed]
// Exits 0 when it does within MS milliseconds (default 30000), 1 when it does not, 3 when
// a keyboard is there at start-up.

#include <QCoreApplication>
#include <QTimer>

#include <iostream>
#include <string>

#include "app/qt_event_loop.h"
#include "usb/HidControllerClass.h"
#include "usb/device_list.h"
#include "usb/hid_platform_linux.h"

using namespace qk750;

int main(int argc, char** argv) {
    int timeoutMs = 30000;
    bool untilRemoved = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--until-removed") {
            untilRemoved = true;
        } else if (arg.starts_with("--timeout-ms=")) {
            timeoutMs = std::stoi(arg.substr(13));
        } else {
            std::cerr << "qk750-hotplug-watch: unknown option " << arg << '\n';
            return 2;
        }
    }
    QCoreApplication app(argc, argv);
    HidPlatformLinux platform;
    QtUiDispatcher dispatcher;
    QtProtocolWaits waits;
    THidDeviceController controller(platform, dispatcher);
    bool arrived = false;
    DeviceList::Callbacks callbacks;
    callbacks.keyboardArrived = [&](THidDevice& device, const std::string& name) {
        arrived = true;
        std::cout << "arrived: " << name << " feature=" << device.Caps().FeatureReportByteLength
                  << (LooksLikeKeyboard(device) ? " [keyboard]" : "") << std::endl;
        if (!untilRemoved) {
            app.exit(0);
        }
    };
    callbacks.keyboardRemoved = [&](THidDevice&, const std::string& name) {
        std::cout << "removed: " << name << std::endl;
        if (arrived) {
            app.exit(0);
        }
    };
    DeviceList devices(controller, {}, callbacks);
    PlatformNotificationWatcher watcher(platform);
    waits.processMessages();  // the start-up pass: a keyboard found here proves nothing
    if (arrived) {
        std::cout << "a keyboard is already there at start-up" << std::endl;
        return 3;
    }
    std::cout << "listening (monitor source: " << platform.monitorSource() << ")" << std::endl;
    QTimer::singleShot(timeoutMs, &app, [&] {
        std::cout << "timed out after " << timeoutMs << " ms" << std::endl;
        app.exit(1);
    });
    return app.exec();
}
