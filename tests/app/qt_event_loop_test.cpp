#include "app/qt_event_loop.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace qk750 {
namespace {

// A wait ends, never before its deadline, and runs what the reader thread posted
// meanwhile. (On Windows a wait whose own timer was its last event once never ended.)
TEST(QtProtocolWaits, EndAtTheDeadlineAndRunPostedWork) {
    int argc = 1;
    char name[] = "qt_event_loop_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QtProtocolWaits waits;
    QtUiDispatcher dispatcher;
    bool ran = false;
    std::thread([&] { dispatcher.post([&ran] { ran = true; }); }).join();
    for (const int ms : {1, 6, 30}) {
        const auto start = std::chrono::steady_clock::now();
        waits.pumpedWait(ms);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(ms));
    }
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace qk750
