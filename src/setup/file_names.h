#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qk750 {

// File-name rules of the setup files. A path's last component is what follows its last
// separator: "/" everywhere, also "\" and a drive's ":" on Windows.

// Index of the first character of the last path component (path.size() when the path
// ends with a separator).
std::size_t fileNameStart(std::string_view path);

// From the last "." of the last path component on ("" if none): "op.d/shop" has no
// extension, ".INI" alone is the extension ".INI".
std::string FileExtension(std::string_view path);

// Compares the extension without regard to letter case, so that "shop.kbd" counts as a
// ".KBD" file on file systems where names differ by case.
bool HasExtension(std::string_view path, std::string_view ext);

// Replaces the extension by ".INI", or appends ".INI" when there is none. An extension
// that already is ".ini" in any case is kept, so saving "shop.ini" writes that file and
// not a twin "shop.INI" beside it.
std::string WithIniExtension(std::string_view path);

// The folder part without its final separator; "" when the path has no folder part. The
// root keeps its separator ("/shop.ini" gives "/").
std::string DirectoryOf(std::string_view path);

}  // namespace qk750
