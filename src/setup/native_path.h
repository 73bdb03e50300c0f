#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qk750 {

// File names as the program keeps them in its strings: on Windows UTF-8, so that every
// name the file system allows survives, turned into UTF-16 for the wide file calls;
// elsewhere the file system's own bytes, untouched.

// The name for std::filesystem. (A narrow std::string given to std::filesystem on Windows
// is read in no code page that could hold every name.)
std::filesystem::path nativePath(std::string_view path);
std::string fromNativePath(const std::filesystem::path& path);

// std::fopen for such a name.
std::FILE* openFile(const std::string& path, const char* mode);

#ifdef _WIN32
std::wstring wideText(std::string_view utf8);
std::string utf8Text(std::wstring_view wide);

// The text in the system's ANSI code page, or nothing when a character has no byte there.
std::optional<std::string> ansiText(std::string_view utf8);
#endif

}  // namespace qk750
