#include "usb/report_descriptor.h"

#include <array>
#include <vector>

namespace qk750 {

namespace {

enum ItemType : std::uint8_t { MainItem = 0, GlobalItem = 1, LocalItem = 2 };

enum MainTag : std::uint8_t {
    InputTag = 0x8,
    OutputTag = 0x9,
    CollectionTag = 0xA,
    FeatureTag = 0xB,
    EndCollectionTag = 0xC,
};

enum GlobalTag : std::uint8_t {
    UsagePageTag = 0x0,
    ReportSizeTag = 0x7,
    ReportIdTag = 0x8,
    ReportCountTag = 0x9,
    PushTag = 0xA,
    PopTag = 0xB,
};

enum LocalTag : std::uint8_t { UsageTag = 0x0, UsageMinimumTag = 0x1 };

constexpr std::uint8_t LongItemPrefix = 0xFE;

// The same bounds the Linux HID core enforces, so a descriptor this parser accepts is
// one the kernel accepted too; anything beyond them is a broken or hostile device.
constexpr std::uint32_t MaxReportSizeBits = 256;
constexpr std::uint32_t MaxReportCount = 12288;
constexpr std::size_t MaxPushDepth = 16;
// Lengths are reported as 16-bit counts including the ID byte.
constexpr std::uint64_t MaxReportBits = 8ull * 0xFFFE;

struct GlobalState {
    std::uint32_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

// Per kind (input, output, feature) and report ID: the bits declared so far, and
// whether any main item declared such a report at all.
struct ReportBits {
    std::array<std::uint64_t, 256> bits{};
    std::array<bool, 256> present{};

    // 0 when there is no report of this kind.
    std::uint16_t largestLength() const {
        std::uint64_t largest = 0;
        bool any = false;
        for (std::size_t id = 0; id < bits.size(); ++id) {
            if (!present[id]) {
                continue;
            }
            any = true;
            if (bits[id] > largest) {
                largest = bits[id];
            }
        }
        if (!any) {
            return 0;
        }
        if (largest > MaxReportBits) {  // only after a fault; keep the count in range
            largest = MaxReportBits;
        }
        return static_cast<std::uint16_t>((largest + 7) / 8 + 1);
    }
};

std::uint32_t unsignedData(const std::uint8_t* data, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    }
    return value;
}

}  // namespace

ReportDescriptorSummary parseReportDescriptor(const std::uint8_t* data, std::size_t size) {
    ReportDescriptorSummary summary;
    if (data == nullptr) {
        size = 0;
    }

    GlobalState global;
    std::vector<GlobalState> stack;
    std::array<ReportBits, 3> reports;  // input, output, feature

    // Local items that name the next collection; cleared after every main item.
    std::uint32_t firstUsage = 0;
    bool haveUsage = false;
    bool topLevelSeen = false;
    std::size_t depth = 0;

    auto fail = [&summary] { summary.valid = false; };

    std::size_t pos = 0;
    while (pos < size && summary.valid) {
        const std::uint8_t prefix = data[pos];
        if (prefix == LongItemPrefix) {
            // Long items carry nothing a report length depends on: skip them whole.
            if (size - pos < 3) {
                fail();
                break;
            }
            const std::size_t dataSize = data[pos + 1];
            if (size - pos - 3 < dataSize) {
                fail();
                break;
            }
            pos += 3 + dataSize;
            continue;
        }

        const std::size_t dataSize = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
        const auto type = static_cast<std::uint8_t>((prefix >> 2) & 0x3);
        const auto tag = static_cast<std::uint8_t>(prefix >> 4);
        if (size - pos - 1 < dataSize) {
            fail();
            break;
        }
        const std::uint8_t* itemData = data + pos + 1;
        const std::uint32_t value = unsignedData(itemData, dataSize);
        pos += 1 + dataSize;

        switch (type) {
            case MainItem:
                switch (tag) {
                    case InputTag:
                    case OutputTag:
                    case FeatureTag: {
                        const std::size_t kind = tag == InputTag ? 0 : (tag == OutputTag ? 1 : 2);
                        ReportBits& bits = reports[kind];
                        bits.present[global.reportId] = true;
                        bits.bits[global.reportId] +=
                            static_cast<std::uint64_t>(global.reportSize) * global.reportCount;
                        if (bits.bits[global.reportId] > MaxReportBits) {
                            fail();
                        }
                        break;
                    }
                    case CollectionTag:
                        if (depth == 0 && !topLevelSeen) {
                            topLevelSeen = true;
                            // A 4-byte usage carries its own page in the high word.
                            std::uint32_t page = global.usagePage;
                            std::uint32_t usage = firstUsage;
                            if (haveUsage && usage > 0xFFFF) {
                                page = usage >> 16;
                                usage &= 0xFFFF;
                            }
                            summary.caps.UsagePage = static_cast<std::uint16_t>(page);
                            summary.caps.Usage = static_cast<std::uint16_t>(usage);
                        }
                        ++depth;
                        break;
                    case EndCollectionTag:
                        if (depth == 0) {
                            fail();
                        } else {
                            --depth;
                        }
                        break;
                    default:
                        break;
                }
                firstUsage = 0;
                haveUsage = false;
                break;

            case GlobalItem:
                switch (tag) {
                    case UsagePageTag:
                        global.usagePage = value & 0xFFFF;
                        break;
                    case ReportSizeTag:
                        global.reportSize = value;
                        if (value > MaxReportSizeBits) {
                            fail();
                        }
                        break;
                    case ReportCountTag:
                        global.reportCount = value;
                        if (value > MaxReportCount) {
                            fail();
                        }
                        break;
                    case ReportIdTag:
                        if (value == 0 || value > 255) {
                            fail();
                        } else {
                            global.reportId = value;
                            summary.usesReportIds = true;
                        }
                        break;
                    case PushTag:
                        if (stack.size() >= MaxPushDepth) {
                            fail();
                        } else {
                            stack.push_back(global);
                        }
                        break;
                    case PopTag:
                        if (stack.empty()) {
                            fail();
                        } else {
                            global = stack.back();
                            stack.pop_back();
                        }
                        break;
                    default:
                        break;
                }
                break;

            case LocalItem:
                if ((tag == UsageTag || tag == UsageMinimumTag) && !haveUsage) {
                    firstUsage = value;
                    haveUsage = true;
                }
                break;

            default:  // reserved item type: nothing to learn from it
                break;
        }
    }

    if (depth != 0) {
        fail();
    }

    summary.caps.InputReportByteLength = reports[0].largestLength();
    summary.caps.OutputReportByteLength = reports[1].largestLength();
    summary.caps.FeatureReportByteLength = reports[2].largestLength();
    return summary;
}

}  // namespace qk750
