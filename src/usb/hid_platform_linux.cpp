#include "usb/hid_platform_linux.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <system_error>

#include "usb/hid_platform_system.h"
#include "usb/report_descriptor.h"

namespace qk750 {

namespace {

// hidraw queues this many input reports per open file; the count cannot be changed.
constexpr std::uint32_t HidrawRingSize = 64;
// The length of a feature transfer travels in the ioctl number's 14-bit size field.
constexpr std::size_t MaxIoctlLength = (1u << 14) - 1;

struct UdevDeviceDeleter {
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
using UdevDevicePtr = std::unique_ptr<udev_device, UdevDeviceDeleter>;

struct UdevEnumerateDeleter {
    void operator()(udev_enumerate* enumerate) const { udev_enumerate_unref(enumerate); }
};

// Decodes UTF-8 as sysfs and udev give it; an invalid sequence becomes U+FFFD rather
// than ending the name.
std::u16string utf8ToUtf16(const std::string& text) {
    std::u16string out;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::uint32_t cp = 0;
        std::size_t extra = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            cp = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            cp = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            cp = lead & 0x07;
            extra = 3;
        } else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        bool ok = n - i > extra;  // the continuation bytes are there
        for (std::size_t k = 1; ok && k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) {
                ok = false;
            } else {
                cp = (cp << 6) | (c & 0x3F);
            }
        }
        static constexpr std::uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (!ok || cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += 1 + extra;
    }
    return out;
}

class LinuxHidHandle : public HidHandle {
public:
    LinuxHidHandle(std::string path, int fd, int wakeFd)
        : m_path(std::move(path)), m_fd(fd), m_wakeFd(wakeFd) {}

    ~LinuxHidHandle() override {
        ::close(m_fd);
        ::close(m_wakeFd);
    }

    LinuxHidHandle(const LinuxHidHandle&) = delete;
    LinuxHidHandle& operator=(const LinuxHidHandle&) = delete;

    bool getAttributes(HidAttributes& attributes) override {
        hidraw_devinfo info{};
        if (::ioctl(m_fd, HIDIOCGRAWINFO, &info) < 0) {
            return failWithErrno();
        }
        attributes.VendorID = static_cast<std::uint16_t>(info.vendor);
        attributes.ProductID = static_cast<std::uint16_t>(info.product);
        attributes.VersionNumber = 0;
        if (UdevDevicePtr node = nodeDevice()) {
            udev_device* usb =
                udev_device_get_parent_with_subsystem_devtype(node.get(), "usb", "usb_device");
            const char* bcd = usb ? udev_device_get_sysattr_value(usb, "bcdDevice") : nullptr;
            if (bcd) {
                attributes.VersionNumber =
                    static_cast<std::uint16_t>(std::strtoul(bcd, nullptr, 16));
            }
        }
        return true;
    }

    bool getCaps(HidCaps& caps) override {
        const ReportDescriptorSummary* summary = descriptor();
        if (!summary) {
            return false;
        }
        if (!summary->valid) {
            // Lengths from a broken descriptor could make another device look like
            // the keyboard; report no capabilities at all.
            m_lastError = EBADMSG;
            return false;
        }
        caps = summary->caps;
        return true;
    }

    bool getProductString(std::u16string& product) override {
        UdevDevicePtr node = nodeDevice();
        if (!node) {
            return false;
        }
        std::string text;
        udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(node.get(), "usb", "usb_device");
        if (const char* value = usb ? udev_device_get_sysattr_value(usb, "product") : nullptr) {
            text = value;
        }
        if (text.empty()) {
            udev_device* hid =
                udev_device_get_parent_with_subsystem_devtype(node.get(), "hid", nullptr);
            if (const char* name =
                    hid ? udev_device_get_property_value(hid, "HID_NAME") : nullptr) {
                text = name;
            }
        }
        if (text.empty()) {
            m_lastError = ENODATA;
            return false;
        }
        product = utf8ToUtf16(text);
        return true;
    }

    bool getFeature(std::uint8_t* buffer, std::size_t length) override {
        if (!buffer || length == 0 || length > MaxIoctlLength) {
            m_lastError = EINVAL;
            return false;
        }
        if (::ioctl(m_fd, HIDIOCGFEATURE(length), buffer) < 0) {
            return failWithErrno();
        }
        return true;
    }

    bool setFeature(const std::uint8_t* buffer, std::size_t length) override {
        if (!buffer || length == 0 || length > MaxIoctlLength) {
            m_lastError = EINVAL;
            return false;
        }
        // The kernel only reads the buffer.
        if (::ioctl(m_fd, HIDIOCSFEATURE(length), const_cast<std::uint8_t*>(buffer)) < 0) {
            return failWithErrno();
        }
        return true;
    }

    bool setNumInputBuffers(std::uint32_t count) override {
        m_inputBuffers = count;
        return true;
    }

    bool getNumInputBuffers(std::uint32_t& count) override {
        count = m_inputBuffers;
        return true;
    }

    HidReadResult readInput(std::uint8_t* buffer, std::size_t length, int timeoutMs) override {
        const ReportDescriptorSummary* summary = descriptor();
        if (!summary) {
            return {HidReadStatus::Error, 0};
        }
        // Without report IDs hidraw hands over bare data; the caller expects the ID byte
        // in front, as on every other platform.
        const std::size_t offset = summary->usesReportIds ? 0 : 1;
        if (!buffer || length <= offset) {
            m_lastError = EINVAL;
            return {HidReadStatus::Error, 0};
        }

        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int wait = -1;
            if (timeoutMs >= 0) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
                wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
            }
            pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
            const int ready = ::poll(fds, 2, wait);
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                failWithErrno();
                return {HidReadStatus::Error, 0};
            }
            if (fds[1].revents != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t drained = ::read(m_wakeFd, &count, sizeof count);
                return {HidReadStatus::Timeout, 0};
            }
            if (ready == 0) {
                return {HidReadStatus::Timeout, 0};
            }
            // Readable, or hung up: read() tells which.
            const ssize_t n = ::read(m_fd, buffer + offset, length - offset);
            if (n < 0) {
                const bool hungUp = (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
                if (errno == EINTR || (errno == EAGAIN && !hungUp)) {
                    continue;
                }
                if (errno == EAGAIN) {
                    errno = ENODEV;  // gone, yet nothing to read: do not spin on poll()
                }
                failWithErrno();
                return {HidReadStatus::Error, 0};
            }
            if (n == 0) {
                m_lastError = ENODEV;
                return {HidReadStatus::Error, 0};
            }
            if (offset) {
                buffer[0] = 0;
            }
            return {HidReadStatus::Data, static_cast<std::size_t>(n) + offset};
        }
    }

    void cancelRead() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
    }

    std::uint32_t lastError() const override { return m_lastError; }

private:
    bool failWithErrno() {
        m_lastError = static_cast<std::uint32_t>(errno);
        return false;
    }

    // The udev device of the open node, found by its device number so that it matches
    // the file even if the node was renamed. A path that is not a device node itself
    // (a symlink target replaced, an emulated node) is looked up by its name instead.
    UdevDevicePtr nodeDevice() {
        struct stat st {};
        if (::fstat(m_fd, &st) < 0) {
            failWithErrno();
            return nullptr;
        }
        if (!S_ISCHR(st.st_mode) && ::stat(m_path.c_str(), &st) < 0) {
            failWithErrno();
            return nullptr;
        }
        // A context of its own: libudev objects are not thread-safe, and a handle may be
        // opened and used on the reader thread while the platform's context is in use on
        // the user-interface thread. The device keeps the context alive.
        errno = 0;
        udev* context = udev_new();
        UdevDevicePtr device(context ? udev_device_new_from_devnum(context, 'c', st.st_rdev)
                                     : nullptr);
        udev_unref(context);
        if (!device) {
            m_lastError = errno ? static_cast<std::uint32_t>(errno) : ENODEV;
        }
        return device;
    }

    // Read once per handle: the descriptor of an open node never changes.
    const ReportDescriptorSummary* descriptor() {
        if (m_descriptor) {
            return &*m_descriptor;
        }
        int size = 0;
        if (::ioctl(m_fd, HIDIOCGRDESCSIZE, &size) < 0) {
            failWithErrno();
            return nullptr;
        }
        auto raw = std::make_unique<hidraw_report_descriptor>();
        raw->size = static_cast<std::uint32_t>(size);
        if (size < 0 || raw->size > sizeof raw->value) {
            m_lastError = EBADMSG;
            return nullptr;
        }
        if (::ioctl(m_fd, HIDIOCGRDESC, raw.get()) < 0) {
            failWithErrno();
            return nullptr;
        }
        m_descriptor = parseReportDescriptor(raw->value, raw->size);
        return &*m_descriptor;
    }

    std::string m_path;
    int m_fd;
    int m_wakeFd;
    std::uint32_t m_lastError = 0;
    std::uint32_t m_inputBuffers = HidrawRingSize;
    std::optional<ReportDescriptorSummary> m_descriptor;
};

}  // namespace

HidPlatformLinux::HidPlatformLinux() : m_udev(udev_new()) {
    if (!m_udev) {
        return;
    }
    m_monitorSource = chooseMonitorSource(std::getenv("QK750_UDEV_SOURCE"),
                                          ::access("/run/udev/control", F_OK) == 0);
    m_monitor = udev_monitor_new_from_netlink(m_udev, m_monitorSource.c_str());
    if (m_monitor &&
        (udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "hidraw", nullptr) < 0 ||
         udev_monitor_enable_receiving(m_monitor) < 0)) {
        udev_monitor_unref(m_monitor);
        m_monitor = nullptr;
    }
}

HidPlatformLinux::~HidPlatformLinux() {
    if (m_monitor) {
        udev_monitor_unref(m_monitor);
    }
    if (m_udev) {
        udev_unref(m_udev);
    }
}

std::string HidPlatformLinux::chooseMonitorSource(const char* override, bool udevDaemonRunning) {
    if (override && (std::strcmp(override, "udev") == 0 || std::strcmp(override, "kernel") == 0)) {
        return override;
    }
    return udevDaemonRunning ? "udev" : "kernel";
}

bool HidPlatformLinux::available() const {
    return m_udev != nullptr;
}

std::vector<HidInterfaceInfo> HidPlatformLinux::enumerate() {
    std::vector<HidInterfaceInfo> found;
    if (!m_udev) {
        return found;
    }
    std::unique_ptr<udev_enumerate, UdevEnumerateDeleter> scan(udev_enumerate_new(m_udev));
    if (!scan || udev_enumerate_add_match_subsystem(scan.get(), "hidraw") < 0 ||
        udev_enumerate_scan_devices(scan.get()) < 0) {
        return found;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
        UdevDevicePtr node(udev_device_new_from_syspath(m_udev, udev_list_entry_get_name(entry)));
        if (!node) {
            continue;  // gone since the scan
        }
        const char* devnode = udev_device_get_devnode(node.get());
        if (!devnode) {
            continue;
        }
        udev_device* hid =
            udev_device_get_parent_with_subsystem_devtype(node.get(), "hid", nullptr);
        const char* identity = udev_device_get_syspath(hid ? hid : node.get());
        found.push_back({identity ? identity : devnode, devnode});
    }
    return found;
}

std::unique_ptr<HidHandle> HidPlatformLinux::open(const std::string& path, HidOpenMode mode,
                                                  std::uint32_t* error) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case HidOpenMode::ReadWrite:
            flags |= O_RDWR;
            break;
        case HidOpenMode::QueryOnly:
            flags |= O_RDONLY;
            break;
        case HidOpenMode::OverlappedRead:
            flags |= O_RDONLY | O_NONBLOCK;
            break;
        case HidOpenMode::OverlappedWrite:
            flags |= O_WRONLY | O_NONBLOCK;
            break;
    }
    auto fail = [error](int code) -> std::unique_ptr<HidHandle> {
        if (error) {
            *error = static_cast<std::uint32_t>(code);
        }
        return nullptr;
    };
    if (!m_udev) {
        return fail(ENOSYS);
    }
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        return fail(errno);  // EACCES without the udev rule
    }
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        const int code = errno;
        ::close(fd);
        return fail(code);
    }
    if (error) {
        *error = 0;
    }
    return std::make_unique<LinuxHidHandle>(path, fd, wakeFd);
}

std::string HidPlatformLinux::errorText(std::uint32_t error) const {
    return std::system_category().message(static_cast<int>(error));
}

void HidPlatformLinux::setChangeListener(ChangeListener listener) {
    m_listener = std::move(listener);
}

int HidPlatformLinux::notificationDescriptor() const {
    return m_monitor ? udev_monitor_get_fd(m_monitor) : -1;
}

void HidPlatformLinux::processNotifications() {
    if (!m_monitor) {
        return;
    }
    bool changed = false;
    for (;;) {
        errno = 0;
        UdevDevicePtr device{udev_monitor_receive_device(m_monitor)};
        if (!device) {
            // A full socket buffer dropped events: the device set may have changed.
            changed = changed || errno == ENOBUFS;
            break;
        }
        const char* action = udev_device_get_action(device.get());
        if (action && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0)) {
            changed = true;
        }
    }
    if (changed && m_listener) {
        m_listener();
    }
}

std::unique_ptr<HidPlatform> CreateSystemHidPlatform() {
    return std::make_unique<HidPlatformLinux>();
}

}  // namespace qk750
