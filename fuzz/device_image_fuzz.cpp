// Images built from fuzzed setups: a failed build names a real limit, an accepted image
// keeps every limit and holds exactly the compiled strings, placed without gaps.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "compiled_string.h"
#include "fuzz_files.h"
#include "keys/device_image.h"

namespace {

using namespace qk750;

// Entries in the order the build fills the string area.
struct Entry {
    int entry;
    int layer;
};

std::vector<Entry> storeOrder() {
    std::vector<Entry> order;
    for (int k = 1; k <= kKeyCount; ++k) {
        order.push_back({k, 1});
    }
    order.push_back({kPreambleEntry, 1});
    order.push_back({kPostambleEntry, 1});
    for (int k = 1; k <= kKeyCount; ++k) {
        order.push_back({k, 2});
    }
    return order;
}

SetupRecord fuzzedSetup(FuzzedDataProvider& input) {
    SetupRecord setup;
    setup.Mcr.BuiltIn_Setup = input.ConsumeBool();
    setup.Mcr.TransmitChecksum = input.ConsumeBool();
    setup.Mcr.BF_Checksum = input.ConsumeBool();
    setup.Mcr.McrSetupMode = input.ConsumeIntegral<std::int32_t>();
    setup.Mcr.McrDelay = input.ConsumeIntegral<std::int32_t>();
    while (input.remaining_bytes() > 0) {
        const int slot = input.ConsumeIntegralInRange<int>(0, 2 * kKeyCount + 1);
        std::string text = input.ConsumeRandomLengthString(200);
        if (slot < kKeyCount) {
            setup.KeyStrings[slot + 1] = std::move(text);
        } else if (slot < 2 * kKeyCount) {
            setup.Func2Strings[slot - kKeyCount + 1] = std::move(text);
        } else if (slot == 2 * kKeyCount) {
            setup.Mcr.PreambleString = std::move(text);
        } else {
            setup.Mcr.PostambleString = std::move(text);
        }
    }
    return setup;
}

void checkAccepted(const SetupRecord& setup, const DeviceImage& image, int setupSize) {
    if (setupSize < 1 || setupSize > kStringAreaCapacity + 1) {
        fuzz::broken("SetupSize out of range");
    }
    if (image[0x7FE] != 0xFF || image[0x7FF] != 0xFF) {
        fuzz::broken("0x7FE or 0x7FF written");
    }
    if (image[0] != 0x00 || image[1] != 0x5A || image[2] != 0x00 || image[6] != 0 ||
        image[7] != 0) {
        fuzz::broken("fixed header bytes changed");
    }
    int position = kStringAreaStart;
    for (const Entry& e : storeOrder()) {
        const Bytes b = CompileEntry(setup, e.entry, e.layer);
        if (b.size() > static_cast<std::size_t>(kMaxCompiledLength)) {
            fuzz::broken("an over-long string was accepted");
        }
        // A one-code preamble or postamble carries a second end mark.
        const bool padded = e.entry >= kPreambleEntry && b.size() == 3 && b[1] == kEndMark;
        if (!fuzz::wellFormedCompiled(padded ? Bytes(b.begin(), b.end() - 1) : b)) {
            std::fprintf(stderr, "entry %d layer %d:", e.entry, e.layer);
            for (std::uint8_t v : b) {
                std::fprintf(stderr, " %02X", v);
            }
            std::fprintf(stderr, "\n");
            fuzz::broken("a stored string is malformed");
        }
        const int at = EntryAddress(e.entry, e.layer);
        const int value =
            image[static_cast<std::size_t>(at)] << 8 | image[static_cast<std::size_t>(at) + 1];
        if (StringAreaLength(b) == 0) {
            const int expected = b.empty() ? 0xFFFF : b[0];
            if (value != expected) {
                fuzz::broken("a short entry holds the wrong value");
            }
            continue;
        }
        const int flag = e.entry < kPreambleEntry ? kKeyAddressFlag : 0;
        const int address = value & ~flag;
        if (value != (position | flag) || address < kStringAreaStart || address > 0x7FD) {
            fuzz::broken("an entry does not point at its string in the string area");
        }
        if (!std::equal(b.begin(), b.end(), image.begin() + address) || b.back() != kEndMark) {
            fuzz::broken("the string area does not hold the compiled string");
        }
        position += static_cast<int>(b.size());
    }
    if (position != kStringAreaStart + setupSize - 1) {
        fuzz::broken("SetupSize does not count the stored bytes");
    }
    if (!std::all_of(image.begin() + position, image.end(),
                     [](std::uint8_t v) { return v == 0xFF; })) {
        fuzz::broken("bytes after the last string are not 0xFF");
    }
    for (int entry : {kPreambleEntry, kPostambleEntry}) {
        const int at = EntryAddress(entry, 2);
        if (image[static_cast<std::size_t>(at)] != 0xFF ||
            image[static_cast<std::size_t>(at) + 1] != 0x00) {
            fuzz::broken("an unused Func2 entry was written");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    SetupRecord setup = fuzzedSetup(input);
    DeviceImage image{};
    const ImageResult result = BuildDeviceImage(setup, image);
    if (result.ok()) {
        checkAccepted(setup, image, result.setupSize);
        return 0;
    }
    if (result.key < 1 || result.key > kPostambleEntry || result.layer < 1 || result.layer > 2) {
        fuzz::broken("a failed build names no entry");
    }
    const Bytes b = CompileEntry(setup, result.key, result.layer);
    const bool tooLong = b.size() > static_cast<std::size_t>(kMaxCompiledLength);
    if ((result.error == ImageError::MemoryFull) == tooLong) {
        fuzz::broken("the failure does not match the entry that failed");
    }
    return 0;
}
