#pragma once

#include <string>
#include <string_view>

#include "setup/legacy_import.h"

namespace qk750::test {

// Builds the bytes of a KBD file record by record; everything not set is 0.
class KbdFile {
public:
    KbdFile() : m_bytes(kKbdFileSize, '\0') {}

    // Writes a length byte and the string after it, at the first (offset 10) or second
    // (offset 71) string of a record.
    KbdFile& setString(int record, int which, std::string_view text) {
        return setRaw(record, which == 1 ? 10 : 71,
                      std::string(1, static_cast<char>(text.size())) + std::string(text));
    }

    KbdFile& setRaw(int record, std::size_t offset, std::string_view bytes) {
        m_bytes.replace((record - 1) * kKbdRecordSize + offset, bytes.size(), bytes);
        return *this;
    }

    std::string bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

inline const std::string kMark = "\xF9";

}  // namespace qk750::test
