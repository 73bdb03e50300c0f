#include "usb/hid_platform_linux.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace qk750 {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(HidPlatformLinux, OpenFailureGivesErrnoAndNoHandle) {
    HidPlatformLinux platform;
    ASSERT_TRUE(platform.available());
    std::uint32_t error = 0;
    EXPECT_EQ(platform.open("/dev/qk750-no-such-node", HidOpenMode::ReadWrite, &error), nullptr);
    EXPECT_EQ(error, static_cast<std::uint32_t>(ENOENT));
    EXPECT_EQ(platform.errorText(ENOENT), std::strerror(ENOENT));
}

// ---------------------------------------------------------------------------------------
// Emulated devices: umockdev fakes sysfs, the device nodes (their ioctls and reads are
// answered by the handlers below) and uevents. It works only with its preload library,
// so each such test runs itself again in a child under umockdev-wrapper; without
// umockdev the tests are skipped.

using Ptr = void*;

// The public layout of UMockdevIoctlData (a GObject header, then the bytes).
struct IoctlData {
    std::array<unsigned char, 24> gobjectHeader;
    std::uint8_t* data;
    int length;
};

// The umockdev and GLib functions the tests call, bound at run time so that the tests
// build without umockdev's headers.
struct Umockdev {
    void* lib = ::dlopen("libumockdev.so.0", RTLD_NOW);
    bool complete = lib != nullptr;
    void* bind(const char* name) {
        void* f = lib ? ::dlsym(lib, name) : nullptr;
        complete = complete && f;
        return f;
    }
#define BIND(member, symbol, ...)            \
    std::add_pointer_t<__VA_ARGS__> member = \
        reinterpret_cast<std::add_pointer_t<__VA_ARGS__>>(bind(symbol))
    BIND(testbedNew, "umockdev_testbed_new", Ptr());
    BIND(rootDir, "umockdev_testbed_get_root_dir", const char*(Ptr));
    // Attribute pairs, nullptr, property pairs, nullptr.
    BIND(addDevice, "umockdev_testbed_add_device",
         char*(Ptr, const char*, const char*, const char*, ...));
    BIND(uevent, "umockdev_testbed_uevent", void(Ptr, const char*, const char*));
    BIND(attachIoctl, "umockdev_testbed_attach_ioctl", int(Ptr, const char*, Ptr, Ptr));
    BIND(ioctlBaseNew, "umockdev_ioctl_base_new", Ptr());
    BIND(clientRequest, "umockdev_ioctl_client_get_request", unsigned long(Ptr));
    BIND(clientArg, "umockdev_ioctl_client_get_arg", Ptr(Ptr));
    BIND(dataResolve, "umockdev_ioctl_data_resolve", Ptr(Ptr, std::size_t, std::size_t, Ptr));
    BIND(clientComplete, "umockdev_ioctl_client_complete", void(Ptr, long, int));
    BIND(signalConnect, "g_signal_connect_data",
         unsigned long(Ptr, const char*, Ptr, Ptr, Ptr, int));
    BIND(objectUnref, "g_object_unref", void(Ptr));
    BIND(free, "g_free", void(Ptr));
#undef BIND

    // Null when the library or one of its functions is missing.
    static const Umockdev* get() {
        static const Umockdev api;
        return api.complete ? &api : nullptr;
    }
};

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
};

const Umockdev* g_api = nullptr;

int handleIoctl(Ptr, Ptr client, Ptr userData) {
    auto* dev = static_cast<FakeHidraw*>(userData);
    std::lock_guard lock(dev->mutex);
    const unsigned long request = g_api->clientRequest(client);
    const unsigned size = _IOC_SIZE(request);
    const unsigned nr = _IOC_NR(request);
    auto complete = [client](long result, int error) {
        g_api->clientComplete(client, result, error);
        return 1;
    };
    if (_IOC_TYPE(request) != 'H') {
        return complete(-1, ENOTTY);
    }
    std::uint8_t* data =
        static_cast<IoctlData*>(g_api->dataResolve(g_api->clientArg(client), 0, size, nullptr))
            ->data;
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
        if (nr == 0x06) {
            return complete(size, 0);
        }
        const std::size_t n = std::min<std::size_t>(size, dev->featureReply.size());
        std::memcpy(data, dev->featureReply.data(), n);
        return complete(static_cast<long>(n), 0);
    } else {
        return complete(-1, ENOTTY);
    }
    return complete(0, 0);
}

int handleRead(Ptr, Ptr client, Ptr userData) {
    auto* dev = static_cast<FakeHidraw*>(userData);
    std::lock_guard lock(dev->mutex);
    auto* d = static_cast<IoctlData*>(g_api->clientArg(client));
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(d->length), dev->inputReport.size());
    std::memcpy(d->data, dev->inputReport.data(), n);
    g_api->clientComplete(client, static_cast<long>(n), 0);
    return 1;
}

// Vendor interface without report IDs: 8 input bytes, 6 feature bytes.
const Bytes kKeyboardDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                                   0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08, 0x09, 0x01,
                                   0x81, 0x02, 0x95, 0x06, 0x09, 0x02, 0xB1, 0x02, 0xC0};
// Report ID 5 with 3 input bytes.
const Bytes kNumberedDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85,
                                   0x05, 0x75, 0x08, 0x95, 0x03, 0x81, 0x02, 0xC0};

// Every test sees the same computer: /dev/hidraw0 is the keyboard on USB (no report
// IDs), /dev/hidraw1 a touch panel off a non-USB bus (report ID 5), /dev/hidraw2 a
// device whose descriptor is cut short.
class EmulatedHidraw : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("LD_PRELOAD") ||
            !std::strstr(std::getenv("LD_PRELOAD"), "libumockdev-preload")) {
            runInChild();
            return;
        }
        g_api = Umockdev::get();
        if (!g_api) {
            GTEST_SKIP() << "libumockdev.so.0 is not usable";
        }
        m_testbed = g_api->testbedNew();
        ASSERT_NE(m_testbed, nullptr);

        keyboard.info = {3, 0x0FE6, static_cast<__s16>(0x8101)};
        keyboard.descriptor = kKeyboardDescriptor;
        keyboard.featureReply = {0, '+', 0x42, 0, 0, 9, 0};
        keyboard.inputReport = {0x11, 0x22, 0x33};
        other.info = {0x18, 0x1234, static_cast<__s16>(0xABCD)};
        other.descriptor = kNumberedDescriptor;
        other.inputReport = {0x05, 0x44, 0x55, 0x66};
        broken.descriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x95, 0x06, 0xB1};
        addHidraw(0, keyboard, "ZQ QK750 USB Keyboard", "ZQ QK750 (HID name)", &keyboardHid);
        addHidraw(1, other, nullptr, "Touch Panel \xC3\xA9", &otherHid);
        addHidraw(2, broken, "Broken", "Broken");
    }

    void TearDown() override {
        if (m_testbed) {
            g_api->objectUnref(m_testbed);
        }
        for (Ptr base : m_bases) {
            g_api->objectUnref(base);
        }
    }

    // True in the parent, which has already run the test in a child.
    bool ranInChild() const { return m_ranInChild; }

    // A USB device with one HID interface and its hidraw node /dev/hidraw<n>; returns the
    // hidraw syspath. Without usbProduct the device hangs off a non-USB bus.
    std::string addHidraw(int n, FakeHidraw& fake, const char* usbProduct, const char* hidName,
                          std::string* hidSyspath = nullptr) {
        auto take = [](char* syspath) {
            std::string result = syspath ? syspath : "";
            g_api->free(syspath);
            return result;
        };
        const std::string number = std::to_string(n);
        const std::string node = "/dev/hidraw" + number;
        const std::string parent =
            usbProduct ? take(g_api->addDevice(m_testbed, "usb", ("1-" + number).c_str(), nullptr,
                                               "idVendor", "0fe6", "idProduct", "8101", "bcdDevice",
                                               "0217", "product", usbProduct, nullptr, "DEVTYPE",
                                               "usb_device", nullptr))
                       : take(g_api->addDevice(m_testbed, "i2c", ("i2c-" + number).c_str(), nullptr,
                                               nullptr, nullptr));
        const std::string hid =
            take(g_api->addDevice(m_testbed, "hid", ("0003:0FE6:8101.000" + number).c_str(),
                                  parent.c_str(), nullptr, "HID_NAME", hidName, nullptr));
        if (hidSyspath) {
            *hidSyspath = hid;
        }
        const std::string raw =
            take(g_api->addDevice(m_testbed, "hidraw", ("hidraw" + number).c_str(), hid.c_str(),
                                  "dev", ("240:" + number).c_str(), nullptr, "DEVNAME",
                                  node.c_str(), "MAJOR", "240", "MINOR", number.c_str(), nullptr));
        // The testbed records the node's numbers; the node itself is ours to create,
        // and the attached handler then answers its ioctls and reads.
        const std::string file = std::string(g_api->rootDir(m_testbed)) + node;
        const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
        }
        Ptr base = g_api->ioctlBaseNew();
        m_bases.push_back(base);
        g_api->signalConnect(base, "handle-ioctl", reinterpret_cast<Ptr>(&handleIoctl), &fake,
                             nullptr, 0);
        g_api->signalConnect(base, "handle-read", reinterpret_cast<Ptr>(&handleRead), &fake,
                             nullptr, 0);
        EXPECT_TRUE(g_api->attachIoctl(m_testbed, node.c_str(), base, nullptr));
        return raw;
    }

    Ptr m_testbed = nullptr;
    FakeHidraw keyboard, other, broken;
    std::string keyboardHid, otherHid;

private:
    void runInChild() {
        if (std::getenv("QK750_UMOCKDEV_CHILD")) {
            GTEST_SKIP() << "umockdev-wrapper did not preload its library";
        }
        if (std::system("command -v umockdev-wrapper >/dev/null 2>&1") != 0 || !Umockdev::get()) {
            GTEST_SKIP() << "umockdev is not installed (Debian package umockdev)";
        }
        std::array<char, PATH_MAX> self{};
        ASSERT_GT(::readlink("/proc/self/exe", self.data(), self.size() - 1), 0);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string command = std::string("QK750_UMOCKDEV_CHILD=1 umockdev-wrapper '") +
                                    self.data() + "' --gtest_filter='" + info->test_suite_name() +
                                    "." + info->name() + "' 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        std::array<char, 4096> chunk{};
        while (std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe)) {
            output.append(chunk.data(), n);
        }
        const int status = ::pclose(pipe);
        m_ranInChild = true;
        if (output.find("[  SKIPPED ]") != std::string::npos) {
            GTEST_SKIP() << output;
        }
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
        ASSERT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    }

    bool m_ranInChild = false;
    std::vector<Ptr> m_bases;
};

#define RUN_UNDER_UMOCKDEV()                              \
    if (ranInChild() || IsSkipped() || HasFatalFailure()) \
    return

TEST_F(EmulatedHidraw, EnumerationQueriesAndFeatureTransfersReachTheNode) {
    RUN_UNDER_UMOCKDEV();
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
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(error, 0u);

    HidAttributes attributes;
    ASSERT_TRUE(handle->getAttributes(attributes));
    EXPECT_EQ(attributes.VendorID, 0x0FE6);
    EXPECT_EQ(attributes.ProductID, 0x8101);
    EXPECT_EQ(attributes.VersionNumber, 0x0217);
    HidCaps caps;
    ASSERT_TRUE(handle->getCaps(caps));
    EXPECT_EQ(caps.FeatureReportByteLength, 7);
    EXPECT_EQ(caps.InputReportByteLength, 9);
    std::u16string product;
    ASSERT_TRUE(handle->getProductString(product));
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
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(second->getAttributes(attributes));
    EXPECT_EQ(attributes.ProductID, 0xABCD);
    EXPECT_EQ(attributes.VersionNumber, 0);
    ASSERT_TRUE(second->getProductString(product));
    EXPECT_EQ(product, u"Touch Panel \u00E9");

    auto third = platform.open("/dev/hidraw2", HidOpenMode::ReadWrite);
    ASSERT_NE(third, nullptr);
    EXPECT_FALSE(third->getCaps(caps));  // the malformed descriptor
    EXPECT_NE(third->lastError(), 0u);
}

TEST_F(EmulatedHidraw, ReadInputPutsReportIdFirst) {
    RUN_UNDER_UMOCKDEV();
    HidPlatformLinux platform;
    const std::pair<const char*, Bytes> cases[] = {
        {"/dev/hidraw0", {0x00, 0x11, 0x22, 0x33}},  // no report IDs: 0 is put first
        {"/dev/hidraw1", other.inputReport},         // already there
    };
    for (const auto& [path, expected] : cases) {
        auto handle = platform.open(path, HidOpenMode::OverlappedRead);
        ASSERT_NE(handle, nullptr) << path;
        std::uint8_t buffer[9];
        std::memset(buffer, 0xEE, sizeof buffer);
        const HidReadResult result = handle->readInput(buffer, sizeof buffer, 60000);
        ASSERT_EQ(result.status, HidReadStatus::Data) << path;
        EXPECT_EQ(Bytes(buffer, buffer + result.bytes), expected) << path;
    }
}

TEST_F(EmulatedHidraw, HotPlugReachesTheListener) {
    RUN_UNDER_UMOCKDEV();
    int n = 3;
    for (const char* source : {"kernel", "udev"}) {
        SCOPED_TRACE(source);
        ::setenv("QK750_UDEV_SOURCE", source, 1);
        HidPlatformLinux platform;
        ::unsetenv("QK750_UDEV_SOURCE");
        ASSERT_EQ(platform.monitorSource(), source);
        ASSERT_GE(platform.notificationDescriptor(), 0);
        int calls = 0;
        platform.setChangeListener([&calls] { ++calls; });
        pollfd pfd{platform.notificationDescriptor(), POLLIN, 0};
        std::string raw;
        auto drainAfter = [&](std::initializer_list<const char*> actions) {
            for (const char* action : actions) {
                g_api->uevent(m_testbed, raw.c_str(), action);
            }
            ASSERT_EQ(::poll(&pfd, 1, 60000), 1);
            platform.processNotifications();
        };

        FakeHidraw fake;
        raw = addHidraw(n++, fake, "QK750", "QK750");
        drainAfter({"add"});
        EXPECT_EQ(calls, 1);
        platform.processNotifications();  // nothing pending: nobody is called
        drainAfter({"change"});           // no device change
        EXPECT_EQ(calls, 1);
        drainAfter({"remove", "add"});  // two events before one drain: one call
        EXPECT_EQ(calls, 2);
    }
}

TEST_F(EmulatedHidraw, CancelEndsAWaitingRead) {
    RUN_UNDER_UMOCKDEV();
    auto handle = HidPlatformLinux().open("/dev/hidraw0", HidOpenMode::OverlappedRead);
    ASSERT_NE(handle, nullptr);
    std::uint8_t buffer[9];
    // A cancel that comes before the wait still ends it: the reader must not miss a
    // stop request made just before it started waiting.
    handle->cancelRead();
    EXPECT_EQ(handle->readInput(buffer, sizeof buffer, -1).status, HidReadStatus::Timeout);
    EXPECT_EQ(handle->readInput(buffer, 0, 0).status, HidReadStatus::Error);
}

}  // namespace
}  // namespace qk750
