#include "setup/native_path.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace qk750 {

#ifdef _WIN32

std::wstring wideText(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(
        static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)),
        L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

std::string utf8Text(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    std::string utf8(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.data(), size,
                                                                  nullptr, 0, nullptr, nullptr)),
                     '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), static_cast<int>(utf8.size()),
                        nullptr, nullptr);
    return utf8;
}

std::optional<std::string> ansiText(std::string_view utf8) {
    const std::wstring wide = wideText(utf8);
    if (wide.empty()) {
        return std::string();
    }
    const int size = static_cast<int>(wide.size());
    // No best fit: an "a" for an "ä" would name another file.
    const DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL defaulted = FALSE;
    BOOL* const defaultedOut = GetACP() == CP_UTF8 ? nullptr : &defaulted;
    std::string ansi(static_cast<std::size_t>(WideCharToMultiByte(
                         CP_ACP, flags, wide.data(), size, nullptr, 0, nullptr, defaultedOut)),
                     '\0');
    if (ansi.empty() || defaulted) {
        return std::nullopt;
    }
    WideCharToMultiByte(CP_ACP, flags, wide.data(), size, ansi.data(),
                        static_cast<int>(ansi.size()), nullptr, defaultedOut);
    if (defaulted) {
        return std::nullopt;
    }
    return ansi;
}

std::filesystem::path nativePath(std::string_view path) {
    return std::filesystem::path(wideText(path));
}

std::string fromNativePath(const std::filesystem::path& path) {
    return utf8Text(path.native());
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return _wfopen(wideText(path).c_str(), wideText(mode).c_str());
}

#else

std::filesystem::path nativePath(std::string_view path) {
    return std::filesystem::path(path);
}

std::string fromNativePath(const std::filesystem::path& path) {
    return path.native();
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

#endif

}  // namespace qk750
