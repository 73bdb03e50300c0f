// The programming protocol against a keyboard whose answers come from the fuzzer: each
// set-feature and get-feature call takes a control byte that picks a proper answer, a
// stale one, raw reply bytes or a failed call. On the virtual clock every run must end,
// with exactly one report or with success, and send nothing after a failure. When the
// input runs out the keyboard answers properly, so runs reach the closing request.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>

#include "fuzz_files.h"
#include "keys/device_image.h"
#include "setup/program_state.h"
#include "usb/device_list.h"
#include "usb/hid_controller.h"
#include "usb/programming_protocol.h"

namespace {

using namespace qk750;

struct Keyboard : HidPlatform, ProtocolReporter {
    explicit Keyboard(FuzzedDataProvider& input) : input(input) {}
    FuzzedDataProvider& input;
    std::uint8_t lastRequest[7] = {};
    int requests = 0;
    int failures = 0;

    int choice(int last) {
        return input.remaining_bytes() == 0 ? 0 : input.ConsumeIntegralInRange(0, last);
    }
    bool setFeature(const std::uint8_t* report, std::size_t length) {
        if (failures != 0) {
            fuzz::broken("a request was sent after a failure");
        }
        ++requests;
        std::copy_n(report, std::min<std::size_t>(length, 7), lastRequest);
        return choice(15) != 15;
    }
    bool getFeature(std::uint8_t* report, std::size_t length) {
        std::fill(report, report + length, 0);
        switch (choice(3)) {
            case 0:  // fresh and verified
                report[1] = '+';
                report[2] = lastRequest[4];
                report[5] = static_cast<std::uint8_t>(lastRequest[5] + 1);
                return true;
            case 1:  // not yet the answer
                report[5] = lastRequest[5];
                return true;
            case 2: {  // whatever the fuzzer says
                const auto bytes =
                    input.ConsumeBytes<std::uint8_t>(std::min<std::size_t>(length, 7));
                std::copy(bytes.begin(), bytes.end(), report);
                return true;
            }
            default:
                return false;
        }
    }

    // HidPlatform: one keyboard.
    bool available() const override { return true; }
    std::vector<HidInterfaceInfo> enumerate() override { return {{"fuzz/keyboard", "fuzz:0"}}; }
    std::unique_ptr<HidHandle> open(const std::string&, HidOpenMode mode, std::uint32_t*) override;
    std::string errorText(std::uint32_t) const override { return "Input/output error"; }
    void setChangeListener(ChangeListener) override {}

    // ProtocolReporter
    void failure(std::string_view, std::string_view, std::string_view) override { ++failures; }
    bool askToConnect(std::string_view) override { return false; }
    void progressStart(int) override {}
    void progressStep(int, int) override {}
    void progressHide() override {}
};

class Handle : public HidHandle {
public:
    Handle(Keyboard& keyboard, HidOpenMode mode) : m_keyboard(keyboard), m_mode(mode) {}
    bool getAttributes(HidAttributes& attributes) override {
        attributes = {0x2F0A, 0x0750, 0x0100};
        return true;
    }
    bool getCaps(HidCaps& caps) override {
        caps = {};
        caps.FeatureReportByteLength = 7;
        caps.InputReportByteLength = 9;
        return true;
    }
    bool getProductString(std::u16string& product) override {
        product = u"QK750";
        return true;
    }
    bool getFeature(std::uint8_t* buffer, std::size_t length) override {
        return m_mode == HidOpenMode::ReadWrite && m_keyboard.getFeature(buffer, length);
    }
    bool setFeature(const std::uint8_t* buffer, std::size_t length) override {
        return m_mode == HidOpenMode::ReadWrite && m_keyboard.setFeature(buffer, length);
    }
    bool setNumInputBuffers(std::uint32_t) override { return true; }
    bool getNumInputBuffers(std::uint32_t& count) override {
        count = 32;
        return true;
    }
    // The keyboard types nothing: a read waits until it is cancelled.
    HidReadResult readInput(std::uint8_t*, std::size_t, int) override {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return std::exchange(m_cancelled, false); });
        return {HidReadStatus::Timeout, 0};
    }
    void cancelRead() override {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_wake.notify_all();
    }
    std::uint32_t lastError() const override { return 5; }

private:
    Keyboard& m_keyboard;
    HidOpenMode m_mode;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_cancelled = false;
};

std::unique_ptr<HidHandle> Keyboard::open(const std::string&, HidOpenMode mode, std::uint32_t*) {
    return std::make_unique<Handle>(*this, mode);
}

// Virtual time in 1 ms steps; StopWaiting comes at stopAtMs when that is not negative.
struct VirtualWaits : ProtocolWaits {
    VirtualWaits(UiDispatcher& dispatcher, bool& stop, int stopAtMs)
        : dispatcher(dispatcher), stop(stop), stopAtMs(stopAtMs) {}
    void pumpedWait(int ms, const bool* stopFlag) override {
        for (const long long deadline = nowMs + ms; nowMs < deadline && !(stopFlag && *stopFlag);) {
            ++nowMs;
            processMessages();
        }
    }
    void processMessages() override {
        stop = stop || (stopAtMs >= 0 && nowMs >= stopAtMs);
        dispatcher.processPending();
    }
    UiDispatcher& dispatcher;
    bool& stop;
    int stopAtMs;
    long long nowMs = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    ProgramState state;
    state.BatchMode = input.ConsumeBool();
    state.SetupFileName = "fuzz.ini";
    const int stopAtMs = input.ConsumeBool() ? input.ConsumeIntegralInRange(0, 40000) : -1;

    Keyboard keyboard(input);
    QueueDispatcher dispatcher;
    HidController controller(keyboard, dispatcher);
    DeviceList devices(controller, {});
    dispatcher.processPending();
    VirtualWaits waits(dispatcher, state.Globals.StopWaiting, stopAtMs);
    ProgrammingProtocol protocol(state, devices, keyboard, waits);
    const bool ok = protocol.ProgramKeyboard([](DeviceImage& image, int& setupSize) {
        SetupRecord setup;
        setup.Mcr.McrDelay = 5;
        const ImageResult result = BuildDeviceImage(setup, image);
        setupSize = result.setupSize;
        return result.ok();
    });

    if (keyboard.failures != (ok ? 0 : 1)) {
        fuzz::broken("a run did not end with exactly one report or success");
    }
    if (ok && (keyboard.requests != 181 || state.Globals.UsbStatus != kUsbAnswered)) {
        fuzz::broken("a successful run did not send every request");
    }
    // 181 requests of at most 6 ms and 15 polls 2 ms apart.
    if (waits.nowMs > 181 * (6 + 15 * 2)) {
        fuzz::broken("a run waited longer than its polls allow");
    }
    return 0;
}
