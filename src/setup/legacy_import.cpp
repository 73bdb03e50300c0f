#include "setup/legacy_import.h"

#include <algorithm>
#include <vector>

#include "setup/file_io.h"
#include "setup/text_utils.h"

namespace qk750 {

namespace {

constexpr char kTokenMark = '\xF9';

// Offsets inside a KBD record.
constexpr std::size_t kFirstLengthOffset = 10;
constexpr std::size_t kSecondLengthOffset = 71;
constexpr int kPreambleRecord = 90;
constexpr int kPostambleRecord = 91;

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// True when the characters from 1-based position `position` on begin with `part`.
bool hasAt(std::string_view text, std::size_t position, std::string_view part) {
    return text.size() >= position - 1 + part.size() &&
           text.substr(position - 1, part.size()) == part;
}

std::string_view from(std::string_view text, std::size_t position) {
    return position - 1 < text.size() ? text.substr(position - 1) : std::string_view{};
}

// The string whose length byte sits at lengthOffset in the record: as many bytes as the
// length says, never past the end of the record.
std::string_view recordString(std::string_view record, std::size_t lengthOffset) {
    const std::size_t length = static_cast<unsigned char>(record[lengthOffset]);
    return record.substr(lengthOffset + 1, length);
}

std::string_view record(std::string_view file, int number) {
    return file.substr(static_cast<std::size_t>(number - 1) * kKbdRecordSize, kKbdRecordSize);
}

bool isFullRecord(std::string_view file, int number) {
    return file.size() >= static_cast<std::size_t>(number) * kKbdRecordSize;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

LegacyName NormalizeLegacyName(std::string_view token) {
    if (token.empty()) {
        return {"", true};
    }
    std::string value(token);
    if (startsWith(value, "Pad")) {
        const std::string_view rest = trimControl(from(value, 5));
        if (!rest.empty() &&
            std::string_view("*+-/").find(rest.front()) == std::string_view::npos) {
            value = std::string(rest);
        }
    }
    if (value == "\x11\xC4\xD9") {
        value = "Enter";
    }
    if (value == "\x11\xCD") {
        value = "Back";
    }
    if (value == "BkSp") {
        value = "Back";
    }
    // A key caption with up to three prefix characters before "BkSp" (such as "ShBkSp").
    for (std::size_t prefix = 1; prefix <= 3; ++prefix) {
        if (hasAt(value, prefix + 1, "BkSp")) {
            value = value.substr(0, prefix) + "Back";
        }
    }
    if (value == "RShft") {
        return {"RShift", false};
    }
    if (value == "LShft") {
        value = "LShift";
    }
    if (value == "Shft") {
        return {"Shift", false};
    }
    if (startsWith(value, "Sh")) {
        value = "Shift" + std::string(from(value, 3));
    }
    if (value == "Spc") {
        value = "Space";
    }
    if (value == "Func1") {
        value = "FUNC2_SHIFT";
    }
    if (value == "Func2") {
        value.clear();
    }
    if (value == "Func1Tgl") {
        value = "FUNC2_TOGGLE";
    }
    if (value == "\x18") {
        value = "Up";
    }
    if (value == "\x19") {
        value = "Down";
    }
    if (value == "\x11\xC4") {
        value = "Left";
    }
    if (value == "\xC4\x10") {
        value = "Right";
    }
    if (startsWith(value, "^")) {
        value = "Ctrl" + std::string(from(value, 2));
    }
    const bool literal = value.size() <= 1;
    return {std::move(value), literal};
}

std::string TokensToKeyString(std::string_view tokens) {
    std::string result;
    auto append = [&result](std::string_view token) {
        const LegacyName name = NormalizeLegacyName(token);
        if (name.literal) {
            result += name.value;
        } else {
            result += '<';
            result += name.value;
            result += '>';
        }
    };
    if (tokens == "Func1" || tokens == "Func2" || tokens == "Func1Tgl") {
        append(tokens);
        return result;
    }
    std::size_t pos = 0;
    while (pos < tokens.size()) {
        ++pos;  // the delimiter, whatever byte it is
        const std::size_t next = std::min(tokens.find(kTokenMark, pos), tokens.size());
        append(tokens.substr(pos, next - pos));
        pos = next;
    }
    return result;
}

std::string DatTextToTokens(std::string_view text) {
    std::string out(1, kTokenMark);
    bool inGroup = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (c == '[') {
            if (i > 0) {
                out += kTokenMark;
            }
            inGroup = true;
        } else if (c == ']') {
            out += kTokenMark;
            inGroup = false;
        } else if (byte == 24) {
            out += "Up";
        } else if (byte == 25) {
            out += "Down";
        } else if (byte >= 32) {
            out += c;
            if (!inGroup) {
                out += kTokenMark;
            }
        }
    }
    return out;
}

KbdImportStatus ImportKbdFile(SetupRecord& setup, const std::string& path, std::string* error) {
    ClearSetup(setup);
    // One read of at most one byte more than the valid size tells the size and gives the
    // content; no separate size query that the read could then disagree with.
    const FileReadResult file = readFile(path, kKbdFileSize + 1);
    if (file.status == ReadStatus::Missing) {
        return KbdImportStatus::Missing;
    }
    if (file.status == ReadStatus::Ok && file.data.size() != kKbdFileSize) {
        return KbdImportStatus::InvalidSize;
    }
    const std::string_view data = file.data;
    for (int key = 1; key <= kKeyCount; ++key) {
        if (!isFullRecord(data, key)) {
            continue;
        }
        const std::string_view keyRecord = record(data, key);
        setup.KeyStrings[key] = TokensToKeyString(recordString(keyRecord, kFirstLengthOffset));
        setup.Func2Strings[key] = TokensToKeyString(recordString(keyRecord, kSecondLengthOffset));
    }
    if (isFullRecord(data, kPreambleRecord)) {
        setup.Mcr.PreambleString =
            TokensToKeyString(recordString(record(data, kPreambleRecord), kFirstLengthOffset));
    }
    if (isFullRecord(data, kPostambleRecord)) {
        setup.Mcr.PostambleString =
            TokensToKeyString(recordString(record(data, kPostambleRecord), kFirstLengthOffset));
    }
    if (file.status == ReadStatus::Ok) {
        return KbdImportStatus::Ok;
    }
    if (error != nullptr) {
        *error = file.error;
    }
    return KbdImportStatus::ReadError;
}

FileReadResult ImportDatFile(SetupRecord& setup, const std::string& datPath) {
    if (trimControl(datPath).empty()) {
        return {};
    }
    FileReadResult file = readFile(datPath);
    if (file.status != ReadStatus::Ok) {
        return file;
    }
    struct Assignment {
        int key;
        int layer;
        std::string keyString;
    };
    std::vector<Assignment> assignments;
    const std::string_view text = file.data;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (trimControl(line).empty()) {
            continue;
        }

        // Row, column and layer: the first three non-empty comma-separated items.
        int fields[3] = {0, 0, 0};
        int found = 0;
        std::size_t itemStart = 0;
        while (found < 3 && itemStart <= line.size()) {
            const std::size_t comma = std::min(line.find(',', itemStart), line.size());
            std::string_view item = line.substr(itemStart, comma - itemStart);
            while (!item.empty() && isBlank(item.front())) {
                item.remove_prefix(1);
            }
            if (!item.empty()) {
                fields[found++] = parseDecimal(trimControl(item)).value_or(0);
            }
            itemStart = comma + 1;
        }
        const int row = fields[0];
        const int column = fields[1];
        const int layer = fields[2];
        if (row < 1 || row > kGridRows || column < 1 || column > kGridColumns || layer < 1 ||
            layer > 2) {
            break;
        }

        std::string_view keyText = line;
        for (int i = 0; i < 3; ++i) {
            const std::size_t comma = keyText.find(',');
            if (comma != std::string_view::npos) {
                keyText.remove_prefix(comma + 1);
            }
        }
        if (keyText.empty()) {
            break;
        }

        assignments.push_back({(row - 1) * kGridColumns + column, layer,
                               TokensToKeyString(DatTextToTokens(keyText))});
    }
    file.data.clear();
    // Emptying every key for a file that assigns none would program an empty keyboard.
    if (assignments.empty()) {
        file.status = ReadStatus::Invalid;
        file.error = kNoKeyLineText;
        return file;
    }
    for (int key = 1; key <= kKeyCount; ++key) {
        setup.KeyStrings[key].clear();
        setup.Func2Strings[key].clear();
    }
    for (Assignment& a : assignments) {
        auto& strings = (a.layer == 1) ? setup.KeyStrings : setup.Func2Strings;
        strings[a.key] = std::move(a.keyString);
    }
    return file;
}

}  // namespace qk750
