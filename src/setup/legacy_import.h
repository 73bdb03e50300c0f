#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "setup/file_io.h"
#include "setup/setup_record.h"

namespace qk750 {

// Imports of the two older formats: the fixed-size binary ".KBD" setup file and the
// ASCII ".DAT" key list. Both hold keys in the older notation (bracketed key names in
// older forms, "^" + letter for control keys, DOS arrow and box-drawing bytes), which
// is turned into key strings here. Nothing is ever written in these formats.

enum class KbdImportStatus {
    Ok,
    Missing,      // no file at the path
    InvalidSize,  // not 21300 bytes; the caller shows "Invalid KBD File size"
    ReadError,    // the file exists but could not be read in full
};

inline constexpr std::size_t kKbdFileSize = 21300;
inline constexpr std::size_t kKbdRecordSize = 213;

// Clears the setup, then reads the key strings of both layers and the MCR preamble and
// postamble. On ReadError the records read in full before the failure stay imported and
// *error (when given) gets the system's text.
KbdImportStatus ImportKbdFile(SetupRecord& setup, const std::string& path,
                              std::string* error = nullptr);

// Why a DAT file is Invalid.
inline constexpr std::string_view kNoKeyLineText =
    "Not a key list: no line of the form row,column,layer,key text";

// Reads the DAT key list at datPath into the key strings of both layers; the MCR part
// and the lock flag are not touched. A blank path does nothing and reads as Ok. A file
// that cannot be read, or whose first key line is already rejected (Invalid), leaves
// every key string as it was (emptying them would program an empty keyboard) and is
// returned with the reason; a later rejected line ends the import quietly and keeps the
// lines before it.
FileReadResult ImportDatFile(SetupRecord& setup, const std::string& datPath);

// Token form (every token preceded by the byte 0xF9) to a key string. The first byte is
// always taken as a delimiter, so an input not beginning with 0xF9 loses its first
// character; the bare names "Func1", "Func2" and "Func1Tgl" count as one token.
std::string TokensToKeyString(std::string_view tokens);

struct LegacyName {
    std::string value;
    bool literal = false;  // a plain character (or nothing) rather than a key name
};

// Maps one legacy token to the name used in key strings ("BkSp" to "Back", "^C" to
// "CtrlC", "Pad 7" to "7", ...).
LegacyName NormalizeLegacyName(std::string_view token);

// A DAT key text to token form: each character outside brackets is a token of its own,
// each bracketed group one token; bytes 24 and 25 are the up and down arrows.
std::string DatTextToTokens(std::string_view text);

}  // namespace qk750
