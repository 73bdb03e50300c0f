#include "keys/device_image.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <string>

namespace qk750 {

namespace {

constexpr std::uint8_t kHeader[] = {0x00, 0x5A, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00};
constexpr int kFirstLayerBase = 0x006;  // entry k at base + 2k
constexpr int kFunc2LayerBase = 0x0B2;
// The counter may reach this value only after the byte at 0x7FE has been written.
constexpr int kLastSetupSize = kStringAreaCapacity + 1;

void checkEntry(int entry, int layer) {
    if (entry < 1 || entry > kEntriesPerLayer || (layer != 1 && layer != 2)) {
        throw std::out_of_range("image entry out of range");
    }
}

// Applies the two Func2 tests to `s`. Both are decided before either assignment, since `s`
// may be one of the strings assigned; SHIFT wins because it is assigned last.
void normalizeFrom(const std::string& s, std::string& key, std::string& func2) {
    const bool toggle = s.find("FUNC2_TOGGLE") != std::string::npos;
    const bool shift = s.find("FUNC2_SHIFT") != std::string::npos;
    if (toggle) {
        key = func2 = "<FUNC2_TOGGLE>";
    }
    if (shift) {
        key = func2 = "<FUNC2_SHIFT>";
    }
}

}  // namespace

int EntryAddress(int entry, int layer) {
    checkEntry(entry, layer);
    return (layer == 1 ? kFirstLayerBase : kFunc2LayerBase) + 2 * entry;
}

void ClearImage(DeviceImage& image) {
    image.fill(0xFF);
    std::copy(std::begin(kHeader), std::end(kHeader), image.begin());
    for (int layer = 1; layer <= 2; ++layer) {
        for (int entry = 1; entry <= kEntriesPerLayer; ++entry) {
            image[EntryAddress(entry, layer) + 1] = 0x00;
        }
    }
}

void NormalizeFunc2Keys(SetupRecord& setup) {
    for (int k = 1; k <= kKeyCount; ++k) {
        std::string& key = setup.KeyStrings[k];
        std::string& func2 = setup.Func2Strings[k];
        normalizeFrom(key, key, func2);
        normalizeFrom(func2, key, func2);
    }
}

Bytes CompileEntry(const SetupRecord& setup, int entry, int layer) {
    checkEntry(entry, layer);
    if (entry <= kKeyCount) {
        const auto& strings = layer == 1 ? setup.KeyStrings : setup.Func2Strings;
        return CompileKeyString(TrimKeyString(strings[entry]));
    }
    if (layer != 1) {
        return {};  // the Func2 layer has no preamble or postamble
    }
    // The firmware reads the preamble and postamble from the string area only, so a
    // one-code string is padded to three bytes to be stored there.
    Bytes b = CompileKeyString(entry == kPreambleEntry ? setup.Mcr.PreambleString
                                                       : setup.Mcr.PostambleString);
    if (b.size() == 2) {
        b.push_back(kEndMark);
    }
    return b;
}

int StringAreaLength(const Bytes& b) {
    return b.size() > 2 ? static_cast<int>(b.size()) : 0;
}

bool StoreKeyEntry(DeviceImage& image, int entry, const Bytes& b, int layer, int& setupSize) {
    const int at = EntryAddress(entry, layer);
    if (b.size() <= 2) {
        image[at] = b.empty() ? 0xFF : 0x00;
        image[at + 1] = b.empty() ? 0xFF : b.front();
        return true;
    }
    if (setupSize < 1) {
        throw std::out_of_range("string-area position out of range");
    }
    // A counter that is already past the last usable byte (left by an earlier failure)
    // must not write beyond the image.
    if (setupSize > kLastSetupSize) {
        return false;
    }
    int address = kStringAreaStart - 1 + setupSize;
    if (entry < kPreambleEntry) {
        address |= kKeyAddressFlag;
    }
    image[at] = static_cast<std::uint8_t>(address >> 8);
    image[at + 1] = static_cast<std::uint8_t>(address & 0xFF);
    for (const std::uint8_t byte : b) {
        image[kStringAreaStart - 1 + setupSize] = byte;
        ++setupSize;
        if (setupSize > kLastSetupSize) {
            return false;
        }
    }
    return true;
}

ImageResult BuildDeviceImage(SetupRecord& setup, DeviceImage& image) {
    NormalizeFunc2Keys(setup);
    ClearImage(image);
    const SetupRecType& mcr = setup.Mcr;
    image[kHeaderChecksumFlags] =
        static_cast<std::uint8_t>((mcr.TransmitChecksum ? 0x01 : 0) | (mcr.BF_Checksum ? 0x02 : 0));
    image[kHeaderMcrMode] = mcr.BuiltIn_Setup ? static_cast<std::uint8_t>(mcr.McrSetupMode) : 0;
    image[kHeaderMcrDelay] = static_cast<std::uint8_t>(mcr.McrDelay);

    ImageResult result;
    result.setupSize = 1;
    const auto store = [&](int entry, int layer) {
        const Bytes b = CompileEntry(setup, entry, layer);
        if (static_cast<int>(b.size()) > kMaxCompiledLength) {
            result.error = entry == kPreambleEntry    ? ImageError::PreambleTooLong
                           : entry == kPostambleEntry ? ImageError::PostambleTooLong
                                                      : ImageError::KeyTooLong;
        } else if (!StoreKeyEntry(image, entry, b, layer, result.setupSize)) {
            result.error = ImageError::MemoryFull;
        }
        if (!result.ok()) {
            result.key = entry;
            result.layer = layer;
        }
        return result.ok();
    };

    for (int k = 1; k <= kKeyCount; ++k) {
        if (!store(k, 1)) {
            return result;
        }
    }
    if (!store(kPreambleEntry, 1) || !store(kPostambleEntry, 1)) {
        return result;
    }
    for (int k = 1; k <= kKeyCount; ++k) {
        if (!store(k, 2)) {
            return result;
        }
    }
    return result;
}

}  // namespace qk750
