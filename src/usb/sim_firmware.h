#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qk750 {

// Faults the simulated keyboard can be told to show, so that tests and the fault soak
// meet every failure the programming protocol has to report.
enum class SimFaultKind {
    Crc,       // a fresh "E" "C" reply, nothing written
    Verify,    // a fresh reply with "-" and the first data byte inverted, which is stored
    NoReply,   // the request is written but never answered freshly
    SendFail,  // the set-feature call itself fails
    Unplug,    // the request is written, then the keyboard is gone
};

struct SimFault {
    SimFaultKind kind = SimFaultKind::Crc;
    std::uint16_t address = 0;
    bool operator==(const SimFault&) const = default;
};

struct SimFaultPlan {
    int staleReplies = 0;  // stale replies before each fresh one
    int latencyMs = 0;     // a reply turns fresh only this long after its request
    std::vector<SimFault> faults;

    bool has(SimFaultKind kind, std::uint16_t address) const;
    bool empty() const { return staleReplies == 0 && latencyMs == 0 && faults.empty(); }
};

// Parses the text form used by QK750_SIM_FAULTS, e.g. "stale=2,latency=5,crc@0x10".
// An empty text is an empty plan. On a malformed plan returns nothing and explains why in
// *error.
std::optional<SimFaultPlan> parseSimFaultPlan(const std::string& text, std::string* error);

// The plans of the keyboards a roll-out meets one after another, numbered from 1. An item
// with a prefix "K:" is keyboard K's only ("2:crc@0x20"); an item without one is every
// keyboard's. A keyboard's own stale or latency setting replaces the common one.
struct SimFaultPlans {
    SimFaultPlan every;
    std::map<int, SimFaultPlan> keyboard;

    SimFaultPlan forKeyboard(int number) const;
};

std::optional<SimFaultPlans> parseSimFaultPlans(const std::string& text, std::string* error);

// The keyboard's firmware as far as the host can see it: its memory and its answers to
// feature reports. Pure: no I/O, no threads; time comes from the injected clock.
class SimFirmware {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::size_t kMemorySize = 2048;
    static constexpr std::size_t kReportLength = 7;
    static constexpr std::uint16_t kClosingAddress = 2047;

    explicit SimFirmware(Clock clock = {});

    void setFaultPlan(SimFaultPlan plan) { m_plan = std::move(plan); }
    const SimFaultPlan& faultPlan() const { return m_plan; }
    void setClock(Clock clock);

    // Memory starts as erased flash (0xFF).
    const std::array<std::uint8_t, kMemorySize>& memory() const { return m_memory; }
    void setMemory(const std::array<std::uint8_t, kMemorySize>& memory) { m_memory = memory; }
    // False (memory unchanged) unless exactly kMemorySize bytes are given.
    bool setMemory(const std::vector<std::uint8_t>& bytes);

    // One set-feature request of `length` bytes, byte 0 the report ID. False when the
    // call fails (an injected send failure, or the keyboard is gone).
    bool setFeature(const std::uint8_t* report, std::size_t length);
    // The current reply into `length` bytes (at most 7 are meaningful). False once the
    // keyboard is gone.
    bool getFeature(std::uint8_t* report, std::size_t length);

    // True once an unplug fault has fired; every later call fails.
    bool unplugged() const { return m_unplugged; }
    // Plugging the keyboard in again keeps its memory.
    void replug();

    // What the tests look at.
    int requestsSeen() const { return m_requestsSeen; }
    // Requests that arrived after a failure (injected or a refused request) was
    // answered: the host should have stopped there.
    int requestsAfterFailure() const { return m_requestsAfterFailure; }
    int repliesRead() const { return m_repliesRead; }
    bool faultFired() const { return m_faultFired; }
    void resetCounters();

private:
    void answer(std::uint8_t result, std::uint8_t second, std::uint16_t address);

    Clock m_clock;
    SimFaultPlan m_plan;
    std::array<std::uint8_t, kMemorySize> m_memory;
    std::array<std::uint8_t, kReportLength> m_reply{};  // what a get-feature returns
    std::array<std::uint8_t, kReportLength> m_fresh{};  // the answer being prepared
    bool m_pending = false;                             // a request waits for its fresh answer
    bool m_neverFresh = false;
    std::uint8_t m_requestByte5 = 0;
    int m_staleLeft = 0;
    std::chrono::steady_clock::time_point m_freshAt{};
    bool m_unplugged = false;
    bool m_faultFired = false;
    int m_requestsSeen = 0;
    int m_requestsAfterFailure = 0;
    int m_repliesRead = 0;
};

}  // namespace qk750
