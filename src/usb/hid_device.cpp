#include "usb/hid_controller.h"

namespace qk750 {

namespace {

// A product string ends at its first zero and holds at most 254 characters.
std::u16string trimProductString(const std::u16string& text) {
    std::u16string result = text.substr(0, text.find(u'\0'));
    if (result.size() > 254) {
        result.resize(254);
    }
    return result;
}

}  // namespace

HidDevice::HidDevice(std::unique_ptr<HidPnPInfo> pnpInfo, HidController& controller)
    : m_controller(&controller),
      m_platform(controller.platform()),
      m_dispatcher(controller.dispatcher()),
      m_pnpInfo(std::move(pnpInfo)) {
    SetOnData(controller.OnDeviceData());  // not claimed yet, so no reader starts
    m_onDataError = controller.OnDeviceDataError();
    m_onUnplug = controller.OnDeviceUnplug();

    std::uint32_t error = 0;
    if (!openFile(error)) {
        throw HidControllerError("device cannot be opened", error);
    }
    if (!m_file->getAttributes(m_attributes)) {
        throw HidControllerError("device cannot be identified", m_file->lastError());
    }
    closeFileHandle();
}

HidDevice::~HidDevice() {
    closeHandles();
}

void HidDevice::release() {
    if (m_controller != nullptr) {
        m_controller->releaseDevice(this);
        return;
    }
    // The controller went first and left this claimed object to its claimant.
    delete this;
}

bool HidDevice::openFile(std::uint32_t& error) {
    // Read-write when the system allows it; a device opened for queries only is listed
    // but never read or written.
    m_file = m_platform.open(m_pnpInfo->DevicePath(), HidOpenMode::ReadWrite, &error);
    m_readWriteAccess = m_file != nullptr;
    if (!m_file) {
        m_file = m_platform.open(m_pnpInfo->DevicePath(), HidOpenMode::QueryOnly, &error);
    }
    return m_file != nullptr;
}

HidHandle* HidDevice::fileHandle() {
    if (!m_file && IsAccessible()) {
        std::uint32_t error = 0;
        if (!openFile(error)) {
            m_lastError = error;
            return nullptr;
        }
        if (m_numInputBuffers != 0) {
            applyInputBuffers(*m_file, m_numInputBuffers);
        }
    }
    return m_file.get();
}

void HidDevice::applyInputBuffers(HidHandle& handle, std::uint32_t& count) {
    const std::uint32_t asked = count;
    if (!handle.setNumInputBuffers(asked)) {
        m_lastError = handle.lastError();
    }
    std::uint32_t readBack = 0;
    count = handle.getNumInputBuffers(readBack) ? readBack : asked;
}

HidHandle* HidDevice::overlappedReadHandle(std::uint32_t* error) {
    if (!m_overlappedRead && IsAccessible()) {
        m_overlappedRead =
            m_platform.open(m_pnpInfo->DevicePath(), HidOpenMode::OverlappedRead, error);
        if (m_overlappedRead && m_numOverlappedBuffers != 0) {
            std::uint32_t count = m_numOverlappedBuffers;
            applyInputBuffers(*m_overlappedRead, count);
            m_numOverlappedBuffers = count;
        }
    }
    return m_overlappedRead.get();
}

void HidDevice::closeFileHandle() {
    m_file.reset();
}

void HidDevice::closeHandles() {
    // The reader uses the overlapped read handle: it has to end before that closes.
    stopReadThread();
    closeFileHandle();
    m_overlappedRead.reset();
    m_overlappedWrite.reset();
}

void HidDevice::CloseHandles() {
    closeHandles();
    startReadThreadIfAllowed();
}

HidCaps HidDevice::Caps() {
    if (!m_preparsed) {
        if (HidHandle* handle = fileHandle()) {
            HidCaps caps;
            if (handle->getCaps(caps)) {
                m_preparsed = caps;
            } else {
                m_lastError = handle->lastError();
            }
            closeFileHandle();
        }
    }
    return m_preparsed.value_or(HidCaps{});
}

std::u16string HidDevice::ProductName() {
    if (m_productName.empty()) {
        if (HidHandle* handle = fileHandle()) {
            std::u16string product;
            if (handle->getProductString(product)) {
                m_productName = trimProductString(product);
            }
            closeFileHandle();
        }
    }
    return m_productName;
}

bool HidDevice::GetFeature(std::uint8_t* buffer, std::size_t length) {
    return featureTransfer([&](HidHandle& handle) { return handle.getFeature(buffer, length); });
}

bool HidDevice::SetFeature(const std::uint8_t* buffer, std::size_t length) {
    return featureTransfer([&](HidHandle& handle) { return handle.setFeature(buffer, length); });
}

bool HidDevice::featureTransfer(const std::function<bool(HidHandle&)>& transfer) {
    if (!IsAccessible()) {
        // Nothing was asked of the system.
        m_lastError = 0;
        return false;
    }
    HidHandle* handle = fileHandle();
    if (handle == nullptr) {
        return false;
    }
    if (!transfer(*handle)) {
        m_lastError = handle->lastError();
        return false;
    }
    return true;
}

// The counts are asked of every listed device, so they do not open a handle: each is
// kept and given to its handle whenever that opens (a handle held open for it would keep
// other programs' exclusive opens out for as long as this one runs).
void HidDevice::SetNumInputBuffers(std::uint32_t count) {
    m_numInputBuffers = count;
    if (m_file) {
        applyInputBuffers(*m_file, m_numInputBuffers);
    }
}

void HidDevice::SetNumOverlappedBuffers(std::uint32_t count) {
    m_numOverlappedBuffers = count;
    if (!m_overlappedRead) {
        return;
    }
    // The handle belongs to the reader while it runs; it is set up again afterwards.
    const bool wasReading = m_readThread != nullptr;
    stopReadThread();
    applyInputBuffers(*m_overlappedRead, count);
    m_numOverlappedBuffers = count;
    if (wasReading) {
        startReadThreadIfAllowed();
    }
}

void HidDevice::SetOnData(HidDataEvent handler) {
    if (!handler) {
        stopReadThread();
    }
    m_onData = std::move(handler);
    startReadThreadIfAllowed();
}

void HidDevice::SetThreadSleepTime(std::uint32_t ms) {
    if (ms >= kMinThreadSleepTime && ms <= kMaxThreadSleepTime) {
        m_threadSleepTime = ms;
    }
}

std::string HidDevice::ErrorText(std::uint32_t error) const {
    return m_platform.errorText(error);
}

std::string HidDevice::LastErrorText() const {
    return ErrorText(m_lastError);
}

void HidDevice::setClaimed() {
    m_claimed = true;
    startReadThreadIfAllowed();
}

void HidDevice::startReadThreadIfAllowed() {
    if (!m_onData || !m_pluggedIn || !m_claimed || !m_readWriteAccess || m_readThread) {
        return;
    }
    // A device without input reports has nothing to read; a zero-length read would
    // return at once, again and again.
    const std::size_t length = Caps().InputReportByteLength;
    if (length == 0) {
        return;
    }
    m_readThread = std::make_unique<HidReadThread>(*this, length);
}

void HidDevice::stopReadThread() {
    if (m_readThread) {
        m_readThread->stop();
        m_readThread.reset();
    }
}

void HidDevice::markUnplugged() {
    closeHandles();
    m_pluggedIn = false;
    const HidPlugEvent handler = m_onUnplug;
    handler(*this);
    m_onUnplug = {};
}

void HidDevice::deliverData(const std::uint8_t* report, std::size_t length) {
    if (m_onData && length > 0) {
        m_onData(*this, report[0], report + 1, static_cast<std::uint16_t>(length - 1));
    }
}

void HidDevice::deliverError(std::uint32_t error) {
    m_onDataError(*this, error);
}

}  // namespace qk750
