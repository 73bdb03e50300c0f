#pragma once

#include <string_view>

namespace qk750 {

// How the programming protocol waits. The application realises it with precise
// one-shot timers and its event loop, the tests with a virtual clock, so the same
// protocol code runs in the windows, in batch mode and in tests.
class ProtocolWaits {
public:
    virtual ~ProtocolWaits() = default;
    // Waits at least ms milliseconds, and no longer than needed, processing pending
    // events meanwhile. With stop given, the wait also ends as soon as *stop is set.
    virtual void pumpedWait(int ms, const bool* stop = nullptr) = 0;
    // Processes the events pending now, once.
    virtual void processMessages() = 0;
};

// How the protocol talks to the user: error boxes or the outcome file, the connect
// question, and progress (the progress window, or the title in batch mode).
class ProtocolReporter {
public:
    virtual ~ProtocolReporter() = default;
    // Reports one failure: message is the error box text; code and detail are the
    // outcome file's two lines. Which one is used depends on the mode.
    virtual void failure(std::string_view code, std::string_view detail,
                         std::string_view message) = 0;
    // The connect question (buttons OK and Cancel); true when answered OK.
    virtual bool askToConnect(std::string_view message) = 0;
    // A run starts: the bar's maximum is set and its position is 1.
    virtual void progressStart(int maximum) = 0;
    // A request was acknowledged.
    virtual void progressStep(int position, int maximum) = 0;
    virtual void progressHide() = 0;
};

}  // namespace qk750
