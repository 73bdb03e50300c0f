#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "usb/hid_platform.h"
#include "usb/sim_firmware.h"

namespace qk750 {

// One simulated HID interface as it is plugged into the simulated computer.
struct SimDeviceConfig {
    std::string name;              // names the device within the simulation
    std::u16string productString;  // empty: the device has none
    HidAttributes attributes;
    HidCaps caps;
    bool keyboard = false;                 // answers feature reports with the firmware
    std::uint32_t readWriteOpenError = 0;  // non-zero: opening for read/write fails so
    std::uint32_t queryOpenError = 0;      // non-zero: query-only opening fails so
    bool attributesFail = false;
};

// The simulated computer: a virtual QK750 and, unless asked otherwise, two interfaces
// that are not the keyboard. Devices can be plugged and unplugged at any time; each
// plug-in is a new instance. Transfers may come from the user-interface thread and a
// reader thread at once, so the state is behind one mutex; the change listener is
// called without it held, and only ever as a notification (never a re-enumeration).
class HidPlatformSim : public HidPlatform {
public:
    // Error codes the simulated devices report: the host's own codes for these cases.
#ifdef _WIN32
    static constexpr std::uint32_t kErrorNoDevice = 1167;   // ERROR_DEVICE_NOT_CONNECTED
    static constexpr std::uint32_t kErrorAccessDenied = 5;  // ERROR_ACCESS_DENIED
    static constexpr std::uint32_t kErrorInvalid = 87;      // ERROR_INVALID_PARAMETER
#else
    static constexpr std::uint32_t kErrorNoDevice = 19;      // ENODEV
    static constexpr std::uint32_t kErrorAccessDenied = 13;  // EACCES
    static constexpr std::uint32_t kErrorInvalid = 22;       // EINVAL
#endif

    static SimDeviceConfig keyboardConfig();
    static SimDeviceConfig namelessConfig();
    static SimDeviceConfig wrongFeatureLengthConfig();

    struct Options {
        bool otherInterfaces = true;
        SimFirmware::Clock clock;  // empty: the steady clock
        SimFaultPlan faults;
        // A device plugged in again keeps its identity and path, as Windows keeps them
        // for a device that comes back on the same port; handles opened before stay dead.
        bool reuseIdentities = false;
    };

    HidPlatformSim();
    explicit HidPlatformSim(Options options);
    ~HidPlatformSim() override;

    // HidPlatform
    bool available() const override {
        return true;
    }
    std::vector<HidInterfaceInfo> enumerate() override;
    std::unique_ptr<HidHandle> open(const std::string& path, HidOpenMode mode,
                                    std::uint32_t* error = nullptr) override;
    std::string errorText(std::uint32_t error) const override;
    void setChangeListener(ChangeListener listener) override;

    // Devices. Indexes count in the order added, which is the enumeration order.
    std::size_t addDevice(const SimDeviceConfig& config, bool plugged = true);
    std::size_t deviceCount() const;
    std::size_t keyboardIndex() const {
        return m_keyboardIndex;
    }
    void plug(std::size_t index);
    void unplug(std::size_t index);
    bool isPlugged(std::size_t index) const;
    // A broadcast that changes nothing, as systems send now and then.
    void notifyChange();
    // Queues one input report (byte 0 the report ID) for the device's readers.
    void pushInputReport(std::size_t index, std::vector<std::uint8_t> report);
    // Makes opening the device fail from now on (0: opens normally).
    void setOpenErrors(std::size_t index, std::uint32_t readWrite, std::uint32_t query);
    // Makes the device's next input reads fail with this error (0: read normally).
    void setReadError(std::size_t index, std::uint32_t error);

    // The keyboard's firmware. Only feature transfers touch it, and those come from the
    // user-interface thread, as do the tests that look at it.
    SimFirmware& firmware();
    const SimFirmware& firmware() const;

    // A roll-out meets one keyboard after another: keyboard `number` is a new one, its
    // memory erased as from the factory and its fault plan its own, plugged in where the
    // keyboard was (already there: it takes the new one's place).
    void setFaultPlans(SimFaultPlans plans) {
        m_plans = std::move(plans);
    }
    void plugNewKeyboard(int number);

    // Memory file: loaded when it exists, then written back at once. A folder, a file
    // that is not 2048 bytes, or one that cannot be read or written is an error, with
    // the reason in *error.
    bool loadMemoryFile(const std::string& path, std::string* error);
    // Writes the keyboard's memory to the file given to loadMemoryFile (or to path),
    // replacing it atomically so that a failed write leaves the old one intact.
    bool saveMemoryFile(std::string* error) const;
    bool saveMemoryFile(const std::string& path, std::string* error) const;
    const std::string& memoryFile() const {
        return m_memoryFile;
    }

    // Counters for tests.
    int openCount() const;
    int openHandles() const;
    int featureTransfers() const;

    struct Core;

private:
    class Handle;

    // Shared with the open handles, which may outlive a device's removal.
    std::shared_ptr<Core> m_core;
    std::size_t m_keyboardIndex = 0;
    bool m_reuseIdentities = false;
    std::string m_memoryFile;
    SimFaultPlans m_plans;
};

// The simulated computer for `--simulate[=FILE]`: the fault plans from QK750_SIM_FAULTS
// (keyboard 1's is the one plugged in) and the memory from FILE (when given and present).
// Null with a message in *error when either is malformed.
std::unique_ptr<HidPlatformSim> CreateSimulatedHidPlatform(const std::string& memoryFile,
                                                           std::string* error);

}  // namespace qk750
