#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qk750 {

// What the operating system offers for HID devices, reduced to the operations the
// controller and the device objects need. One implementation per platform:
// hid_platform_linux.cpp (hidraw + libudev), hid_platform_windows.cpp (SetupApi +
// HID.dll, bound at run time) and the simulated computer (hid_platform_sim.cpp).
// Free of Qt and of any OS header, so every platform can include it.

struct HidAttributes {
    std::uint16_t VendorID = 0;
    std::uint16_t ProductID = 0;
    std::uint16_t VersionNumber = 0;
};

// Report lengths count the report ID byte, as Windows counts them: a device without
// report IDs whose feature report has 6 data bytes has a FeatureReportByteLength of 7.
struct HidCaps {
    std::uint16_t Usage = 0;
    std::uint16_t UsagePage = 0;
    std::uint16_t InputReportByteLength = 0;
    std::uint16_t OutputReportByteLength = 0;
    std::uint16_t FeatureReportByteLength = 0;
};

// One HID interface as enumeration finds it.
struct HidInterfaceInfo {
    // Identifies the interface across enumerations; a re-plugged device gets a new one.
    std::string instanceId;
    // What open() takes.
    std::string path;
};

enum class HidOpenMode {
    ReadWrite,       // synchronous handle for queries and feature reports
    QueryOnly,       // the fallback when read/write access is refused
    OverlappedRead,  // the reader thread's handle
    OverlappedWrite,
};

enum class HidReadStatus {
    Data,     // bytes arrived
    Timeout,  // nothing within the timeout, or woken by cancelRead()
    Error,    // the read could not be made; lastError() says why
};

struct HidReadResult {
    HidReadStatus status = HidReadStatus::Timeout;
    std::size_t bytes = 0;
};

// An open handle on one interface. Every failing call leaves the OS error code in
// lastError(). Used from one thread at a time, except cancelRead(), which any thread
// may call to end a readInput() that is waiting.
class HidHandle {
public:
    virtual ~HidHandle() = default;

    virtual bool getAttributes(HidAttributes& attributes) = 0;
    virtual bool getCaps(HidCaps& caps) = 0;
    // False when the device has no product string or it cannot be read.
    virtual bool getProductString(std::u16string& product) = 0;
    // Byte 0 of the buffer is the report ID (0 when the device has none).
    virtual bool getFeature(std::uint8_t* buffer, std::size_t length) = 0;
    virtual bool setFeature(const std::uint8_t* buffer, std::size_t length) = 0;
    virtual bool setNumInputBuffers(std::uint32_t count) = 0;
    virtual bool getNumInputBuffers(std::uint32_t& count) = 0;

    // Waits up to timeoutMs for one input report; byte 0 of the buffer is the report
    // ID (0 when the device has none).
    virtual HidReadResult readInput(std::uint8_t* buffer, std::size_t length, int timeoutMs) = 0;
    virtual void cancelRead() = 0;

    virtual std::uint32_t lastError() const = 0;
};

class HidPlatform {
public:
    virtual ~HidPlatform() = default;

    // False when the platform's HID facilities are missing: no enumeration, no events.
    virtual bool available() const = 0;

    virtual std::vector<HidInterfaceInfo> enumerate() = 0;

    // Null on failure, with the OS error code in *error when error is given.
    virtual std::unique_ptr<HidHandle> open(const std::string& path, HidOpenMode mode,
                                            std::uint32_t* error = nullptr) = 0;

    // The system's message text for an OS error code.
    virtual std::string errorText(std::uint32_t error) const = 0;

    // Device-change notification. The platform calls the listener, on the thread that
    // drives it (the user-interface thread), when the set of devices may have changed.
    // The listener must not re-enumerate inside the call: like a posted window message,
    // the change is handled the next time events are processed.
    using ChangeListener = std::function<void()>;
    virtual void setChangeListener(ChangeListener listener) = 0;

    // For platforms whose notifications arrive on a file descriptor (Linux: the udev
    // monitor): the descriptor an event loop watches, -1 when there is none.
    // processNotifications() is called when it is readable; it drains it and calls the
    // listener when a relevant change was seen.
    virtual int notificationDescriptor() const { return -1; }
    virtual void processNotifications() {}
};

}  // namespace qk750
