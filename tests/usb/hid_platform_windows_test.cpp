#include "usb/hid_platform_windows.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

// The real SetupApi and HID.dll (Wine's when the suite runs under Wine); no device is
// opened unless QK750_TEST_REAL_DEVICES=1. Real device changes reaching the hidden window
// are seen end to end by scripts/test-windows-hid.

namespace qk750 {
namespace {

// The libraries come from the system directory, not from the program's folder, where a
// DLL of their name (here this program under both names) would be found first.
TEST(HidPlatformWindows, BindsTheSystemLibrariesAndEnumerates) {
    char program[MAX_PATH] = {};
    ASSERT_NE(::GetModuleFileNameA(nullptr, program, MAX_PATH), 0u);
    std::string folder = program;
    folder.resize(folder.rfind('\\') + 1);
    for (const char* name : {"HID.dll", "SetupApi.dll"}) {
        ASSERT_TRUE(::CopyFileA(program, (folder + name).c_str(), FALSE)) << name;
    }
    const bool available = HidPlatformWindows().available();
    for (const char* name : {"HID.dll", "SetupApi.dll"}) {
        ::DeleteFileA((folder + name).c_str());
    }
    ASSERT_TRUE(available);
    HidPlatformWindows platform;
    for (const HidInterfaceInfo& info : platform.enumerate()) {
        SCOPED_TRACE(info.path);
        EXPECT_FALSE(info.instanceId.empty());
        EXPECT_EQ(info.path.rfind("\\\\", 0), 0u);  // a device interface path: \\?\...
        const char* real = std::getenv("QK750_TEST_REAL_DEVICES");
        if (real != nullptr && std::string(real) == "1") {
            std::uint32_t error = 0;
            const auto handle = platform.open(info.path, HidOpenMode::QueryOnly, &error);
            ASSERT_NE(handle, nullptr) << platform.errorText(error);
            HidCaps caps;
            EXPECT_TRUE(handle->getCaps(caps)) << platform.errorText(handle->lastError());
        }
    }
}

TEST(HidPlatformWindows, OpenFailureGivesTheSystemErrorAndItsText) {
    HidPlatformWindows platform;
    std::uint32_t error = 0;
    EXPECT_EQ(platform.open("\\\\?\\hid#qk750-no-such-device", HidOpenMode::ReadWrite, &error),
              nullptr);
    EXPECT_NE(error, 0u);
    const std::string text = platform.errorText(error);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.rfind("Error ", 0), 0u) << text;  // the system's words, not the fallback
    EXPECT_EQ(platform.errorText(0xDEADBEEF), "Error 3735928559");
}

// News of a device change, broadcast as the system does, reaches the listener at once and
// once more a little later, for an enumeration that lags behind the news.
TEST(HidPlatformWindows, DeviceChangeReachesTheListenerAndIsLookedAtAgain) {
    HidPlatformWindows platform;
    int calls = 0;
    platform.setChangeListener([&calls] { ++calls; });
    DWORD_PTR ignored = 0;
    const auto broadcast = [&ignored](WPARAM event) {
        ::SendMessageTimeoutA(HWND_BROADCAST, WM_DEVICECHANGE, event, 0, SMTO_ABORTIFHUNG, 5000,
                              &ignored);
    };
    broadcast(DBT_DEVNODES_CHANGED);
    broadcast(DBT_CONFIGCHANGED);  // not a change of devices
    EXPECT_EQ(calls, 1);
    for (const ULONGLONG end = ::GetTickCount64() + 2000; ::GetTickCount64() < end;) {
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::DispatchMessageA(&message);
        }
        ::Sleep(10);
    }
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace qk750
