// Waits, through the same controller, device list and event-loop watcher that batch
// mode uses, until a QK750 keyboard arrives (and, when asked, goes away again). Tells
// whether the hidraw backend's hot-plug monitor sees devices that appear after start-up.

#include <QCoreApplication>
#include <QTimer>

#include <charconv>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

#include "app/qt_event_loop.h"
#include "usb/device_list.h"
#include "usb/hid_controller.h"
#include "usb/hid_platform_linux.h"

namespace {

using namespace qk750;

const char kUsage[] =
    "Usage: qk750-hotplug-watch [--timeout-ms=MS] [--until-removed]\n"
    "Exits 0 when a QK750 keyboard arrives after start-up (and, with --until-removed,\n"
    "goes away again) within MS milliseconds (default 30000); 1 when it does not;\n"
    "3 when a keyboard is already there at start-up.\n";

}  // namespace

int main(int argc, char** argv) {
    int timeoutMs = 30000;
    bool untilRemoved = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--until-removed") {
            untilRemoved = true;
        } else if (arg.starts_with("--timeout-ms=")) {
            const std::string_view text = arg.substr(13);
            const auto [end, ec] =
                std::from_chars(text.data(), text.data() + text.size(), timeoutMs);
            if (ec != std::errc() || end != text.data() + text.size() || timeoutMs <= 0) {
                std::cerr << kUsage;
                return 2;
            }
        } else {
            std::cerr << kUsage;
            return 2;
        }
    }

    QCoreApplication app(argc, argv);
    HidPlatformLinux platform;
    if (!platform.available() || platform.notificationDescriptor() < 0) {
        std::cout << "no device-change monitor on this system" << std::endl;
        return 1;
    }
    QtUiDispatcher dispatcher;
    QtProtocolWaits waits;
    int result = 1;
    {
        HidController controller(platform, dispatcher);
        bool arrived = false;
        DeviceList::Callbacks callbacks;
        callbacks.keyboardArrived = [&](HidDevice& device, const std::string& name) {
            arrived = true;
            std::cout << "arrived: " << name << " feature=" << device.Caps().FeatureReportByteLength
                      << (LooksLikeKeyboard(device) ? " [keyboard]" : "") << std::endl;
            if (!untilRemoved) {
                result = 0;
                app.quit();
            }
        };
        callbacks.keyboardRemoved = [&](HidDevice&, const std::string& name) {
            std::cout << "removed: " << name << std::endl;
            if (arrived) {
                result = 0;
                app.quit();
            }
        };
        DeviceList devices(controller, {}, callbacks);
        PlatformNotificationWatcher watcher(platform);

        // The start-up pass: a keyboard found here proves nothing about hot-plug.
        waits.processMessages();
        if (arrived) {
            std::cout << "a keyboard is already there at start-up" << std::endl;
            return 3;
        }
        std::cout << "listening (monitor source: " << platform.monitorSource() << ")" << std::endl;

        QTimer::singleShot(timeoutMs, &app, [&] {
            std::cout << "timed out after " << timeoutMs << " ms" << std::endl;
            result = 1;
            app.quit();
        });
        app.exec();
    }
    return result;
}
