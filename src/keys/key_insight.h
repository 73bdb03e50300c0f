#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "keys/device_image.h"
#include "setup/setup_record.h"

namespace qk750 {

// What the editor shows about a setup while it is edited: the string area's use, the
// compiled length of each key, and the parts of a line that compile to nothing. All of it
// comes from the image compiler itself, run on a copy of the setup; nothing here changes
// what is compiled, saved or programmed.

// Error: the next programming run's build would fail (memory full or a string too long).
enum class MemoryLevel { Ok, Warning, Error };

// The meter warns from this share of the string area on.
inline constexpr int kMemoryWarningPercent = 90;

struct MemoryUse {
    // String-area bytes the setup needs. After a successful build this is SetupSize - 1;
    // when the build stops early it still counts every string, so a setup that does not
    // fit shows by how much.
    int used = 0;
    int capacity = kStringAreaCapacity;
    MemoryLevel level = MemoryLevel::Ok;
    // What the next programming run's build reports first (ok() when it would succeed).
    ImageResult result;
};

// Builds the image from a copy of the setup, Func2 keys normalised as the next run will.
MemoryUse computeMemoryUse(const SetupRecord& setup);

// "N / 1694 bytes".
std::string memoryMeterText(const MemoryUse& use);

// The first failure in a few words: "Key 12 is too long", "MCR preamble is too long",
// "memory full at key 40", "memory full at the preamble", "memory full at key 40 (Func2)".
// Empty for a successful result.
std::string imageFailureText(const ImageResult& result);

// Compiled lengths of both strings of a key, end mark included, as the 48-byte limit
// counts them (0 for a key that sends nothing).
struct KeyLengths {
    int key = 0;
    int keyString = 0;
    int func2 = 0;
    bool tooLong() const { return keyString > kMaxCompiledLength || func2 > kMaxCompiledLength; }
};

KeyLengths compiledLengths(const SetupRecord& setup, int key);

// The same for keys 1-84 at once (element 0 unused), for redrawing the whole grid.
std::array<KeyLengths, kKeyCount + 1> allCompiledLengths(const SetupRecord& setup);

// "Key 7: 23 / 48 bytes, Func2: 0 / 48".
std::string keyLengthsTooltip(const KeyLengths& lengths);

enum class NameHintKind {
    CaseMismatch,      // a name in the wrong letter case
    Misspelt,          // near a real name
    UnknownName,       // near nothing
    TwoModifiers,      // "<AltShiftTab>"
    BracketInsideTag,  // "<b<Enter>" swallows the tag after it
    EmptyTag,          // "<>"
    Blank,             // a blank inside the string
    NoKeyCharacter,    // a control character or a byte above 0x7E
    ModifierLimit,     // what follows the 25th modifier tag is ignored
};

struct NameHint {
    NameHintKind kind = NameHintKind::UnknownName;
    std::string token;       // as written (for ModifierLimit: the first ignored token)
    int position = 0;        // byte offset of the token in the line
    std::string suggestion;  // the nearest real tag, or empty
    std::string text;        // what the hint says
};

// The tokens of a line that compile to nothing, each distinct token once, in line order,
// and where the modifier-tag limit cuts the line off. Blanks at the ends are trimmed by the
// build and get no hint.
std::vector<NameHint> unknownNames(std::string_view keyString);

}  // namespace qk750
