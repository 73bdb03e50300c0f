#pragma once

#include <QString>

#include <optional>
#include <string>
#include <string_view>

namespace qk750 {

// Key strings are bytes. The windows show and take them as text of the system's 8-bit
// code page: Latin-1 here; on Windows the ANSI code page, the one the Windows program
// has always written them in. A byte that is no character of the code page is shown as a
// private-use character of its own and comes back as the same byte, so showing a key and
// storing it again never changes its bytes.
QString keyText(std::string_view bytes);

// The bytes of a text, or nothing when a character has no byte in the code page (a "?"
// in its place would program a "?" keystroke); refused then gets that character.
std::optional<std::string> keyBytes(const QString& text, QString* refused = nullptr);

// The code page, as a message names it: "Latin-1", "code page 1252".
QString keyCodePageName();

// Carets: characters before the caret in a text <-> bytes before it in its key string.
// They differ only where a character takes two bytes (a double-byte code page).
int keyByteCaret(const QString& text, int caret);
int keyTextCaret(std::string_view bytes, int caret);

#ifdef _WIN32
// The same for a given Windows code page.
QString keyText(std::string_view bytes, unsigned codePage);
std::optional<std::string> keyBytes(const QString& text, unsigned codePage, QString* refused);
#endif

}  // namespace qk750
