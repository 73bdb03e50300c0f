#include "usb/sim_firmware.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace qk750 {

namespace {

constexpr std::uint8_t kWrite = 'W';
constexpr std::uint8_t kOk = '+';
constexpr std::uint8_t kVerifyFailed = '-';
constexpr std::uint8_t kUnknownCommand = '?';

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Decimal or 0x-hex, no sign, nothing after it; false when out of [0, max].
bool parseNumber(const std::string& text, long max, long& value) {
    if (text.empty()) {
        return false;
    }
    int base = 10;
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits = digits.substr(2);
    }
    for (char c : digits) {
        const auto u = static_cast<unsigned char>(c);
        if (base == 10 ? !std::isdigit(u) : !std::isxdigit(u)) {
            return false;
        }
    }
    if (digits.size() > 8) {
        return false;
    }
    value = std::strtol(digits.c_str(), nullptr, base);
    return value <= max;
}

}  // namespace

bool SimFaultPlan::has(SimFaultKind kind, std::uint16_t address) const {
    return std::find(faults.begin(), faults.end(), SimFault{kind, address}) != faults.end();
}

namespace {

// What the items of one keyboard (or of every keyboard) set.
struct PartialPlan {
    std::optional<int> staleReplies;
    std::optional<int> latencyMs;
    std::vector<SimFault> faults;
};

// One item: "NAME=VALUE" or "FAULT@ADDRESS". False with the reason in why.
bool parseItem(const std::string& item, PartialPlan& plan, std::string& why) {
    const auto eq = item.find('=');
    const auto at = item.find('@');
    long value = 0;
    if (eq != std::string::npos && at == std::string::npos) {
        const std::string name = trim(item.substr(0, eq));
        const std::string number = trim(item.substr(eq + 1));
        if (name == "stale") {
            if (!parseNumber(number, 1000, value)) {
                why = "stale needs a count from 0 to 1000, got \"" + number + "\"";
                return false;
            }
            plan.staleReplies = static_cast<int>(value);
        } else if (name == "latency") {
            if (!parseNumber(number, 60000, value)) {
                why = "latency needs milliseconds from 0 to 60000, got \"" + number + "\"";
                return false;
            }
            plan.latencyMs = static_cast<int>(value);
        } else {
            why = "unknown setting \"" + name + "\" (stale=N or latency=MS)";
            return false;
        }
        return true;
    }
    if (at != std::string::npos && eq == std::string::npos) {
        const std::string name = trim(item.substr(0, at));
        const std::string number = trim(item.substr(at + 1));
        SimFaultKind kind;
        if (name == "crc") {
            kind = SimFaultKind::Crc;
        } else if (name == "verify") {
            kind = SimFaultKind::Verify;
        } else if (name == "noreply") {
            kind = SimFaultKind::NoReply;
        } else if (name == "sendfail") {
            kind = SimFaultKind::SendFail;
        } else if (name == "unplug") {
            kind = SimFaultKind::Unplug;
        } else {
            why = "unknown fault \"" + name + "\" (crc, verify, noreply, sendfail or unplug)";
            return false;
        }
        if (!parseNumber(number, SimFirmware::kMemorySize - 1, value)) {
            why = "address must be 0 to 2047 (decimal or 0x-hex), got \"" + number + "\"";
            return false;
        }
        plan.faults.push_back({kind, static_cast<std::uint16_t>(value)});
        return true;
    }
    why = "\"" + item + "\" is neither NAME=VALUE nor FAULT@ADDRESS";
    return false;
}

// A keyboard's plan: the common one, its own settings over it, its own faults after it.
SimFaultPlan combine(const PartialPlan& common, const PartialPlan* own) {
    SimFaultPlan plan;
    plan.staleReplies = common.staleReplies.value_or(0);
    plan.latencyMs = common.latencyMs.value_or(0);
    plan.faults = common.faults;
    if (own != nullptr) {
        plan.staleReplies = own->staleReplies.value_or(plan.staleReplies);
        plan.latencyMs = own->latencyMs.value_or(plan.latencyMs);
        plan.faults.insert(plan.faults.end(), own->faults.begin(), own->faults.end());
    }
    return plan;
}

std::optional<SimFaultPlans> parsePlans(const std::string& text, bool keyboardPrefixes,
                                        std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<SimFaultPlans> {
        if (error != nullptr) {
            *error = "invalid fault plan \"" + text + "\": " + why;
        }
        return std::nullopt;
    };
    PartialPlan common;
    std::map<int, PartialPlan> own;
    // An empty text is an empty plan; otherwise every comma separates two items.
    std::size_t start = trim(text).empty() ? text.size() + 1 : 0;
    while (start <= text.size()) {
        const std::size_t comma = text.find(',', start);
        std::string item = trim(
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        start = comma == std::string::npos ? text.size() + 1 : comma + 1;
        if (item.empty()) {
            return fail("empty entry");
        }
        PartialPlan* plan = &common;
        const auto colon = item.find(':');
        if (keyboardPrefixes && colon != std::string::npos) {
            long number = 0;
            if (!parseNumber(trim(item.substr(0, colon)), 1000000, number) || number < 1) {
                return fail("a keyboard number from 1 comes before \":\", got \"" + item + "\"");
            }
            plan = &own[static_cast<int>(number)];
            item = trim(item.substr(colon + 1));
        }
        std::string why;
        if (!parseItem(item, *plan, why)) {
            return fail(why);
        }
    }
    SimFaultPlans plans;
    plans.every = combine(common, nullptr);
    for (const auto& [number, plan] : own) {
        plans.keyboard[number] = combine(common, &plan);
    }
    return plans;
}

}  // namespace

SimFaultPlan SimFaultPlans::forKeyboard(int number) const {
    const auto own = keyboard.find(number);
    return own == keyboard.end() ? every : own->second;
}

std::optional<SimFaultPlan> parseSimFaultPlan(const std::string& text, std::string* error) {
    auto plans = parsePlans(text, false, error);
    return plans ? std::optional<SimFaultPlan>(std::move(plans->every)) : std::nullopt;
}

std::optional<SimFaultPlans> parseSimFaultPlans(const std::string& text, std::string* error) {
    return parsePlans(text, true, error);
}

SimFirmware::SimFirmware(Clock clock) {
    setClock(std::move(clock));
    m_memory.fill(0xFF);
}

void SimFirmware::setClock(Clock clock) {
    m_clock = clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); });
}

bool SimFirmware::setMemory(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() != kMemorySize) {
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), m_memory.begin());
    return true;
}

void SimFirmware::replug() {
    m_unplugged = false;
    m_pending = false;
    m_reply.fill(0);
}

void SimFirmware::resetCounters() {
    m_requestsSeen = 0;
    m_requestsAfterFailure = 0;
    m_repliesRead = 0;
    m_faultFired = false;
}

void SimFirmware::answer(std::uint8_t result, std::uint8_t second, std::uint16_t address) {
    m_fresh = {0,
               result,
               second,
               static_cast<std::uint8_t>(address >> 8),
               static_cast<std::uint8_t>(address & 0xFF),
               static_cast<std::uint8_t>(m_requestByte5 + 1),  // anything but the request's
               0};
    m_fresh[6] = m_fresh[1] ^ m_fresh[2] ^ m_fresh[3] ^ m_fresh[4] ^ m_fresh[5];
}

bool SimFirmware::setFeature(const std::uint8_t* report, std::size_t length) {
    if (m_unplugged) {
        ++m_requestsAfterFailure;
        return false;
    }
    if (report == nullptr || length < kReportLength) {
        return false;
    }
    ++m_requestsSeen;
    if (m_faultFired) {
        ++m_requestsAfterFailure;
    }
    const std::uint16_t address = static_cast<std::uint16_t>((report[2] << 8) | report[3]);
    if (m_plan.has(SimFaultKind::SendFail, address)) {
        m_faultFired = true;
        return false;
    }

    m_requestByte5 = report[5];
    m_pending = true;
    m_neverFresh = false;
    m_staleLeft = m_plan.staleReplies;
    m_freshAt = m_clock() + std::chrono::milliseconds(m_plan.latencyMs);

    const std::uint8_t check = report[1] ^ report[2] ^ report[3] ^ report[4] ^ report[5];
    if (check != report[6] || m_plan.has(SimFaultKind::Crc, address)) {
        m_faultFired = true;
        answer('E', 'C', address);
        return true;
    }
    if (report[1] != kWrite) {
        m_faultFired = true;
        answer(kUnknownCommand, 0, address);
        return true;
    }
    if (address >= kMemorySize) {
        m_faultFired = true;
        answer(kVerifyFailed, 0xFF, address);
        return true;
    }

    if (address != kClosingAddress) {
        m_memory[address] = report[4];
        if (address + 1u < kMemorySize) {
            m_memory[address + 1u] = report[5];
        }
    }
    if (m_plan.has(SimFaultKind::Verify, address)) {
        m_faultFired = true;
        const auto stored = static_cast<std::uint8_t>(report[4] ^ 0xFF);
        if (address != kClosingAddress) {
            m_memory[address] = stored;
        }
        answer(kVerifyFailed, stored, address);
        return true;
    }
    answer(kOk, m_memory[address], address);
    if (m_plan.has(SimFaultKind::NoReply, address)) {
        m_faultFired = true;
        m_neverFresh = true;
    }
    if (m_plan.has(SimFaultKind::Unplug, address)) {
        m_faultFired = true;
        m_unplugged = true;
    }
    return true;
}

bool SimFirmware::getFeature(std::uint8_t* report, std::size_t length) {
    if (m_unplugged) {
        return false;
    }
    if (report == nullptr) {
        return false;
    }
    ++m_repliesRead;
    bool fresh = false;
    if (m_pending && !m_neverFresh) {
        if (m_staleLeft > 0) {
            --m_staleLeft;
        } else if (m_clock() >= m_freshAt) {
            fresh = true;
        }
    }
    if (fresh) {
        m_reply = m_fresh;
        m_pending = false;
    } else if (m_pending) {
        // Whatever the keyboard last said, but recognisably not the answer yet.
        m_reply[5] = m_requestByte5;
    }
    const std::size_t n = std::min(length, kReportLength);
    std::copy_n(m_reply.begin(), n, report);
    std::fill(report + n, report + length, 0);
    return true;
}

}  // namespace qk750
