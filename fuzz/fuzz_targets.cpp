// libFuzzer entry points, one per input the program takes from outside. Each target is
// built from this file with QK750_FUZZ_<target> defined. A broken check aborts with a
// message the fuzzer shows beside the input that caused it.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

[[maybe_unused]] void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// The setup readers take file names: each input goes through this process's own file, in
// memory where the system has a RAM folder, removed at exit.
[[maybe_unused]] std::string scratchFile(const char* name, const std::uint8_t* data,
                                         std::size_t size) {
    static const std::string path =
        std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/qk750-fuzz-" +
        std::to_string(getpid()) + "-" + name;
    static const int removal = std::atexit([] { std::remove(path.c_str()); });
    (void)removal;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

}  // namespace

#if defined(QK750_FUZZ_ini_file)
// Saving what was loaded over the same file and loading again gives the same setup, less
// the line breaks the writer drops from values (they would split the line).
#include "setup/setup_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qk750;
    const std::string path = scratchFile("setup.ini", data, size);
    SetupRecord first, second;
    if (LoadSetupIni(first, path).status == ReadStatus::Invalid) {
        check(!SaveSetupIni(first, path).ok, "a file holding a NUL byte was written over");
        return 0;
    }
    check(SaveSetupIni(first, path).ok, "saving a loaded setup failed");
    LoadSetupIni(second, path);
    const auto drop = [](std::string& s) {
        std::erase_if(s, [](char c) { return c == '\r' || c == '\n'; });
    };
    for (int key = 1; key <= kKeyCount; ++key) {
        drop(first.KeyStrings[key]);
        drop(first.Func2Strings[key]);
    }
    drop(first.Mcr.PreambleString);
    drop(first.Mcr.PostambleString);
    check(first == second, "save and load changed the setup");
    return 0;
}

#elif defined(QK750_FUZZ_kbd_import)
// KBD files as given (any length), and padded or cut to the one valid size so that every
// record's length bytes and strings are read. The token form and the DAT text conversion
// get the raw bytes as well.
#include "setup/legacy_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qk750;
    SetupRecord setup;
    setup.KeyStrings[1] = "left over";
    const KbdImportStatus status = ImportKbdFile(setup, scratchFile("setup.KBD", data, size));
    check(size == kKbdFileSize || status == KbdImportStatus::InvalidSize,
          "a KBD file of the wrong size was accepted");
    check(status != KbdImportStatus::InvalidSize || setup.KeyStrings[1].empty(),
          "a refused KBD file left the old setup");
    std::vector<std::uint8_t> sized(data, data + std::min(size, kKbdFileSize));
    sized.resize(kKbdFileSize, 0);
    check(ImportKbdFile(setup, scratchFile("setup.KBD", sized.data(), sized.size())) ==
              KbdImportStatus::Ok,
          "a KBD file of the right size was refused");
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)TokensToKeyString(text);
    (void)TokensToKeyString(DatTextToTokens(text));
    return 0;
}

#elif defined(QK750_FUZZ_dat_import)
// A DAT key list touches only the key strings, and never key 0.
#include "setup/legacy_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qk750;
    SetupRecord setup;
    setup.Mcr.PreambleString = "<Enter>";
    setup.Mcr.LockedSetup = true;
    setup.Mcr.McrDelay = 300;
    const SetupRecType mcr = setup.Mcr;
    ImportDatFile(setup, scratchFile("keys.DAT", data, size));
    check(setup.Mcr == mcr, "the DAT import changed the MCR part");
    check(setup.KeyStrings[0].empty() && setup.Func2Strings[0].empty(),
          "the DAT import wrote key 0");
    return 0;
}

#elif defined(QK750_FUZZ_key_string)
// Any text compiles to a well-formed byte string, and tokenizing always ends.
#include "keys/key_string.h"

namespace {

// Empty, or plain codes and modified groups (0xF3, modifier bits 1-7, code) followed by
// exactly one end mark; 0xF3 and 0xFF appear nowhere else.
bool wellFormed(const qk750::Bytes& b) {
    using namespace qk750;
    std::size_t i = 0;
    while (i + 1 < b.size() && b[i] != kEndMark) {
        if (b[i] != kModifiedGroup) {
            ++i;
        } else if (i + 3 < b.size() && b[i + 1] >= 1 && b[i + 1] <= 7 &&
                   b[i + 2] != kModifiedGroup && b[i + 2] != kEndMark) {
            i += 3;
        } else {
            return false;
        }
    }
    return b.empty() || (i + 1 == b.size() && b[i] == kEndMark);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qk750;
    std::string text(reinterpret_cast<const char*>(data), size);
    check(wellFormed(CompileKeyString(text)), "CompileKeyString gave a malformed string");
    check(wellFormed(CompileKeyString(TrimKeyString(text))),
          "CompileKeyString of the trimmed text gave a malformed string");
    while (!text.empty()) {
        const std::size_t before = text.size();
        check(!NextToken(text).empty() && text.size() < before,
              "NextToken did not cut a token off a non-empty text");
    }
    return 0;
}

#elif defined(QK750_FUZZ_report_descriptor)
// Report descriptors are parsed without reading outside them.
#include "usb/report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so a read one past the end is caught.
    const auto copy = std::make_unique<std::uint8_t[]>(size);
    std::copy(data, data + size, copy.get());
    (void)qk750::parseReportDescriptor(size == 0 ? nullptr : copy.get(), size);
    return 0;
}

#elif defined(QK750_FUZZ_protocol_replies)
// The programming protocol against a keyboard whose answers come from the fuzzer: each
// set-feature and get-feature call takes a control byte that picks a proper answer, a
// stale one, raw reply bytes or a failed call. On a virtual clock every run must end, with
// exactly one report or with success, and send nothing after a failure. When the input
// runs out the keyboard answers properly, so runs reach the closing request.
#include <fuzzer/FuzzedDataProvider.h>

#include "keys/device_image.h"
#include "usb/hid_platform_sim.h"
#include "usb/programming_protocol.h"

namespace {

using namespace qk750;

// The simulated computer with only the keyboard, whose feature reports the fuzzer answers
// instead of its firmware; a reporter that counts failures, and virtual time in 1 ms steps
// where StopWaiting comes at stopAtMs when that is not negative.
struct Keyboard : HidPlatformSim, ProtocolReporter, ProtocolWaits {
    Keyboard(FuzzedDataProvider& input, bool& stop, int stopAtMs)
        : HidPlatformSim(Options{.otherInterfaces = false}),
          input(input),
          stop(stop),
          stopAtMs(stopAtMs) {}

    int choice(int last) {
        return input.remaining_bytes() == 0 ? 0 : input.ConsumeIntegralInRange(0, last);
    }
    bool request(const std::uint8_t* report, std::size_t length) {
        check(failures == 0, "a request was sent after a failure");
        ++requests;
        std::copy_n(report, std::min<std::size_t>(length, 7), lastRequest);
        return choice(15) != 15;
    }
    bool reply(std::uint8_t* report, std::size_t length) {
        std::fill(report, report + length, 0);
        // 0: fresh and verified, 1: not yet the answer, 2: the fuzzer's bytes, 3: failed
        const int kind = choice(3);
        if (kind == 2) {
            const auto bytes = input.ConsumeBytes<std::uint8_t>(std::min<std::size_t>(length, 7));
            std::copy(bytes.begin(), bytes.end(), report);
        } else {
            report[5] = static_cast<std::uint8_t>(lastRequest[5] + (kind == 0 ? 1 : 0));
        }
        if (kind == 0) {
            report[1] = '+';
            report[2] = lastRequest[4];
        }
        return kind != 3;
    }

    // The simulated handle, but feature reports go to the fuzzer.
    struct Answers : HidHandle {
        Answers(Keyboard& keyboard, std::unique_ptr<HidHandle> sim, HidOpenMode mode)
            : keyboard(keyboard), sim(std::move(sim)), readWrite(mode == HidOpenMode::ReadWrite) {}
        bool getAttributes(HidAttributes& a) override { return sim->getAttributes(a); }
        bool getCaps(HidCaps& caps) override { return sim->getCaps(caps); }
        bool getProductString(std::u16string& p) override { return sim->getProductString(p); }
        bool getFeature(std::uint8_t* report, std::size_t length) override {
            return readWrite && keyboard.reply(report, length);
        }
        bool setFeature(const std::uint8_t* report, std::size_t length) override {
            return readWrite && keyboard.request(report, length);
        }
        bool setNumInputBuffers(std::uint32_t n) override { return sim->setNumInputBuffers(n); }
        bool getNumInputBuffers(std::uint32_t& n) override { return sim->getNumInputBuffers(n); }
        HidReadResult readInput(std::uint8_t* buffer, std::size_t length, int ms) override {
            return sim->readInput(buffer, length, ms);
        }
        void cancelRead() override { sim->cancelRead(); }
        std::uint32_t lastError() const override { return sim->lastError(); }

        Keyboard& keyboard;
        std::unique_ptr<HidHandle> sim;
        const bool readWrite;
    };
    std::unique_ptr<HidHandle> open(const std::string& path, HidOpenMode mode,
                                    std::uint32_t* error) override {
        auto sim = HidPlatformSim::open(path, mode, error);
        return sim ? std::make_unique<Answers>(*this, std::move(sim), mode) : nullptr;
    }

    void failure(std::string_view, std::string_view, std::string_view) override { ++failures; }
    bool askToConnect(std::string_view) override { return false; }
    void progressStart(int) override {}
    void progressStep(int, int) override {}
    void progressHide() override {}

    void pumpedWait(int ms, const bool* stopFlag) override {
        for (const long long end = nowMs + ms; nowMs < end && !(stopFlag && *stopFlag);) {
            ++nowMs;
            processMessages();
        }
    }
    void processMessages() override {
        stop = stop || (stopAtMs >= 0 && nowMs >= stopAtMs);
        dispatcher.processPending();
    }

    FuzzedDataProvider& input;
    std::uint8_t lastRequest[7] = {};
    int requests = 0, failures = 0;
    QueueDispatcher dispatcher;
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
    Keyboard keyboard(input, state.Globals.StopWaiting, stopAtMs);
    HidController controller(keyboard, keyboard.dispatcher);
    DeviceList devices(controller, {});
    keyboard.dispatcher.processPending();
    ProgrammingProtocol protocol(state, devices, keyboard, keyboard);
    const bool ok = protocol.ProgramKeyboard([](DeviceImage& image, int& setupSize) {
        SetupRecord setup;
        setup.Mcr.McrDelay = 5;
        const ImageResult result = BuildDeviceImage(setup, image);
        setupSize = result.setupSize;
        return result.ok();
    });
    check(keyboard.failures == (ok ? 0 : 1), "a run did not end with one report or success");
    check(!ok || (keyboard.requests == 181 && state.Globals.UsbStatus == kUsbAnswered),
          "a successful run did not send every request");
    // 181 requests of at most 6 ms and 15 polls 2 ms apart.
    check(keyboard.nowMs <= 181 * (6 + 15 * 2), "a run waited longer than its polls allow");
    return 0;
}

#endif
