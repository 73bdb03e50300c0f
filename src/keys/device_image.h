#pragma once

#include <array>
#include <cstdint>

#include "keys/key_string.h"
#include "setup/setup_record.h"

namespace qk750 {

inline constexpr int kImageSize = 2048;
inline constexpr int kMaxCompiledLength = 48;
inline constexpr int kStringAreaCapacity = 1694;  // usable string-area bytes

using DeviceImage = std::array<std::uint8_t, kImageSize>;

// Image layout. Two-byte values are stored most significant byte first.
inline constexpr int kHeaderMcrMode = 0x003;
inline constexpr int kHeaderChecksumFlags = 0x004;
inline constexpr int kHeaderMcrDelay = 0x005;
inline constexpr int kStringAreaStart = 0x160;
inline constexpr int kEntriesPerLayer = 86;
inline constexpr int kPreambleEntry = 85;
inline constexpr int kPostambleEntry = 86;
// Entries of keys 1-84 that point into the string area carry this bit; the preamble and
// postamble entries do not.
inline constexpr int kKeyAddressFlag = 0x1000;

enum class ImageError { None, KeyTooLong, PreambleTooLong, PostambleTooLong, MemoryFull };

struct ImageResult {
    ImageError error = ImageError::None;
    // The entry that failed: 1-84 a key, 85 the preamble, 86 the postamble.
    int key = 0;
    // 1 first layer (also preamble/postamble), 2 Func2.
    int layer = 0;
    int setupSize = 1;  // SetupSize as the build left it
    bool ok() const { return error == ImageError::None; }
};

// Image address of entry 1-86 of layer 1 (first layer) or 2 (Func2).
int EntryAddress(int entry, int layer);

// Resets the image to the cleared pattern: fixed header, every entry 0xFF 0x00, string
// area all 0xFF.
void ClearImage(DeviceImage& image);

// A key that mentions FUNC2_SHIFT or FUNC2_TOGGLE in either layer becomes that Func2 key,
// alone, in both layers (the first-layer string decides first, SHIFT before TOGGLE).
void NormalizeFunc2Keys(SetupRecord& setup);

// The bytes the build stores for entry 1-86 of a layer: the compiled key string (trimmed
// first), or for the preamble and postamble the compiled string with a one-code string's
// end mark doubled.
Bytes CompileEntry(const SetupRecord& setup, int entry, int layer);

// String-area bytes a compiled entry takes: 0 when the entry itself holds it.
int StringAreaLength(const Bytes& b);

// Writes `b` into entry 1-86 of the layer and, when it is longer than one code, into the
// string area at position `setupSize` (counted from 1), advancing it. False when the
// string area is full; the byte that overflowed has then been written at 0x7FE.
bool StoreKeyEntry(DeviceImage& image, int entry, const Bytes& b, int layer, int& setupSize);

// Builds the image from the record: normalises the Func2 keys (the only change made to the
// record), clears the image, writes the header and stores first-layer keys 1-84, preamble,
// postamble and Func2 keys 1-84 in that order. Ends at the first string longer than 48
// bytes or the first one that does not fit.
ImageResult BuildDeviceImage(SetupRecord& setup, DeviceImage& image);

}  // namespace qk750
