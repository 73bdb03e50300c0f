#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "keys/device_image.h"
#include "setup/program_state.h"
#include "usb/device_list.h"
#include "usb/protocol_ports.h"

namespace qk750 {

// The keyboard's feature report: report ID, command, address (high, low), two data bytes,
// check byte.
inline constexpr std::size_t kReportLength = 7;
using FeatureReport = std::array<std::uint8_t, kReportLength>;
using RequestBytes = std::array<std::uint8_t, 5>;

inline constexpr std::uint8_t kCommandWrite = 'W';
inline constexpr std::uint8_t kReplyOk = '+';
inline constexpr int kClosingAddress = 2047;
inline constexpr int kMaxPolls = 15;
inline constexpr int kPauseBeforeProgrammingMs = 100;
inline constexpr int kWaitAfterWriteMs = 6;
inline constexpr int kWaitAfterOtherMs = 1;
inline constexpr int kWaitBetweenPollsMs = 2;

// The texts and codes of the transfer's failures.
inline constexpr std::string_view kConnectQuestion =
    "Make sure USB QK750 is connected, \rand press OK to start programming...                    ";
inline constexpr std::string_view kNotFoundQuestion =
    "USB QK750 not found.\r\rConnect USB QK750 to USB Port and try again.";
inline constexpr std::string_view kSendErrorText =
    "Error sending data to USB QK750 !! Check connection.";
inline constexpr std::string_view kCrcErrorText =
    "CRC Error in data to USB QK750! Check connection.";
inline constexpr std::string_view kUserAbortText = "User Abort!! Not all data was programmed !!!";
inline constexpr std::string_view kErrUsbKbdNotConnected = "ERR_USB_KBD_NOT_CONNECTED";
inline constexpr std::string_view kErrWriteVerify = "ERR_WRITE_VERIFY";
inline constexpr std::string_view kErrUsbCrc = "ERR_USB_CRC";
inline constexpr std::string_view kErrUsbReceive = "ERR_USB_RECEIVE";
inline constexpr std::string_view kErrUserAbort = "ERR_USER_ABORT";
inline constexpr std::string_view kErrUsbSend = "ERR_USB_SEND";

// The highest even address the run writes a pair at: SetupSize + 358, capped at 2046.
int TransferExtent(int setupSize);
// The request as sent: report ID 0, the five request bytes, their exclusive-or.
FeatureReport BuildRequest(const RequestBytes& request);
// "Memory 0010 Written41 Read=FF"
std::string VerifyDetail(int address, std::uint8_t first, std::uint8_t readBack);
std::string ReceiveErrorText(int address);
// The batch title's percentage: position * 100 / maximum, truncated, at most 100.
int ProgressPercent(int position, int maximum);
std::string BatchTitle(int percent);

// Moves a device image into the keyboard, two bytes per verified request. Talks to the
// user only through the reporter and waits only through the waits, so the windows,
// batch mode and the tests share it.
class ProgrammingProtocol {
public:
    // Builds the image (reporting its own failure); false ends the run.
    using ImageBuilder = std::function<bool(DeviceImage& image, int& setupSize)>;

    ProgrammingProtocol(ProgramState& state, DeviceList& devices, ProtocolReporter& reporter,
                        ProtocolWaits& waits);

    bool ProgramKeyboard(const ImageBuilder& buildImage);
    // The 100 ms wait before a run; ends early when StopWaiting is set.
    void PauseBeforeProgramming();
    bool EnsureKeyboardConnected();
    bool FindKeyboard();
    bool IsTargetDevice();
    bool WriteWordVerified(int address, std::uint8_t first, std::uint8_t second);
    bool SendRequest(const RequestBytes& request, FeatureReport& reply);
    bool WaitForReply(std::uint8_t sentByte5, FeatureReport& reply);
    bool ReadFeatureReport(std::uint8_t* buffer, std::size_t length);

    const DeviceImage& image() const { return m_image; }
    int setupSize() const { return m_setupSize; }
    int progressMaximum() const { return m_maximum; }
    int progressPosition() const { return m_position; }

private:
    ProgramState& m_state;
    DeviceList& m_devices;
    ProtocolReporter& m_reporter;
    ProtocolWaits& m_waits;
    DeviceImage m_image{};
    int m_setupSize = 1;
    int m_maximum = 0;
    int m_position = 0;
};

}  // namespace qk750
