#include "usb/programming_protocol.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace qk750 {

namespace {

std::string hexByte(std::uint8_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

// "GET FEATURE ERROR: <the system's text> (<code in hex>)", and the same for a send.
std::string transferError(const char* transfer, const HidDevice& device) {
    char code[16];
    std::snprintf(code, sizeof code, "%X", static_cast<unsigned>(device.LastError()));
    return std::string(transfer) + " FEATURE ERROR: " + device.LastErrorText() + " (" + code + ")";
}

}  // namespace

int TransferExtent(int setupSize) {
    const int extent = setupSize + kStringAreaStart + 6;
    return extent > 2047 ? 2046 : extent;
}

FeatureReport BuildRequest(const RequestBytes& request) {
    FeatureReport report{};
    std::uint8_t check = 0;
    for (std::size_t i = 0; i < request.size(); ++i) {
        report[i + 1] = request[i];
        check ^= request[i];
    }
    report[6] = check;
    return report;
}

std::string VerifyDetail(int address, std::uint8_t first, std::uint8_t readBack) {
    char text[40];
    std::snprintf(text, sizeof text, "Memory %04X Written%02X Read=%02X",
                  static_cast<unsigned>(address) & 0xFFFFu, first, readBack);
    return text;
}

std::string ReceiveErrorText(int address) {
    return "Error receiving data from USB QK750 Memory #" + std::to_string(address) +
           " !!\r\r  Check connection.";
}

int ProgressPercent(int position, int maximum) {
    if (maximum <= 0) {
        return 100;
    }
    return std::min(100, static_cast<int>(static_cast<long long>(position) * 100 / maximum));
}

std::string BatchTitle(int percent) {
    return std::to_string(percent) + "% ZQ QK750 USB";
}

ProgrammingProtocol::ProgrammingProtocol(ProgramState& state, DeviceList& devices,
                                         ProtocolReporter& reporter, ProtocolWaits& waits)
    : m_state(state), m_devices(devices), m_reporter(reporter), m_waits(waits) {}

bool ProgrammingProtocol::ProgramKeyboard(const ImageBuilder& buildImage) {
    if (!buildImage(m_image, m_setupSize)) {
        return false;
    }
    if (!EnsureKeyboardConnected()) {
        return false;
    }
    const int extent = TransferExtent(m_setupSize);
    m_maximum = extent;
    m_position = 1;
    m_reporter.progressStart(m_maximum);
    for (int address = 0; address <= extent; address += 2) {
        if (!WriteWordVerified(address, m_image[static_cast<std::size_t>(address)],
                               m_image[static_cast<std::size_t>(address) + 1])) {
            return false;
        }
    }
    if (!WriteWordVerified(kClosingAddress, 0, 0)) {
        return false;
    }
    m_reporter.progressHide();
    return true;
}

void ProgrammingProtocol::PauseBeforeProgramming() {
    m_waits.pumpedWait(kPauseBeforeProgrammingMs, &m_state.Globals.StopWaiting);
}

bool ProgrammingProtocol::EnsureKeyboardConnected() {
    for (int attempt = 1; attempt < 5; ++attempt) {
        if (FindKeyboard()) {
            return true;
        }
        // The list follows the system's announcements, and one that came before the
        // device could be enumerated (seen under Wine after a quick re-plug) leaves it
        // behind: look at the devices once more before giving up or asking.
        m_devices.controller().HandleNotification(HidController::kDevNodesChanged);
        if (FindKeyboard()) {
            return true;
        }
        m_reporter.progressHide();
        if (attempt == 1) {
            if (m_state.BatchMode) {
                m_reporter.failure(kErrUsbKbdNotConnected, m_state.SetupFileName,
                                   "USB QK750 not found.");
                return false;
            }
            if (!m_reporter.askToConnect(kConnectQuestion)) {
                return false;
            }
        } else if (!m_reporter.askToConnect(kNotFoundQuestion)) {
            return false;
        }
    }
    return false;
}

bool ProgrammingProtocol::FindKeyboard() {
    const int n = m_devices.count();
    if (n == 0) {
        return false;
    }
    int index = 0;
    m_devices.select(index);
    while (m_devices.selectedIndex() < n && m_devices.selectedIndex() == index) {
        if (IsTargetDevice()) {
            return true;
        }
        ++index;
        m_devices.select(index);
    }
    return false;
}

bool ProgrammingProtocol::IsTargetDevice() {
    HidDevice* device = m_devices.currentDevice();
    return device != nullptr && LooksLikeKeyboard(*device);
}

bool ProgrammingProtocol::WriteWordVerified(int address, std::uint8_t first, std::uint8_t second) {
    const RequestBytes request{kCommandWrite, static_cast<std::uint8_t>(address / 256),
                               static_cast<std::uint8_t>(address % 256), first, second};
    FeatureReport reply{};
    const bool ok = SendRequest(request, reply);
    std::uint8_t& status = m_state.Globals.UsbStatus;
    if (status != kUsbAnswered || !ok) {
        m_reporter.progressHide();
    }
    const std::string& setupFile = m_state.SetupFileName;
    switch (status) {
        case kUsbAnswered:
            if (ok && reply[1] != kReplyOk) {
                status = kUsbVerifyError;
                // Like every other failure box, not shown behind the progress window.
                m_reporter.progressHide();
                const std::string detail = VerifyDetail(address, first, reply[2]);
                m_reporter.failure(kErrWriteVerify, detail,
                                   "Verify error in data write to USB QK750\r\r" + detail);
            }
            break;
        case kUsbCrcError:
            m_reporter.failure(kErrUsbCrc, setupFile, kCrcErrorText);
            break;
        case kUsbNoAnswer:
            m_reporter.failure(kErrUsbReceive, setupFile, ReceiveErrorText(address));
            break;
        case kUsbAborted:
            m_reporter.failure(kErrUserAbort, setupFile, kUserAbortText);
            break;
        case kUsbSendFailed:
            m_reporter.failure(kErrUsbSend, setupFile, kSendErrorText);
            break;
        default:
            break;
    }
    if (status != kUsbAnswered || !ok) {
        m_reporter.progressHide();
        return false;
    }

    m_position = address;
    m_reporter.progressStep(m_position, m_maximum);
    if (m_state.BatchMode) {
        const int percent = ProgressPercent(m_position, m_maximum);
        if (percent % 5 == 0 || m_maximum < 500) {
            m_waits.processMessages();
            // Gives the title a chance to be drawn. A 1 ms sleep here would add 15% to a
            // small setup's run for nothing the keyboard needs.
            std::this_thread::yield();
        }
    }
    return true;
}

bool ProgrammingProtocol::SendRequest(const RequestBytes& request, FeatureReport& reply) {
    const FeatureReport report = BuildRequest(request);
    m_state.Globals.UsbStatus = kUsbSendFailed;
    HidDevice* device = m_devices.currentDevice();
    if (device == nullptr) {
        return false;
    }
    if (!device->SetFeature(report.data(), report.size())) {
        m_devices.AddToHistory(transferError("SET", *device));
        return false;
    }
    m_waits.pumpedWait(request[0] == kCommandWrite ? kWaitAfterWriteMs : kWaitAfterOtherMs);
    if (WaitForReply(report[5], reply)) {
        m_state.Globals.UsbStatus = kUsbAnswered;
        return true;
    }
    return false;
}

bool ProgrammingProtocol::WaitForReply(std::uint8_t sentByte5, FeatureReport& reply) {
    int polls = 0;
    while (!m_state.Globals.StopWaiting) {
        m_waits.processMessages();
        if (ReadFeatureReport(reply.data(), reply.size()) && reply[5] != sentByte5) {
            if (reply[1] == 'E' && reply[2] == 'C') {
                m_state.Globals.UsbStatus = kUsbCrcError;
                return false;
            }
            m_state.Globals.UsbStatus = kUsbAnswered;
            return true;
        }
        m_waits.pumpedWait(kWaitBetweenPollsMs);
        if (++polls == kMaxPolls) {
            m_state.Globals.UsbStatus = kUsbNoAnswer;
            return false;
        }
    }
    m_state.Globals.UsbStatus = kUsbAborted;
    return false;
}

bool ProgrammingProtocol::ReadFeatureReport(std::uint8_t* buffer, std::size_t length) {
    HidDevice* device = m_devices.currentDevice();
    if (device == nullptr) {
        return false;
    }
    std::uint8_t work[64] = {};
    length = std::min(length, sizeof work);
    work[0] = 0;
    if (!device->GetFeature(work, length)) {
        m_devices.AddToHistory(transferError("GET", *device));
        return false;
    }
    std::copy(work, work + length, buffer);
    std::string line = "RD " + hexByte(work[0]) + "  ";
    for (std::size_t i = 1; i < length; ++i) {
        line += hexByte(work[i]) + " ";
    }
    m_devices.AddToHistory(line);
    return true;
}

}  // namespace qk750
