#include "keys/key_string.h"

#include "keys/key_table.h"

namespace qk750 {

namespace {

// Length of the token at the front of `source`, given the position of the first ">" in
// it (npos when there is none). Knowing that position lets the compiler find it once per
// ">" instead of rescanning the rest of the text for every unclosed "<".
std::size_t tokenLength(std::string_view source, std::size_t firstClose) {
    if (source.empty()) {
        return 0;
    }
    if (source.size() >= 2 && (source.starts_with(">>") || source.starts_with("<<"))) {
        return 2;
    }
    if (source.front() == '<' && firstClose != std::string_view::npos) {
        return firstClose + 1;
    }
    return 1;
}

// The token's text: the doubled brackets stand for a single one.
std::string_view tokenText(std::string_view source, std::size_t length) {
    if (length == 2 && (source[0] == '>' || source[0] == '<') && source[1] == source[0]) {
        return source.substr(0, 1);
    }
    return source.substr(0, length);
}

bool isUpperLetter(char c) {
    return c >= 'A' && c <= 'Z';
}

}  // namespace

std::string NextToken(std::string& source) {
    const std::string_view view(source);
    const std::size_t length = tokenLength(view, view.find('>'));
    std::string token(tokenText(view, length));
    source.erase(0, length);
    return token;
}

Bytes CompileKeyString(std::string_view source) {
    Bytes result;
    int modifierTags = 0;
    // Position of the next ">" at or after the current position, relative to the whole text.
    std::size_t nextClose = source.find('>');
    std::size_t pos = 0;
    while (pos < source.size()) {
        if (nextClose != std::string_view::npos && nextClose < pos) {
            nextClose = source.find('>', pos);
        }
        const std::string_view rest = source.substr(pos);
        const std::size_t length =
            tokenLength(rest, nextClose == std::string_view::npos ? nextClose : nextClose - pos);
        const std::string_view token = tokenText(rest, length);
        pos += length;

        const bool isTag = token.size() >= 2 && token.front() == '<';
        std::string_view inner = isTag ? token.substr(1, token.size() - 2) : token;
        std::uint8_t modifiers = 0;
        char lowered = 0;
        if (isTag) {
            if (const int r = FindModifierPrefix(inner); r != 0) {
                static constexpr std::uint8_t kBits[] = {0, kModShift, kModCtrl, kModAlt};
                modifiers = kBits[r];
                inner.remove_prefix(KeyTable[r].Name.size());
                if (inner.empty()) {
                    result.push_back(KeyTable[r].Code);
                }
                // The upper-case letter rows are shifted; after a modifier a capital
                // means the plain letter key.
                if (inner.size() == 1 && isUpperLetter(inner[0])) {
                    lowered = static_cast<char>(inner[0] - 'A' + 'a');
                    inner = std::string_view(&lowered, 1);
                }
                ++modifierTags;
            }
        }
        if (const int k = FindKeyByName(inner); k != 0) {
            const KeyRec& rec = KeyTable[k];
            if (rec.Shifted) {
                modifiers |= kModShift;
            }
            if (modifiers == 0) {
                result.push_back(rec.Code);
            } else {
                result.insert(result.end(), {kModifiedGroup, modifiers, rec.Code});
            }
        }
        if (modifierTags >= kMaxModifierTags) {
            break;
        }
    }
    if (!result.empty()) {
        result.push_back(kEndMark);
    }
    return result;
}

std::string TrimKeyString(std::string_view s) {
    // Compare as unsigned: bytes 0x80-0xFF are text, not control characters.
    const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && isBlank(s[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(s[end - 1])) {
        --end;
    }
    return std::string(s.substr(begin, end - begin));
}

}  // namespace qk750
