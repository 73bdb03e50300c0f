// The hidraw backend against devices umockdev emulates: it fakes sysfs, the device nodes
// (their ioctls and reads are answered by the handlers below) and uevents. It works only
// under its preload library, so the program runs itself again under umockdev-wrapper;
// without umockdev the emulated tests are skipped.

#include "usb/hid_platform_linux.h"

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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

// libudev objects are not thread-safe and their reference counts are not atomic: a context
// may be used only on the thread that made it. The backend's calls of these three come here
// first (the executable's definitions come before libudev's), and uses of a context on a
// thread other than its maker's are counted.
namespace {
std::mutex g_udevMutex;
std::map<const udev*, std::thread::id> g_udevMaker;
int g_foreignUdevUses = 0;

template <typename F>
F libudev(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void noteUse(const udev* context) {
    std::lock_guard lock(g_udevMutex);
    const auto maker = g_udevMaker.find(context);
    g_foreignUdevUses += maker != g_udevMaker.end() && maker->second != std::this_thread::get_id();
}
}  // namespace

extern "C" {
udev* udev_new() {
    udev* context = libudev<udev* (*)()>("udev_new")();
    std::lock_guard lock(g_udevMutex);
    g_udevMaker[context] = std::this_thread::get_id();
    return context;
}
udev* udev_ref(udev* context) {
    noteUse(context);
    return libudev<udev* (*)(udev*)>("udev_ref")(context);
}
udev* udev_unref(udev* context) {
    noteUse(context);
    return libudev<udev* (*)(udev*)>("udev_unref")(context);
}
}

namespace qk750 {

bool underUmockdev() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(HidPlatformLinux, OpenFailureGivesErrnoAndNoHandle) {
    HidPlatformLinux platform;
    ASSERT_TRUE(platform.available());
    std::uint32_t error = 0;
    EXPECT_EQ(platform.open("/dev/qk750-no-such-node", HidOpenMode::ReadWrite, &error), nullptr);
    EXPECT_EQ(error, static_cast<std::uint32_t>(ENOENT));
    EXPECT_EQ(platform.errorText(ENOENT), std::strerror(ENOENT));
    // An override names one of the two sources; anything else follows the udev daemon.
    EXPECT_EQ(HidPlatformLinux::chooseMonitorSource("kernel", true), "kernel");
    EXPECT_EQ(HidPlatformLinux::chooseMonitorSource("bogus", true), "udev");
    EXPECT_EQ(HidPlatformLinux::chooseMonitorSource(nullptr, false), "kernel");
}

// The reader thread opens, uses and closes its own handle while the user-interface thread
// goes on with the platform.
TEST(HidPlatformLinux, HandlesOnAnotherThreadLeaveThePlatformsUdevContextAlone) {
    HidPlatformLinux platform;
    const std::string path = testing::TempDir() + "qk750-udev-thread";
    std::ofstream(path) << "x";
    std::thread reader([&] {
        std::unique_ptr<HidHandle> handle = platform.open(path, HidOpenMode::ReadWrite, nullptr);
        ASSERT_NE(handle, nullptr);
        std::u16string product;
        handle->getProductString(product);
    });
    reader.join();
    std::remove(path.c_str());
    EXPECT_EQ(g_foreignUdevUses, 0);
}

// One emulated hidraw node: what its ioctls answer and what they were given.
struct FakeHidraw {
    std::mutex mutex;
    hidraw_devinfo info{};
    Bytes descriptor;
    Bytes featureReply;  // byte 0 = report ID
    Bytes lastGetRequest;
    Bytes lastSetFeature;
    Bytes inputReport;  // as hidraw delivers it
    bool failFeatures = false;
    int readsAgain = 0;  // reads that find nothing yet (EAGAIN)
};

gboolean handleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer userData) {
    auto* dev = static_cast<FakeHidraw*>(userData);
    std::lock_guard lock(dev->mutex);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    const unsigned size = _IOC_SIZE(request);
    const unsigned nr = _IOC_NR(request);
    auto complete = [client](long result, int error) {
        umockdev_ioctl_client_complete(client, result, error);
        return TRUE;
    };
    if (_IOC_TYPE(request) != 'H') {
        return complete(-1, ENOTTY);
    }
    std::uint8_t* data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, nullptr)->data;
    const int descriptorSize = static_cast<int>(dev->descriptor.size());
    if (nr == _IOC_NR(HIDIOCGRAWINFO)) {
        std::memcpy(data, &dev->info, sizeof dev->info);
    } else if (nr == _IOC_NR(HIDIOCGRDESCSIZE)) {
        std::memcpy(data, &descriptorSize, sizeof descriptorSize);
    } else if (nr == _IOC_NR(HIDIOCGRDESC)) {
        std::memcpy(data + offsetof(hidraw_report_descriptor, value), dev->descriptor.data(),
                    dev->descriptor.size());
    } else if (nr == 0x06 || nr == 0x07) {  // HIDIOCSFEATURE(size), HIDIOCGFEATURE(size)
        (nr == 0x06 ? dev->lastSetFeature : dev->lastGetRequest).assign(data, data + size);
        if (dev->failFeatures) {
            return complete(-1, EPIPE);
        }
        const std::size_t n = std::min<std::size_t>(size, dev->featureReply.size());
        if (nr == 0x07) {
            std::memcpy(data, dev->featureReply.data(), n);
        }
        return complete(nr == 0x06 ? size : static_cast<long>(n), 0);
    } else {
        return complete(-1, ENOTTY);
    }
    return complete(0, 0);
}

gboolean handleRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer userData) {
    auto* dev = static_cast<FakeHidraw*>(userData);
    std::lock_guard lock(dev->mutex);
    if (dev->readsAgain > 0) {
        --dev->readsAgain;
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return TRUE;
    }
    UMockdevIoctlData* d = umockdev_ioctl_client_get_arg(client);
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(d->data_len), dev->inputReport.size());
    std::memcpy(d->data, dev->inputReport.data(), n);
    umockdev_ioctl_client_complete(client, static_cast<long>(n), 0);
    return TRUE;
}

// Every test sees the same computer: /dev/hidraw0 is the keyboard on USB (no report IDs:
// 8 input bytes, 6 feature bytes), /dev/hidraw1 a touch panel off a non-USB bus (report
// ID 5, 3 input bytes), /dev/hidraw2 a device whose descriptor is cut short.
class EmulatedHidraw : public ::testing::Test {
protected:
    void SetUp() override {
        if (!underUmockdev()) {
            GTEST_SKIP() << "needs umockdev-wrapper (Debian package umockdev)";
        }
        m_testbed = umockdev_testbed_new();
        m_objects.push_back(m_testbed);
        keyboard.info = {3, 0x0FE6, static_cast<__s16>(0x8101)};
        keyboard.descriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                               0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08, 0x09, 0x01,
                               0x81, 0x02, 0x95, 0x06, 0x09, 0x02, 0xB1, 0x02, 0xC0};
        keyboard.featureReply = {0, '+', 0x42, 0, 0, 9, 0};
        keyboard.inputReport = {0x11, 0x22, 0x33};
        other.info = {0x18, 0x1234, static_cast<__s16>(0xABCD)};
        other.descriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85,
                            0x05, 0x75, 0x08, 0x95, 0x03, 0x81, 0x02, 0xC0};
        other.inputReport = {0x05, 0x44, 0x55, 0x66};
        broken.descriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x95, 0x06, 0xB1};
        keyboardHid = addHidraw(0, keyboard, "ZQ QK750 USB Keyboard", "ZQ QK750 (HID name)");
        otherHid = addHidraw(1, other, nullptr, "Touch Panel \xC3\xA9\xF4\x8F\xBF\xBF");
        addHidraw(2, broken, "Broken", "Broken");
    }

    void TearDown() override {
        for (gpointer object : m_objects) {
            g_object_unref(object);
        }
    }

    // A device with one HID interface and its hidraw node /dev/hidraw<n>; returns the HID
    // device's syspath, or with `raw` the hidraw one. Without usbProduct the device hangs
    // off a non-USB bus.
    std::string addHidraw(int n, FakeHidraw& fake, const char* usbProduct, const char* hidName,
                          bool raw = false) {
        auto take = [](gchar* syspath) {
            std::string result = syspath ? syspath : "";
            g_free(syspath);
            return result;
        };
        const std::string number = std::to_string(n);
        const std::string node = "/dev/hidraw" + number;
        const std::string parent =
            usbProduct
                ? take(umockdev_testbed_add_device(m_testbed, "usb", ("1-" + number).c_str(),
                                                   nullptr, "idVendor", "0fe6", "idProduct", "8101",
                                                   "bcdDevice", "0217", "product", usbProduct,
                                                   nullptr, "DEVTYPE", "usb_device", nullptr))
                : take(umockdev_testbed_add_device(m_testbed, "i2c", ("i2c-" + number).c_str(),
                                                   nullptr, nullptr, nullptr));
        const std::string hid = take(
            umockdev_testbed_add_device(m_testbed, "hid", ("0003:0FE6:8101.000" + number).c_str(),
                                        parent.c_str(), nullptr, "HID_NAME", hidName, nullptr));
        const std::string hidraw = take(umockdev_testbed_add_device(
            m_testbed, "hidraw", ("hidraw" + number).c_str(), hid.c_str(), "dev",
            ("240:" + number).c_str(), nullptr, "DEVNAME", node.c_str(), "MAJOR", "240", "MINOR",
            number.c_str(), nullptr));
        // The testbed records the node's numbers; the node itself is ours to create, and
        // the attached handler then answers its ioctls and reads.
        const int fd = ::open((take(umockdev_testbed_get_root_dir(m_testbed)) + node).c_str(),
                              O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
        ::close(fd);
        UMockdevIoctlBase* base = umockdev_ioctl_base_new();
        m_objects.push_back(base);
        g_signal_connect(base, "handle-ioctl", G_CALLBACK(handleIoctl), &fake);
        g_signal_connect(base, "handle-read", G_CALLBACK(handleRead), &fake);
        EXPECT_TRUE(umockdev_testbed_attach_ioctl(m_testbed, node.c_str(), base, nullptr));
        return raw ? hidraw : hid;
    }

    UMockdevTestbed* m_testbed = nullptr;
    std::vector<gpointer> m_objects;
    FakeHidraw keyboard, other, broken;
    std::string keyboardHid, otherHid;
};

TEST_F(EmulatedHidraw, EnumerationQueriesAndFeatureTransfersReachTheNode) {
    HidPlatformLinux platform;
    const std::vector<HidInterfaceInfo> found = platform.enumerate();
    ASSERT_EQ(found.size(), 3u);
    auto listed = [&found](const std::string& instanceId, const std::string& path) {
        return std::any_of(found.begin(), found.end(), [&](const HidInterfaceInfo& f) {
            return f.instanceId == instanceId && f.path == path;
        });
    };
    EXPECT_TRUE(listed(keyboardHid, "/dev/hidraw0"));
    EXPECT_TRUE(listed(otherHid, "/dev/hidraw1"));

    std::uint32_t error = 1;
    auto handle = platform.open("/dev/hidraw0", HidOpenMode::ReadWrite, &error);
    ASSERT_TRUE(handle && error == 0);
    HidAttributes a;
    HidCaps caps;
    std::u16string product;
    ASSERT_TRUE(handle->getAttributes(a) && handle->getCaps(caps) &&
                handle->getProductString(product));
    EXPECT_EQ(std::tuple(a.VendorID, a.ProductID, a.VersionNumber),
              std::tuple(0x0FE6, 0x8101, 0x0217));
    EXPECT_EQ(caps.FeatureReportByteLength * 100 + caps.InputReportByteLength, 709);
    EXPECT_EQ(product, u"ZQ QK750 USB Keyboard");

    const std::uint8_t request[7] = {0, 'W', 0x00, 0x10, 0xAB, 0xCD, 0x00};
    ASSERT_TRUE(handle->setFeature(request, sizeof request));
    EXPECT_EQ(keyboard.lastSetFeature, Bytes(request, request + 7));
    std::uint8_t reply[7] = {0};
    ASSERT_TRUE(handle->getFeature(reply, sizeof reply));
    EXPECT_EQ(keyboard.lastGetRequest, Bytes(7, 0));  // report ID 0, the whole length
    EXPECT_EQ(Bytes(reply, reply + 7), keyboard.featureReply);
    keyboard.failFeatures = true;
    EXPECT_FALSE(handle->setFeature(request, sizeof request));
    EXPECT_FALSE(handle->getFeature(reply, sizeof reply));
    EXPECT_FALSE(handle->getFeature(reply, 0));

    // Not on USB: no version, the HID name stands in for the product string.
    auto second = platform.open("/dev/hidraw1", HidOpenMode::QueryOnly);
    ASSERT_TRUE(second && second->getAttributes(a) && second->getProductString(product));
    EXPECT_EQ(std::tuple(a.ProductID, a.VersionNumber), std::tuple(0xABCD, 0));
    EXPECT_EQ(product, u"Touch Panel \u00E9\U0010FFFF");  // the highest code point too

    auto third = platform.open("/dev/hidraw2", HidOpenMode::ReadWrite);
    ASSERT_NE(third, nullptr);
    EXPECT_FALSE(third->getCaps(caps));  // the malformed descriptor
    EXPECT_NE(third->lastError(), 0u);
}

// The report ID is put first; a read that finds nothing yet waits for the next report; a
// cancel that comes before the wait still ends it.
TEST_F(EmulatedHidraw, ReadInputPutsReportIdFirstAndCanBeCancelled) {
    HidPlatformLinux platform;
    keyboard.readsAgain = 2;
    const std::pair<const char*, Bytes> cases[] = {
        {"/dev/hidraw0", {0x00, 0x11, 0x22, 0x33}},  // no report IDs: 0 is put first
        {"/dev/hidraw1", other.inputReport},         // already there
    };
    for (const auto& [path, expected] : cases) {
        auto handle = platform.open(path, HidOpenMode::OverlappedRead);
        ASSERT_NE(handle, nullptr) << path;
        std::uint8_t buffer[9];
        const HidReadResult result = handle->readInput(buffer, sizeof buffer, 60000);
        ASSERT_EQ(result.status, HidReadStatus::Data) << path;
        EXPECT_EQ(Bytes(buffer, buffer + result.bytes), expected) << path;
        handle->cancelRead();
        const HidReadResult cancelled = handle->readInput(buffer, sizeof buffer, -1);
        EXPECT_EQ(cancelled.status, HidReadStatus::Timeout);
        EXPECT_EQ(cancelled.bytes, 0u);
        EXPECT_EQ(handle->readInput(buffer, 0, 0).status, HidReadStatus::Error);
    }
    EXPECT_EQ(keyboard.readsAgain, 0);
    other.inputReport.clear();  // a read that gives nothing: the device is gone
    std::uint8_t buffer[9];
    const auto handle = platform.open("/dev/hidraw1", HidOpenMode::OverlappedRead);
    EXPECT_EQ(handle->readInput(buffer, sizeof buffer, 60000).status, HidReadStatus::Error);
    EXPECT_EQ(handle->lastError(), static_cast<std::uint32_t>(ENODEV));
}

TEST_F(EmulatedHidraw, HotPlugReachesTheListener) {
    int n = 3;
    for (const char* source : {"kernel", "udev"}) {
        SCOPED_TRACE(source);
        ::setenv("QK750_UDEV_SOURCE", source, 1);
        HidPlatformLinux platform;
        ::unsetenv("QK750_UDEV_SOURCE");
        ASSERT_EQ(platform.monitorSource(), source);
        int calls = 0;
        platform.setChangeListener([&calls] { ++calls; });
        pollfd pfd{platform.notificationDescriptor(), POLLIN, 0};
        FakeHidraw fake;
        const std::string raw = addHidraw(n++, fake, "QK750", "QK750", true);
        auto drainAfter = [&](std::initializer_list<const char*> actions) {
            for (const char* action : actions) {
                umockdev_testbed_uevent(m_testbed, raw.c_str(), action);
            }
            ASSERT_EQ(::poll(&pfd, 1, 60000), 1);
            platform.processNotifications();
        };
        drainAfter({"add"});
        EXPECT_EQ(calls, 1);
        platform.processNotifications();  // nothing pending: nobody is called
        drainAfter({"change"});           // no device change
        EXPECT_EQ(calls, 1);
        drainAfter({"remove", "add"});  // two events before one drain: one call
        EXPECT_EQ(calls, 2);
    }
}

}  // namespace
}  // namespace qk750

int main(int argc, char** argv) {
#if !defined(__SANITIZE_ADDRESS__)  // the preload library cannot come before ASan's runtime
    if (!qk750::underUmockdev() && !std::getenv("QK750_UMOCKDEV_CHILD")) {
        ::setenv("QK750_UMOCKDEV_CHILD", "1", 1);
        std::vector<char*> args{const_cast<char*>("umockdev-wrapper")};
        args.insert(args.end(), argv, argv + argc + 1);
        ::execvp(args[0], args.data());  // returns only when umockdev-wrapper is missing
    }
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
