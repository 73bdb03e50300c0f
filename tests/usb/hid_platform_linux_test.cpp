// The hidraw backend against nodes umockdev emulates (sysfs, uevents, and the nodes' ioctls
// and reads, answered below): what a real kernel cannot easily be made to do. The build runs
// it under umockdev-wrapper.

#include "usb/hid_platform_linux.h"

#include "app/roll_out.h"
#include "common/temp_dir.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

// libudev contexts are not thread-safe (their reference counts are not atomic): the
// backend's calls come here first, and uses of a context off its maker's thread are counted.
namespace {
std::mutex g_udevMutex;
std::map<const udev*, std::thread::id> g_udevMaker;
int g_foreignUdevUses = 0;

udev* noteUse(udev* context, bool made = false) {
    std::lock_guard lock(g_udevMutex);
    std::thread::id& maker = g_udevMaker[context];  // every context comes from udev_new()
    maker = made ? std::this_thread::get_id() : maker;
    g_foreignUdevUses += maker != std::this_thread::get_id();
    return context;
}

template <typename... A>
udev* next(const char* name, A... context) {
    return reinterpret_cast<udev* (*)(A...)>(dlsym(RTLD_NEXT, name))(context...);
}
}  // namespace

extern "C" {
udev* udev_new() {
    return noteUse(next("udev_new"), true);
}
udev* udev_ref(udev* context) {
    return next("udev_ref", noteUse(context));
}
udev* udev_unref(udev* context) {
    return next("udev_unref", noteUse(context));
}
}

namespace qk750 {

namespace {

using Bytes = std::vector<std::uint8_t>;

// One emulated node and the device above it; without usbProduct it hangs off a non-USB bus.
struct Node {
    hidraw_devinfo info;
    Bytes descriptor;
    Bytes input;  // one input report, as hidraw delivers it; empty: the device is gone
    const char* usbProduct;
    const char* hidName;
    int readsAgain = 0;  // reads that find nothing yet (EAGAIN)
    unsigned long lastRequest = 0;
    std::string hidSyspath{}, syspath{};
    SimFirmware* firmware = nullptr;  // answers feature reports as the keyboard does
};

gboolean handleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer node) {
    Node& dev = *static_cast<Node*>(node);
    const unsigned long request = dev.lastRequest = umockdev_ioctl_client_get_request(client);
    const int size = static_cast<int>(dev.descriptor.size());
    std::uint8_t* data = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                     _IOC_SIZE(request), nullptr)
                             ->data;
    int error = 0;
    if (request == HIDIOCGRAWINFO) {
        std::memcpy(data, &dev.info, sizeof dev.info);
    } else if (request == HIDIOCGRDESCSIZE) {
        std::memcpy(data, &size, sizeof size);
    } else if (request == HIDIOCGRDESC) {
        std::copy(dev.descriptor.begin(), dev.descriptor.end(), data + sizeof(__u32));
    } else if (dev.firmware && (request == HIDIOCSFEATURE(7) || request == HIDIOCGFEATURE(7))) {
        const bool ok = request == HIDIOCSFEATURE(7) ? dev.firmware->setFeature(data, 7)
                                                     : dev.firmware->getFeature(data, 7);
        umockdev_ioctl_client_complete(client, ok ? 7 : -1, ok ? 0 : EIO);
        return TRUE;
    } else {
        error = ENOTTY;  // feature transfers among them: they fail
    }
    umockdev_ioctl_client_complete(client, error ? -1 : 0, error);
    return TRUE;
}

gboolean handleRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer node) {
    Node& dev = *static_cast<Node*>(node);
    UMockdevIoctlData* d = umockdev_ioctl_client_get_arg(client);
    const long n = dev.readsAgain-- > 0 ? -1 : std::min<long>(d->data_len, dev.input.size());
    std::copy_n(dev.input.begin(), std::max(n, 0L), d->data);
    umockdev_ioctl_client_complete(client, n, n < 0 ? EAGAIN : 0);
    return TRUE;
}

class EmulatedHidraw : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("LD_PRELOAD")) {
            GTEST_SKIP() << "run under umockdev-wrapper (Debian package umockdev)";
        }
        m_testbed = umockdev_testbed_new();
        m_objects.push_back(m_testbed);
        for (int n = 0; n < 3; ++n) {
            addHidraw(n, nodes[n]);
        }
    }

    void TearDown() override {
        for (gpointer object : m_objects) {
            g_object_unref(object);
        }
    }

    // /dev/hidraw<n> under a HID device.
    void addHidraw(int n, Node& node) {
        auto add = [this](const char* subsystem, const std::string& name, const std::string& parent,
                          auto... attributesThenProperties) {
            gchar* syspath = umockdev_testbed_add_device(m_testbed, subsystem, name.c_str(),
                                                         parent.empty() ? nullptr : parent.c_str(),
                                                         attributesThenProperties..., nullptr);
            std::string result = syspath;
            g_free(syspath);
            return result;
        };
        const std::string number = std::to_string(n), path = "/dev/hidraw" + number;
        const std::string parent = node.usbProduct
                                       ? add("usb", "1-" + number, "", "idVendor", "0fe6",
                                             "idProduct", "8101", "bcdDevice", "0217", "product",
                                             node.usbProduct, nullptr, "DEVTYPE", "usb_device")
                                       : add("i2c", "i2c-" + number, "", nullptr);
        node.hidSyspath =
            add("hid", "0003:0FE6:8101.000" + number, parent, nullptr, "HID_NAME", node.hidName);
        node.syspath =
            add("hidraw", "hidraw" + number, node.hidSyspath, "dev", ("240:" + number).c_str(),
                nullptr, "DEVNAME", path.c_str(), "MAJOR", "240", "MINOR", number.c_str());
        // The testbed records the node's numbers; the file is ours to make.
        gchar* root = umockdev_testbed_get_root_dir(m_testbed);
        ::close(::open((root + path).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666));
        g_free(root);
        UMockdevIoctlBase* base = umockdev_ioctl_base_new();
        m_objects.push_back(base);
        g_signal_connect(base, "handle-ioctl", G_CALLBACK(handleIoctl), &node);
        g_signal_connect(base, "handle-read", G_CALLBACK(handleRead), &node);
        EXPECT_TRUE(umockdev_testbed_attach_ioctl(m_testbed, path.c_str(), base, nullptr));
    }

    UMockdevTestbed* m_testbed = nullptr;
    std::vector<gpointer> m_objects;
    // The keyboard on USB (no report IDs: 8 input bytes, 6 feature bytes), a touch panel off
    // a non-USB bus (report ID 5, 3 input bytes), a device whose descriptor is cut short.
    Node nodes[3] = {
        {{3, 0x0FE6, static_cast<__s16>(0x8101)},
         {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
          0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0x95, 0x06, 0x09, 0x02, 0xB1, 0x02, 0xC0},
         {0x11, 0x22, 0x33},
         "ZQ QK750 USB Keyboard",
         "ZQ QK750 (HID name)"},
        {{0x18, 0x1234, static_cast<__s16>(0xABCD)},
         {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x05, 0x75, 0x08, 0x95, 0x03, 0x81, 0x02,
          0xC0},
         {0x05, 0x44, 0x55, 0x66},
         nullptr,
         "Touch Panel \xC3\xA9\xF4\x8F\xBF\xBF"},
        {{}, {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x95, 0x06, 0xB1}, {}, nullptr, "Broken"},
    };
};

// Identity and queries of every node; handles made and used on this thread and on another
// (as the reader thread does) share no udev context.
TEST_F(EmulatedHidraw, EnumerationQueriesReadsAndHotPlug) {
    ::setenv("QK750_UDEV_SOURCE", "udev", 1);
    HidPlatformLinux platform;
    ::unsetenv("QK750_UDEV_SOURCE");
    ASSERT_EQ(platform.monitorSource(), "udev");
    std::vector<std::pair<std::string, std::string>> found, expected;
    for (const HidInterfaceInfo& f : platform.enumerate()) {
        found.emplace_back(f.instanceId, f.path);
    }
    const std::tuple<int, int, std::u16string, int> rows[] = {
        {0x8101, 0x0217, u"ZQ QK750 USB Keyboard", 709},
        {0xABCD, 0, u"Touch Panel \u00E9\U0010FFFF", 4},  // the highest code point too
        {0, 0, u"Broken", -EBADMSG},
    };
    for (int n = 0; n < 3; ++n) {
        expected.emplace_back(nodes[n].hidSyspath, "/dev/hidraw" + std::to_string(n));
        std::tuple<int, int, std::u16string, int> seen;
        auto query = [&] {
            std::uint32_t error = 1;
            auto handle = platform.open(expected[n].second, HidOpenMode::ReadWrite, &error);
            ASSERT_TRUE(handle && error == 0);
            HidAttributes a;
            HidCaps c;
            std::u16string product;
            EXPECT_TRUE(handle->getAttributes(a) && handle->getProductString(product));
            const int caps = handle->getCaps(c)
                                 ? c.FeatureReportByteLength * 100 + c.InputReportByteLength
                                 : -static_cast<int>(handle->lastError());
            seen = {a.ProductID, a.VersionNumber, product, caps};
            EXPECT_FALSE(handle->setFeature(nodes[n].descriptor.data(), 7));
            EXPECT_EQ(handle->lastError(), static_cast<std::uint32_t>(ENOTTY));
            EXPECT_FALSE(handle->getFeature(nodes[n].descriptor.data(), 7));
            EXPECT_EQ(nodes[n].lastRequest, HIDIOCGFEATURE(7));  // the report ID and 6 bytes
        };
        query();
        std::thread(query).join();
        EXPECT_EQ(seen, rows[n]);
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected);
    EXPECT_EQ(g_foreignUdevUses, 0);

    std::uint32_t error = 0;
    EXPECT_EQ(platform.open("/dev/qk750-no-such-node", HidOpenMode::ReadWrite, &error), nullptr);
    EXPECT_EQ(error, static_cast<std::uint32_t>(ENOENT));
    EXPECT_EQ(platform.errorText(ENOENT), std::strerror(ENOENT));

    // Reads: the report ID is put first; a read that finds nothing yet waits for the next
    // report; a cancel that comes before the wait still ends it; a read of nothing means the
    // device is gone.
    nodes[0].readsAgain = 2;
    const std::pair<const char*, Bytes> cases[] = {
        {"/dev/hidraw0", {0x00, 0x11, 0x22, 0x33}},  // no report IDs: 0 is put first
        {"/dev/hidraw1", nodes[1].input},            // already there
    };
    std::uint8_t buffer[9];
    std::unique_ptr<HidHandle> handle;
    auto read = [&](std::size_t length, int timeoutMs) {
        const HidReadResult r = handle->readInput(buffer, length, timeoutMs);
        return std::pair(r.status, Bytes(buffer, buffer + std::min(r.bytes, sizeof buffer)));
    };
    for (const auto& [path, report] : cases) {
        handle = platform.open(path, HidOpenMode::OverlappedRead);
        EXPECT_EQ(read(sizeof buffer, 60000), std::pair(HidReadStatus::Data, report));
        handle->cancelRead();
        EXPECT_EQ(read(sizeof buffer, -1), std::pair(HidReadStatus::Timeout, Bytes()));
        EXPECT_EQ(read(0, 0).first, HidReadStatus::Error);
    }
    nodes[1].input.clear();
    EXPECT_EQ(read(sizeof buffer, 60000), std::pair(HidReadStatus::Error, Bytes()));
    EXPECT_EQ(handle->lastError(), static_cast<std::uint32_t>(ENODEV));

    // Hot-plug (seen end to end by scripts/test-kernel-hid): an override names one of the
    // two sources; anything else follows the udev daemon.
    EXPECT_EQ(HidPlatformLinux::chooseMonitorSource("kernel", true), "kernel");
    EXPECT_EQ(HidPlatformLinux::chooseMonitorSource("udev", false), "udev");
    EXPECT_EQ(HidPlatformLinux::chooseMonitorSource("bogus", true), "udev");
    EXPECT_EQ(HidPlatformLinux::chooseMonitorSource(nullptr, false), "kernel");
}

// A roll-out over hidraw: the keyboard there at the start is the first; the udev monitor
// tells of its removal and of the next one's arrival, and each is programmed through its
// own node.
TEST_F(EmulatedHidraw, RollOutFollowsTheUdevMonitor) {
    ::setenv("QK750_UDEV_SOURCE", "udev", 1);
    HidPlatformLinux platform;
    ::unsetenv("QK750_UDEV_SOURCE");
    QueueDispatcher dispatcher;
    HidController controller(platform, dispatcher);
    DeviceList devices(controller, {});
    // No real time passes: each wait hands over what the monitor has, a bounded number of times.
    struct Waits : ProtocolWaits, ProtocolReporter {
        Waits(HidPlatformLinux& p, QueueDispatcher& d) : platform(p), dispatcher(d) {}
        HidPlatformLinux& platform;
        QueueDispatcher& dispatcher;
        ProgramState state;
        int waits = 0;
        void pumpedWait(int, const bool*) override {
            processMessages();
            state.Globals.StopWaiting = ++waits > 200000;
        }
        void processMessages() override {
            pollfd pfd{platform.notificationDescriptor(), POLLIN, 0};
            ::poll(&pfd, 1, 0) == 1 ? platform.processNotifications() : void();
            dispatcher.processPending();
        }
        void failure(std::string_view, std::string_view, std::string_view) override {}
        bool askToConnect(std::string_view) override { return false; }
        void progressStart(int) override {}
        void progressStep(int, int) override {}
        void progressHide() override {}
    } waits(platform, dispatcher);
    test::TempDir dir;
    ProgramState& state = waits.state;
    state.SetupFileName = dir.path("shop.ini");
    state.BatchMode = true;
    state.Setup.KeyStrings[1] = "Coffee<Enter>";
    DeviceImage image{};
    ASSERT_TRUE(BuildDeviceImage(state.Setup, image).ok());
    SimFirmware first, second;
    Node next = nodes[0];
    nodes[0].firmware = &first;
    next.firmware = &second;
    nodes[0].readsAgain = next.readsAgain = 1 << 30;
    dispatcher.processPending();  // the start-up pass
    std::vector<std::string> codes;
    RollOutEvents events;
    events.unplugKeyboard = [&](int) {
        umockdev_testbed_uevent(m_testbed, nodes[0].syspath.c_str(), "remove");
        umockdev_testbed_remove_device(m_testbed, nodes[0].syspath.c_str());
    };
    events.nextKeyboard = [&](int number) {
        if (number == 2) {
            addHidraw(3, next);
            umockdev_testbed_uevent(m_testbed, next.syspath.c_str(), "add");
        }
    };
    events.reported = [&](const KeyboardOutcome& o, bool) { codes.push_back(o.code); };
    const RollOutResult result = RollOut(state, devices, waits, waits, waits, {}, events).run(2);
    EXPECT_EQ(codes, (std::vector<std::string>{"OK", "OK"}));
    EXPECT_EQ(result.exitCode(), 0);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), first.memory().begin()));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), second.memory().begin()));
}

}  // namespace
}  // namespace qk750
