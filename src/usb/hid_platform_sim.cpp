#include "usb/hid_platform_sim.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "setup/file_io.h"
#include "setup/native_path.h"

namespace qk750 {

struct HidPlatformSim::Core {
    struct Device {
        SimDeviceConfig config;
        bool plugged = false;
        std::uint64_t instance = 0;
        std::uint64_t plugs = 0;  // handles opened under another plug-in are dead
        std::deque<std::vector<std::uint8_t>> input;
        std::uint32_t readError = 0;
    };

    std::mutex mutex;
    std::condition_variable inputArrived;
    std::vector<std::shared_ptr<Device>> devices;
    SimFirmware firmware;
    ChangeListener listener;
    std::uint64_t nextInstance = 1;
    int openCount = 0;
    int openHandles = 0;
    int featureTransfers = 0;

    void raiseChange() {
        ChangeListener listener;
        {
            std::lock_guard lock(mutex);
            listener = this->listener;
        }
        if (listener) {
            listener();
        }
    }
};

class HidPlatformSim::Handle : public HidHandle {
public:
    // Made with the core's mutex held.
    Handle(std::shared_ptr<Core> core, std::shared_ptr<Core::Device> device, HidOpenMode mode)
        : m_core(std::move(core)),
          m_device(std::move(device)),
          m_plug(m_device->plugs),
          m_mode(mode) {
        ++m_core->openHandles;
    }

    ~Handle() override {
        std::lock_guard lock(m_core->mutex);
        --m_core->openHandles;
    }

    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool getAttributes(HidAttributes& attributes) override {
        std::lock_guard lock(m_core->mutex);
        if (!usable() || m_device->config.attributesFail) {
            return fail(m_device->config.attributesFail ? kErrorInvalid : kErrorNoDevice);
        }
        attributes = m_device->config.attributes;
        return true;
    }

    bool getCaps(HidCaps& caps) override {
        std::lock_guard lock(m_core->mutex);
        if (!usable()) {
            return fail(kErrorNoDevice);
        }
        caps = m_device->config.caps;
        return true;
    }

    bool getProductString(std::u16string& product) override {
        std::lock_guard lock(m_core->mutex);
        if (!usable()) {
            return fail(kErrorNoDevice);
        }
        if (m_device->config.productString.empty()) {
            return fail(kErrorInvalid);
        }
        product = m_device->config.productString;
        return true;
    }

    bool getFeature(std::uint8_t* buffer, std::size_t length) override {
        std::lock_guard lock(m_core->mutex);
        if (!featureAllowed(length)) {
            return false;
        }
        ++m_core->featureTransfers;
        if (!m_core->firmware.getFeature(buffer, length)) {
            return fail(kErrorNoDevice);
        }
        return true;
    }

    bool setFeature(const std::uint8_t* buffer, std::size_t length) override {
        bool gone = false;
        bool ok = false;
        {
            std::lock_guard lock(m_core->mutex);
            if (!featureAllowed(length)) {
                return false;
            }
            ++m_core->featureTransfers;
            ok = m_core->firmware.setFeature(buffer, length);
            if (!ok) {
                m_lastError = kErrorInvalid;
            }
            if (m_core->firmware.unplugged()) {
                // The request went through; then the keyboard vanished from the bus.
                m_device->plugged = false;
                gone = true;
                m_core->inputArrived.notify_all();
            }
        }
        if (gone) {
            m_core->raiseChange();
        }
        return ok;
    }

    bool setNumInputBuffers(std::uint32_t count) override {
        std::lock_guard lock(m_core->mutex);
        if (!usable()) {
            return fail(kErrorNoDevice);
        }
        if (count < 2 || count > 512) {
            return fail(kErrorInvalid);
        }
        m_inputBuffers = count;
        return true;
    }

    bool getNumInputBuffers(std::uint32_t& count) override {
        std::lock_guard lock(m_core->mutex);
        if (!usable()) {
            return fail(kErrorNoDevice);
        }
        count = m_inputBuffers;
        return true;
    }

    HidReadResult readInput(std::uint8_t* buffer, std::size_t length, int timeoutMs) override {
        std::unique_lock lock(m_core->mutex);
        if (m_mode != HidOpenMode::OverlappedRead) {
            fail(kErrorInvalid);
            return {HidReadStatus::Error, 0};
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        for (;;) {
            if (m_cancelled) {
                m_cancelled = false;
                return {HidReadStatus::Timeout, 0};
            }
            if (!usable()) {
                fail(kErrorNoDevice);
                return {HidReadStatus::Error, 0};
            }
            if (m_device->readError != 0) {
                fail(m_device->readError);
                return {HidReadStatus::Error, 0};
            }
            if (!m_device->input.empty()) {
                const std::vector<std::uint8_t> report = std::move(m_device->input.front());
                m_device->input.pop_front();
                const std::size_t n = std::min(length, report.size());
                std::copy_n(report.begin(), n, buffer);
                return {HidReadStatus::Data, n};
            }
            if (m_core->inputArrived.wait_until(lock, deadline) == std::cv_status::timeout) {
                return {HidReadStatus::Timeout, 0};
            }
        }
    }

    void cancelRead() override {
        std::lock_guard lock(m_core->mutex);
        // Kept until the next read sees it, so a cancel that comes just before the read
        // starts waiting is not lost.
        m_cancelled = true;
        m_core->inputArrived.notify_all();
    }

    std::uint32_t lastError() const override { return m_lastError; }

private:
    bool usable() const { return m_device->plugged && m_device->plugs == m_plug; }

    bool fail(std::uint32_t error) {
        m_lastError = error;
        return false;
    }

    bool featureAllowed(std::size_t length) {
        if (!usable()) {
            return fail(kErrorNoDevice);
        }
        if (m_mode != HidOpenMode::ReadWrite) {
            return fail(kErrorAccessDenied);
        }
        if (!m_device->config.keyboard || length != m_device->config.caps.FeatureReportByteLength) {
            return fail(kErrorInvalid);
        }
        return true;
    }

    std::shared_ptr<Core> m_core;
    std::shared_ptr<Core::Device> m_device;
    std::uint64_t m_plug;
    HidOpenMode m_mode;
    std::uint32_t m_lastError = 0;
    std::uint32_t m_inputBuffers = 32;
    bool m_cancelled = false;  // guarded by the core's mutex
};

SimDeviceConfig HidPlatformSim::keyboardConfig() {
    SimDeviceConfig config;
    config.name = "keyboard";
    config.productString = u"ZQ QK750 USB Keyboard";
    config.attributes = {0x2F0A, 0x0750, 0x0107};
    config.caps.UsagePage = 0x01;
    config.caps.Usage = 0x06;
    config.caps.InputReportByteLength = 9;
    config.caps.OutputReportByteLength = 2;
    config.caps.FeatureReportByteLength = 7;
    config.keyboard = true;
    return config;
}

SimDeviceConfig HidPlatformSim::namelessConfig() {
    SimDeviceConfig config;
    config.name = "nameless";
    config.attributes = {0x1234, 0xABCD, 0x0100};
    config.caps.UsagePage = 0x01;
    config.caps.Usage = 0x02;
    config.caps.InputReportByteLength = 5;
    return config;
}

SimDeviceConfig HidPlatformSim::wrongFeatureLengthConfig() {
    SimDeviceConfig config;
    config.name = "service";
    config.productString = u"ZQ QK750 Service Interface";
    config.attributes = {0x2F0A, 0x0751, 0x0107};
    config.caps.UsagePage = 0xFF00;
    config.caps.Usage = 0x01;
    config.caps.InputReportByteLength = 3;
    config.caps.FeatureReportByteLength = 8;
    return config;
}

HidPlatformSim::HidPlatformSim() : HidPlatformSim(Options{}) {}

HidPlatformSim::HidPlatformSim(Options options)
    : m_core(std::make_shared<Core>()), m_reuseIdentities(options.reuseIdentities) {
    m_core->firmware.setClock(options.clock);
    m_core->firmware.setFaultPlan(std::move(options.faults));
    // The decoy with the model name but the wrong feature length comes first, so the
    // search for the keyboard has to look past it.
    if (options.otherInterfaces) {
        addDevice(wrongFeatureLengthConfig());
    }
    m_keyboardIndex = addDevice(keyboardConfig());
    if (options.otherInterfaces) {
        addDevice(namelessConfig());
    }
}

HidPlatformSim::~HidPlatformSim() {
    std::lock_guard lock(m_core->mutex);
    m_core->listener = nullptr;
}

std::vector<HidInterfaceInfo> HidPlatformSim::enumerate() {
    std::lock_guard lock(m_core->mutex);
    std::vector<HidInterfaceInfo> found;
    for (std::size_t i = 0; i < m_core->devices.size(); ++i) {
        const auto& device = m_core->devices[i];
        if (device->plugged) {
            const std::string instance = std::to_string(device->instance);
            found.push_back({"sim/" + device->config.name + "/" + instance,
                             "sim:" + std::to_string(i) + ":" + instance});
        }
    }
    return found;
}

std::unique_ptr<HidHandle> HidPlatformSim::open(const std::string& path, HidOpenMode mode,
                                                std::uint32_t* error) {
    auto fail = [&](std::uint32_t code) -> std::unique_ptr<HidHandle> {
        if (error != nullptr) {
            *error = code;
        }
        return nullptr;
    };
    // "sim:<index>:<instance>"
    const auto second = path.find(':', 4);
    if (path.rfind("sim:", 0) != 0 || second == std::string::npos) {
        return fail(kErrorNoDevice);
    }
    const std::size_t index = std::strtoul(path.substr(4, second - 4).c_str(), nullptr, 10);
    const std::uint64_t instance = std::strtoull(path.substr(second + 1).c_str(), nullptr, 10);
    std::lock_guard lock(m_core->mutex);
    if (index >= m_core->devices.size()) {
        return fail(kErrorNoDevice);
    }
    const auto& device = m_core->devices[index];
    if (!device->plugged || device->instance != instance) {
        return fail(kErrorNoDevice);
    }
    const std::uint32_t refused = mode == HidOpenMode::QueryOnly
                                      ? device->config.queryOpenError
                                      : device->config.readWriteOpenError;
    if (refused != 0) {
        return fail(refused);
    }
    ++m_core->openCount;
    return std::make_unique<Handle>(m_core, device, mode);
}

std::string HidPlatformSim::errorText(std::uint32_t error) const {
    switch (error) {
        case 0:
            return "Success";
        case kErrorNoDevice:
            return "No such device";
        case kErrorAccessDenied:
            return "Permission denied";
        case kErrorInvalid:
            return "Invalid argument";
        default:
            return "Error " + std::to_string(error);
    }
}

void HidPlatformSim::setChangeListener(ChangeListener listener) {
    std::lock_guard lock(m_core->mutex);
    m_core->listener = std::move(listener);
}

std::size_t HidPlatformSim::addDevice(const SimDeviceConfig& config, bool plugged) {
    std::size_t index;
    {
        std::lock_guard lock(m_core->mutex);
        auto device = std::make_shared<Core::Device>();
        device->config = config;
        index = m_core->devices.size();
        m_core->devices.push_back(std::move(device));
    }
    if (plugged) {
        plug(index);
    }
    return index;
}

std::size_t HidPlatformSim::deviceCount() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->devices.size();
}

void HidPlatformSim::plug(std::size_t index) {
    {
        std::lock_guard lock(m_core->mutex);
        auto& device = *m_core->devices.at(index);
        if (device.plugged) {
            return;
        }
        device.plugged = true;
        ++device.plugs;
        if (device.instance == 0 || !m_reuseIdentities) {
            device.instance = m_core->nextInstance++;
        }
        device.input.clear();
        if (device.config.keyboard) {
            m_core->firmware.replug();
        }
    }
    m_core->raiseChange();
}

void HidPlatformSim::unplug(std::size_t index) {
    {
        std::lock_guard lock(m_core->mutex);
        auto& device = *m_core->devices.at(index);
        if (!device.plugged) {
            return;
        }
        device.plugged = false;
        m_core->inputArrived.notify_all();
    }
    m_core->raiseChange();
}

bool HidPlatformSim::isPlugged(std::size_t index) const {
    std::lock_guard lock(m_core->mutex);
    return m_core->devices.at(index)->plugged;
}

void HidPlatformSim::notifyChange() {
    m_core->raiseChange();
}

void HidPlatformSim::pushInputReport(std::size_t index, std::vector<std::uint8_t> report) {
    std::lock_guard lock(m_core->mutex);
    m_core->devices.at(index)->input.push_back(std::move(report));
    m_core->inputArrived.notify_all();
}

void HidPlatformSim::setOpenErrors(std::size_t index, std::uint32_t readWrite,
                                   std::uint32_t query) {
    std::lock_guard lock(m_core->mutex);
    auto& config = m_core->devices.at(index)->config;
    config.readWriteOpenError = readWrite;
    config.queryOpenError = query;
}

void HidPlatformSim::setReadError(std::size_t index, std::uint32_t error) {
    std::lock_guard lock(m_core->mutex);
    m_core->devices.at(index)->readError = error;
    m_core->inputArrived.notify_all();
}

SimFirmware& HidPlatformSim::firmware() {
    return m_core->firmware;
}

const SimFirmware& HidPlatformSim::firmware() const {
    return m_core->firmware;
}

void HidPlatformSim::plugNewKeyboard(int number) {
    {
        std::lock_guard lock(m_core->mutex);
        std::array<std::uint8_t, SimFirmware::kMemorySize> erased;
        erased.fill(0xFF);
        m_core->firmware.setMemory(erased);
        m_core->firmware.setFaultPlan(m_plans.forKeyboard(number));
        m_core->firmware.resetCounters();
    }
    plug(m_keyboardIndex);
}

bool HidPlatformSim::loadMemoryFile(const std::string& path, std::string* error) {
    m_memoryFile = path;
    const auto fail = [error, &path](const char* what, const std::string& reason) {
        if (error != nullptr) {
            *error = std::string(what) + " the simulated keyboard memory " + path + ": " + reason;
        }
        return false;
    };
    std::error_code ec;
    if (std::filesystem::is_directory(nativePath(path), ec)) {
        return fail("cannot use", std::generic_category().message(EISDIR));
    }
    // One byte more than the memory, so that a longer file shows as one.
    const FileReadResult read = readFile(path, SimFirmware::kMemorySize + 1);
    if (read.status == ReadStatus::Failed) {
        return fail("cannot read", read.error);
    }
    if (read.status == ReadStatus::Ok) {
        const std::vector<std::uint8_t> bytes(read.data.begin(), read.data.end());
        std::lock_guard lock(m_core->mutex);
        if (!m_core->firmware.setMemory(bytes)) {
            const auto size = std::filesystem::file_size(nativePath(path), ec);
            return fail("cannot use", "it holds " + std::to_string(ec ? bytes.size() : size) +
                                          " bytes, not " +
                                          std::to_string(SimFirmware::kMemorySize));
        }
    }
    // Written back at once: a place where the memory cannot be kept is refused before
    // anything is programmed into a keyboard whose memory would then be lost.
    return saveMemoryFile(error);
}

bool HidPlatformSim::saveMemoryFile(std::string* error) const {
    return m_memoryFile.empty() || saveMemoryFile(m_memoryFile, error);
}

bool HidPlatformSim::saveMemoryFile(const std::string& path, std::string* error) const {
    std::array<std::uint8_t, SimFirmware::kMemorySize> memory;
    {
        std::lock_guard lock(m_core->mutex);
        memory = m_core->firmware.memory();
    }
    const std::string reason = writeFileAtomically(
        path, std::string_view(reinterpret_cast<const char*>(memory.data()), memory.size()));
    if (!reason.empty()) {
        if (error != nullptr) {
            *error = "cannot write the simulated keyboard memory " + path + ": " + reason;
        }
        return false;
    }
    return true;
}

int HidPlatformSim::openCount() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->openCount;
}

int HidPlatformSim::openHandles() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->openHandles;
}

int HidPlatformSim::featureTransfers() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->featureTransfers;
}

std::unique_ptr<HidPlatformSim> CreateSimulatedHidPlatform(const std::string& memoryFile,
                                                           std::string* error) {
    HidPlatformSim::Options options;
    SimFaultPlans plans;
    if (const char* plan = std::getenv("QK750_SIM_FAULTS"); plan != nullptr) {
        std::string why;
        auto parsed = parseSimFaultPlans(plan, &why);
        if (!parsed) {
            if (error != nullptr) {
                *error = "QK750_SIM_FAULTS: " + why;
            }
            return nullptr;
        }
        plans = std::move(*parsed);
    }
    options.faults = plans.forKeyboard(1);
    auto platform = std::make_unique<HidPlatformSim>(std::move(options));
    platform->setFaultPlans(std::move(plans));
    if (!memoryFile.empty() && !platform->loadMemoryFile(memoryFile, error)) {
        return nullptr;
    }
    return platform;
}

}  // namespace qk750
