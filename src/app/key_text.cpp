#include "app/key_text.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#endif

namespace qk750 {

namespace {

QString characterAt(const QString& text, qsizetype i) {
    const bool pair =
        text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
    return text.mid(i, pair ? 2 : 1);
}

}  // namespace

#ifdef _WIN32

namespace {

// U+F780 .. U+F7FF stand for the bytes 0x80 .. 0xFF that the code page has no character
// for.
constexpr char16_t kRawByteBase = 0xF700;

// The bytes of one character starting at text[0].
std::size_t characterLength(unsigned codePage, std::string_view text) {
    const auto lead = static_cast<unsigned char>(text.front());
    std::size_t length = 1;
    if (lead < 0x80) {
        length = 1;
    } else if (codePage == CP_UTF8) {
        length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    } else if (IsDBCSLeadByteEx(codePage, lead)) {
        length = 2;
    }
    return std::min(length, text.size());
}

// Appends the bytes of one character; false when the code page has none for it.
bool appendEncoded(unsigned codePage, const wchar_t* character, int length, std::string& out) {
    char buffer[8];
    BOOL defaulted = FALSE;
    const bool utf8 = codePage == CP_UTF8;
    // No best fit: an "a" for an "ä" would program another key.
    const int size =
        WideCharToMultiByte(codePage, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, character,
                            length, buffer, sizeof buffer, nullptr, utf8 ? nullptr : &defaulted);
    if (size <= 0 || defaulted) {
        return false;
    }
    out.append(buffer, static_cast<std::size_t>(size));
    return true;
}

}  // namespace

QString keyText(std::string_view bytes, unsigned codePage) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::string_view rest = bytes.substr(i);
        const auto byte = static_cast<unsigned char>(rest.front());
        if (byte < 0x80) {
            text += QChar(byte);
            ++i;
            continue;
        }
        const std::size_t length = characterLength(codePage, rest);
        wchar_t wide[4];
        const int count = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, rest.data(),
                                              static_cast<int>(length), wide, 4);
        std::string back;
        if (count > 0 && appendEncoded(codePage, wide, count, back) &&
            back == rest.substr(0, length)) {
            text += QString::fromWCharArray(wide, count);
            i += length;
        } else {
            // The next byte may begin a character of its own.
            text += QChar(static_cast<char16_t>(kRawByteBase + byte));
            ++i;
        }
    }
    return text;
}

std::optional<std::string> keyBytes(const QString& text, unsigned codePage, QString* refused) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    qsizetype i = 0;
    while (i < text.size()) {
        const char16_t c = text.at(i).unicode();
        const QString character = characterAt(text, i);
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if (c >= kRawByteBase + 0x80 && c <= kRawByteBase + 0xFF) {
            bytes += static_cast<char>(c - kRawByteBase);
        } else if (!appendEncoded(codePage, reinterpret_cast<const wchar_t*>(character.utf16()),
                                  static_cast<int>(character.size()), bytes)) {
            if (refused != nullptr) {
                *refused = character;
            }
            return std::nullopt;
        }
        i += character.size();
    }
    return bytes;
}

QString keyText(std::string_view bytes) {
    return keyText(bytes, GetACP());
}

std::optional<std::string> keyBytes(const QString& text, QString* refused) {
    return keyBytes(text, GetACP(), refused);
}

QString keyCodePageName() {
    return QStringLiteral("code page %1").arg(GetACP());
}

#else

QString keyText(std::string_view bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::optional<std::string> keyBytes(const QString& text, QString* refused) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).unicode() > 0xff) {
            if (refused != nullptr) {
                *refused = characterAt(text, i);
            }
            return std::nullopt;
        }
    }
    return text.toLatin1().toStdString();
}

QString keyCodePageName() {
    return QStringLiteral("Latin-1");
}

#endif

int keyByteCaret(const QString& text, int caret) {
    const std::optional<std::string> before = keyBytes(text.left(caret));
    return before ? static_cast<int>(before->size()) : caret;
}

int keyTextCaret(std::string_view bytes, int caret) {
    const auto end = static_cast<std::size_t>(std::clamp(caret, 0, static_cast<int>(bytes.size())));
    return static_cast<int>(keyText(bytes.substr(0, end)).size());
}

}  // namespace qk750
