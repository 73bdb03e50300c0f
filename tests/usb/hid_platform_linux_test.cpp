#include "usb/hid_platform_linux.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace qk750 {
namespace {

// ---------------------------------------------------------------------------------------
// Without devices

struct SourceCase {
    const char* override;
    bool daemonRunning;
    const char* expected;
};

TEST(HidPlatformLinux, MonitorSourceFollowsDaemonUnlessForced) {
    const SourceCase cases[] = {
        {nullptr, true, "udev"},   {nullptr, false, "kernel"}, {"kernel", true, "kernel"},
        {"udev", false, "udev"},   {"bogus", true, "udev"},    {"", false, "kernel"},
        {"UDEV", false, "kernel"},
    };
    for (const SourceCase& c : cases) {
        EXPECT_EQ(HidPlatformLinux::chooseMonitorSource(c.override, c.daemonRunning), c.expected)
            << (c.override ? c.override : "(unset)") << " daemon=" << c.daemonRunning;
    }
}

TEST(HidPlatformLinux, OpenFailureGivesErrnoAndNoHandle) {
    HidPlatformLinux platform;
    ASSERT_TRUE(platform.available());
    std::uint32_t error = 0;
    EXPECT_EQ(platform.open("/dev/qk750-no-such-node", HidOpenMode::ReadWrite, &error), nullptr);
    EXPECT_EQ(error, static_cast<std::uint32_t>(ENOENT));
    EXPECT_EQ(platform.errorText(ENOENT), std::strerror(ENOENT));
}

TEST(HidPlatformLinux, NodeWithoutPermissionFailsWithEacces) {
    char path[] = "/tmp/qk750-hidraw-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ::chmod(path, 0);
    auto openAsUser = [&path]() -> int {
        HidPlatformLinux platform;
        std::uint32_t error = 0;
        const bool opened = platform.open(path, HidOpenMode::ReadWrite, &error) != nullptr;
        return opened ? -1 : static_cast<int>(error);
    };
    int error = 0;
    if (::geteuid() != 0) {
        error = openAsUser();
    } else {
        // Root passes every permission check: try as "nobody" in a child.
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
                ::_exit(255);
            }
            ::_exit(openAsUser());
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        error = WEXITSTATUS(status);
    }
    ::unlink(path);
    EXPECT_EQ(error, EACCES);
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

struct Umockdev {
    void* lib = nullptr;
    Ptr (*testbedNew)() = nullptr;
    const char* (*rootDir)(Ptr) = nullptr;
    char* (*addDevicev)(Ptr, const char*, const char*, const char*, char**, char**) = nullptr;
    void (*removeDevice)(Ptr, const char*) = nullptr;
    void (*uevent)(Ptr, const char*, const char*) = nullptr;
    int (*attachIoctl)(Ptr, const char*, Ptr, Ptr) = nullptr;
    Ptr (*ioctlBaseNew)() = nullptr;
    unsigned long (*clientRequest)(Ptr) = nullptr;
    Ptr (*clientArg)(Ptr) = nullptr;
    Ptr (*dataResolve)(Ptr, std::size_t, std::size_t, Ptr) = nullptr;
    void (*clientComplete)(Ptr, long, int) = nullptr;
    unsigned long (*signalConnect)(Ptr, const char*, Ptr, Ptr, Ptr, int) = nullptr;
    void (*objectUnref)(Ptr) = nullptr;
    void (*free)(Ptr) = nullptr;

    template <typename F>
    bool bind(F& f, const char* name) {
        f = reinterpret_cast<F>(::dlsym(lib, name));
        return f != nullptr;
    }

    // Null when the library or one of its functions is missing.
    static const Umockdev* get() {
        static const Umockdev* api = []() -> const Umockdev* {
            static Umockdev u;
            u.lib = ::dlopen("libumockdev.so.0", RTLD_NOW);
            if (!u.lib) {
                return nullptr;
            }
            const bool ok = u.bind(u.testbedNew, "umockdev_testbed_new") &&
                            u.bind(u.rootDir, "umockdev_testbed_get_root_dir") &&
                            u.bind(u.addDevicev, "umockdev_testbed_add_devicev") &&
                            u.bind(u.removeDevice, "umockdev_testbed_remove_device") &&
                            u.bind(u.uevent, "umockdev_testbed_uevent") &&
                            u.bind(u.attachIoctl, "umockdev_testbed_attach_ioctl") &&
                            u.bind(u.ioctlBaseNew, "umockdev_ioctl_base_new") &&
                            u.bind(u.clientRequest, "umockdev_ioctl_client_get_request") &&
                            u.bind(u.clientArg, "umockdev_ioctl_client_get_arg") &&
                            u.bind(u.dataResolve, "umockdev_ioctl_data_resolve") &&
                            u.bind(u.clientComplete, "umockdev_ioctl_client_complete") &&
                            u.bind(u.signalConnect, "g_signal_connect_data") &&
                            u.bind(u.objectUnref, "g_object_unref") && u.bind(u.free, "g_free");
            return ok ? &u : nullptr;
        }();
        return api;
    }
};

bool underUmockdevPreload() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload");
}

bool commandExists(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) {
            return true;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return false;
}

// One emulated hidraw node: what its ioctls answer and what they were given.
struct FakeHidraw {
    std::mutex mutex;
    hidraw_devinfo info{};
    std::vector<std::uint8_t> descriptor;
    std::vector<std::uint8_t> featureReply;  // byte 0 = report ID
    std::vector<std::uint8_t> lastGetRequest;
    std::vector<std::uint8_t> lastSetFeature;
    std::vector<std::uint8_t> inputReport;  // as hidraw delivers it
    bool failFeatures = false;
};

const Umockdev* g_api = nullptr;

int handleIoctl(Ptr, Ptr client, Ptr userData) {
    auto* dev = static_cast<FakeHidraw*>(userData);
    std::lock_guard lock(dev->mutex);
    const unsigned long request = g_api->clientRequest(client);
    Ptr arg = g_api->clientArg(client);
    const unsigned size = _IOC_SIZE(request);
    auto resolved = [&](std::size_t length) {
        return static_cast<IoctlData*>(g_api->dataResolve(arg, 0, length, nullptr));
    };
    if (_IOC_TYPE(request) != 'H') {
        g_api->clientComplete(client, -1, ENOTTY);
        return 1;
    }
    switch (_IOC_NR(request)) {
        case _IOC_NR(HIDIOCGRAWINFO):
            std::memcpy(resolved(sizeof dev->info)->data, &dev->info, sizeof dev->info);
            g_api->clientComplete(client, 0, 0);
            return 1;
        case _IOC_NR(HIDIOCGRDESCSIZE): {
            const int length = static_cast<int>(dev->descriptor.size());
            std::memcpy(resolved(sizeof length)->data, &length, sizeof length);
            g_api->clientComplete(client, 0, 0);
            return 1;
        }
        case _IOC_NR(HIDIOCGRDESC): {
            IoctlData* d = resolved(sizeof(hidraw_report_descriptor));
            std::memcpy(d->data + offsetof(hidraw_report_descriptor, value), dev->descriptor.data(),
                        dev->descriptor.size());
            g_api->clientComplete(client, 0, 0);
            return 1;
        }
        case 0x07: {  // HIDIOCGFEATURE(size)
            IoctlData* d = resolved(size);
            dev->lastGetRequest.assign(d->data, d->data + size);
            if (dev->failFeatures) {
                g_api->clientComplete(client, -1, EPIPE);
                return 1;
            }
            const std::size_t n = std::min<std::size_t>(size, dev->featureReply.size());
            std::memcpy(d->data, dev->featureReply.data(), n);
            g_api->clientComplete(client, static_cast<long>(n), 0);
            return 1;
        }
        case 0x06: {  // HIDIOCSFEATURE(size)
            IoctlData* d = resolved(size);
            if (dev->failFeatures) {
                g_api->clientComplete(client, -1, EPIPE);
                return 1;
            }
            dev->lastSetFeature.assign(d->data, d->data + size);
            g_api->clientComplete(client, static_cast<long>(size), 0);
            return 1;
        }
        default:
            g_api->clientComplete(client, -1, ENOTTY);
            return 1;
    }
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
const std::vector<std::uint8_t> kKeyboardDescriptor = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
    0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0x95, 0x06, 0x09, 0x02, 0xB1, 0x02, 0xC0};
// Report ID 5 with 3 input bytes.
const std::vector<std::uint8_t> kNumberedDescriptor = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x05, 0x75, 0x08, 0x95, 0x03, 0x81, 0x02, 0xC0};

class EmulatedHidraw : public ::testing::Test {
protected:
    void SetUp() override {
        if (!underUmockdevPreload()) {
            runInChild();
            return;
        }
        g_api = Umockdev::get();
        if (!g_api) {
            GTEST_SKIP() << "libumockdev.so.0 is not usable";
        }
        m_testbed = g_api->testbedNew();
        ASSERT_NE(m_testbed, nullptr);
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

    std::string addDevice(const char* subsystem, const std::string& name, const std::string& parent,
                          std::vector<std::string> attributes,
                          std::vector<std::string> properties) {
        auto toArgv = [](std::vector<std::string>& strings) {
            std::vector<char*> argv;
            for (std::string& s : strings) {
                argv.push_back(s.data());
            }
            argv.push_back(nullptr);
            return argv;
        };
        std::vector<char*> attrs = toArgv(attributes);
        std::vector<char*> props = toArgv(properties);
        char* syspath = g_api->addDevicev(m_testbed, subsystem, name.c_str(),
                                          parent.empty() ? nullptr : parent.c_str(), attrs.data(),
                                          props.data());
        std::string result = syspath ? syspath : "";
        g_api->free(syspath);
        return result;
    }

    // A USB device with one HID interface and its hidraw node /dev/hidraw<n>; returns the
    // hidraw syspath. Without usbProduct the device hangs off a non-USB bus.
    std::string addHidraw(int n, FakeHidraw& fake, const std::string& usbProduct,
                          const std::string& hidName, std::string* hidSyspath = nullptr) {
        std::string parent;
        if (!usbProduct.empty()) {
            parent = addDevice("usb", "1-" + std::to_string(n), "",
                               {"idVendor", "0fe6", "idProduct", "8101", "bcdDevice", "0217",
                                "product", usbProduct},
                               {"DEVTYPE", "usb_device"});
        } else {
            parent = addDevice("i2c", "i2c-" + std::to_string(n), "", {}, {});
        }
        const std::string hid = addDevice("hid", "0003:0FE6:8101.000" + std::to_string(n), parent,
                                          {}, {"HID_NAME", hidName});
        if (hidSyspath) {
            *hidSyspath = hid;
        }
        const std::string node = "/dev/hidraw" + std::to_string(n);
        const std::string raw = addDevice(
            "hidraw", "hidraw" + std::to_string(n), hid, {"dev", "240:" + std::to_string(n)},
            {"DEVNAME", node, "MAJOR", "240", "MINOR", std::to_string(n)});
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

private:
    void runInChild() {
        if (std::getenv("QK750_UMOCKDEV_CHILD")) {
            GTEST_SKIP() << "umockdev-wrapper did not preload its library";
        }
        if (!commandExists("umockdev-wrapper") || !Umockdev::get()) {
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

TEST_F(EmulatedHidraw, EnumerationGivesHidIdentityAndNode) {
    RUN_UNDER_UMOCKDEV();
    FakeHidraw keyboard, other;
    std::string keyboardHid, otherHid;
    addHidraw(0, keyboard, "ZQ QK750 USB Keyboard", "ZQ QK750", &keyboardHid);
    addHidraw(1, other, "", "Touch Panel", &otherHid);

    HidPlatformLinux platform;
    const std::vector<HidInterfaceInfo> found = platform.enumerate();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].instanceId, keyboardHid);
    EXPECT_EQ(found[0].path, "/dev/hidraw0");
    EXPECT_EQ(found[1].instanceId, otherHid);
    EXPECT_EQ(found[1].path, "/dev/hidraw1");
}

TEST_F(EmulatedHidraw, QueriesAndFeatureTransfersReachTheNode) {
    RUN_UNDER_UMOCKDEV();
    FakeHidraw keyboard, other;
    keyboard.info = {3, 0x0FE6, static_cast<__s16>(0x8101)};
    keyboard.descriptor = kKeyboardDescriptor;
    keyboard.featureReply = {0, '+', 0x42, 0, 0, 9, 0};
    other.info = {0x18, 0x1234, static_cast<__s16>(0xABCD)};
    other.descriptor = kNumberedDescriptor;
    addHidraw(0, keyboard, "ZQ QK750 USB Keyboard", "ZQ QK750 (HID name)");
    addHidraw(1, other, "", "Touch Panel \xC3\xA9");

    HidPlatformLinux platform;
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
    EXPECT_EQ(caps.UsagePage, 0xFF00);

    std::u16string product;
    ASSERT_TRUE(handle->getProductString(product));
    EXPECT_EQ(product, u"ZQ QK750 USB Keyboard");

    const std::uint8_t request[7] = {0, 'W', 0x00, 0x10, 0xAB, 0xCD, 0x00};
    ASSERT_TRUE(handle->setFeature(request, sizeof request));
    EXPECT_EQ(keyboard.lastSetFeature, std::vector<std::uint8_t>(request, request + 7));

    std::uint8_t reply[7] = {0};
    ASSERT_TRUE(handle->getFeature(reply, sizeof reply));
    EXPECT_EQ(keyboard.lastGetRequest.size(), 7u);
    EXPECT_EQ(keyboard.lastGetRequest[0], 0);
    EXPECT_EQ(std::vector<std::uint8_t>(reply, reply + 7), keyboard.featureReply);

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
    ASSERT_TRUE(second->getCaps(caps));
    EXPECT_EQ(caps.InputReportByteLength, 4);
    EXPECT_EQ(caps.FeatureReportByteLength, 0);
}

TEST_F(EmulatedHidraw, MalformedDescriptorGivesNoCaps) {
    RUN_UNDER_UMOCKDEV();
    FakeHidraw broken;
    broken.descriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x95, 0x06, 0xB1};
    addHidraw(0, broken, "Broken", "Broken");
    HidPlatformLinux platform;
    auto handle = platform.open("/dev/hidraw0", HidOpenMode::ReadWrite);
    ASSERT_NE(handle, nullptr);
    HidCaps caps;
    EXPECT_FALSE(handle->getCaps(caps));
    EXPECT_NE(handle->lastError(), 0u);
}

TEST_F(EmulatedHidraw, ReadInputPutsReportIdFirst) {
    RUN_UNDER_UMOCKDEV();
    FakeHidraw plain, numbered;
    plain.descriptor = kKeyboardDescriptor;
    plain.inputReport = {0x11, 0x22, 0x33};
    numbered.descriptor = kNumberedDescriptor;
    numbered.inputReport = {0x05, 0x44, 0x55, 0x66};
    addHidraw(0, plain, "ZQ QK750 USB Keyboard", "QK750");
    addHidraw(1, numbered, "Other", "Other");
    HidPlatformLinux platform;

    auto first = platform.open("/dev/hidraw0", HidOpenMode::OverlappedRead);
    ASSERT_NE(first, nullptr);
    std::uint8_t buffer[9];
    std::memset(buffer, 0xEE, sizeof buffer);
    HidReadResult result = first->readInput(buffer, sizeof buffer, 60000);
    ASSERT_EQ(result.status, HidReadStatus::Data);
    ASSERT_EQ(result.bytes, 4u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 4),
              (std::vector<std::uint8_t>{0x00, 0x11, 0x22, 0x33}));

    auto second = platform.open("/dev/hidraw1", HidOpenMode::OverlappedRead);
    ASSERT_NE(second, nullptr);
    result = second->readInput(buffer, sizeof buffer, 60000);
    ASSERT_EQ(result.status, HidReadStatus::Data);
    ASSERT_EQ(result.bytes, 4u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 4), numbered.inputReport);
}

TEST_F(EmulatedHidraw, HotPlugReachesTheListener) {
    RUN_UNDER_UMOCKDEV();
    for (const char* source : {"kernel", "udev"}) {
        SCOPED_TRACE(source);
        ::setenv("QK750_UDEV_SOURCE", source, 1);
        HidPlatformLinux platform;
        ::unsetenv("QK750_UDEV_SOURCE");
        ASSERT_EQ(platform.monitorSource(), source);
        ASSERT_GE(platform.notificationDescriptor(), 0);
        int calls = 0;
        platform.setChangeListener([&calls] { ++calls; });

        FakeHidraw fake;
        const std::string raw = addHidraw(source[0] == 'k' ? 0 : 1, fake, "QK750", "QK750");
        g_api->uevent(m_testbed, raw.c_str(), "add");
        pollfd pfd{platform.notificationDescriptor(), POLLIN, 0};
        ASSERT_EQ(::poll(&pfd, 1, 60000), 1);
        platform.processNotifications();
        EXPECT_EQ(calls, 1);

        // Nothing pending: draining again calls nobody; a "change" is no device change.
        platform.processNotifications();
        g_api->uevent(m_testbed, raw.c_str(), "change");
        ASSERT_EQ(::poll(&pfd, 1, 60000), 1);
        platform.processNotifications();
        EXPECT_EQ(calls, 1);

        // Two events before one drain: one call.
        g_api->uevent(m_testbed, raw.c_str(), "remove");
        g_api->uevent(m_testbed, raw.c_str(), "add");
        ASSERT_EQ(::poll(&pfd, 1, 60000), 1);
        platform.processNotifications();
        EXPECT_EQ(calls, 2);
    }
}

TEST_F(EmulatedHidraw, CancelEndsAWaitingRead) {
    RUN_UNDER_UMOCKDEV();
    FakeHidraw fake;
    fake.descriptor = kKeyboardDescriptor;
    addHidraw(0, fake, "QK750", "QK750");
    HidPlatformLinux platform;
    auto handle = platform.open("/dev/hidraw0", HidOpenMode::OverlappedRead);
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
