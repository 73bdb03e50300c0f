// libudev objects are not thread-safe and their reference counts are not atomic: a context
// may be used only on the thread that made it. The backend's calls of these three come here
// first (the executable's definitions come before libudev's), and uses of a context on a
// thread other than its maker's are counted.

#include <dlfcn.h>
#include <libudev.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "usb/hid_platform_linux.h"

namespace {

std::mutex g_udevMutex;
std::map<const udev*, std::thread::id> g_udevMaker;
int g_foreignUdevUses = 0;

template <typename F>
F libudev(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void noteUse(const udev* context) {
    std::lock_guard lock(g_udevMutex);
    const auto maker = g_udevMaker.find(context);
    g_foreignUdevUses += maker != g_udevMaker.end() && maker->second != std::this_thread::get_id();
}

}  // namespace

extern "C" {
udev* udev_new() {
    udev* context = libudev<udev* (*)()>("udev_new")();
    std::lock_guard lock(g_udevMutex);
    g_udevMaker[context] = std::this_thread::get_id();
    return context;
}
udev* udev_ref(udev* context) {
    noteUse(context);
    return libudev<udev* (*)(udev*)>("udev_ref")(context);
}
udev* udev_unref(udev* context) {
    noteUse(context);
    return libudev<udev* (*)(udev*)>("udev_unref")(context);
}
}

namespace qk750 {
namespace {

// The reader thread opens, uses and closes its own handle while the user-interface thread
// goes on with the platform.
TEST(HidPlatformLinux, HandlesOnAnotherThreadLeaveThePlatformsUdevContextAlone) {
    HidPlatformLinux platform;
    const std::string path = testing::TempDir() + "qk750-udev-thread";
    std::ofstream(path) << "x";
    std::thread reader([&] {
        std::unique_ptr<HidHandle> handle = platform.open(path, HidOpenMode::ReadWrite, nullptr);
        ASSERT_NE(handle, nullptr);
        std::u16string product;
        handle->getProductString(product);
    });
    reader.join();
    std::remove(path.c_str());
    EXPECT_EQ(g_foreignUdevUses, 0);
}

}  // namespace
}  // namespace qk750
