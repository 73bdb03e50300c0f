#pragma once

#include <cstddef>
#include <cstdint>

#include "keys/key_string.h"

namespace qk750::fuzz {

// A compiled key string is empty, or plain codes and modified groups (0xF3, modifier bits
// 1-7, code) followed by exactly one end mark; 0xF3 and 0xFF appear nowhere else.
inline bool wellFormedCompiled(const Bytes& b) {
    if (b.empty()) {
        return true;
    }
    if (b.back() != kEndMark) {
        return false;
    }
    const std::size_t items = b.size() - 1;
    for (std::size_t i = 0; i < items;) {
        if (b[i] == kModifiedGroup) {
            if (i + 2 >= items) {
                return false;
            }
            const std::uint8_t bits = b[i + 1];
            const std::uint8_t code = b[i + 2];
            if (bits == 0 || bits > 7 || code == kModifiedGroup || code == kEndMark) {
                return false;
            }
            i += 3;
        } else if (b[i] == kEndMark) {
            return false;
        } else {
            ++i;
        }
    }
    return true;
}

}  // namespace qk750::fuzz
