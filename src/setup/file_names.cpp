#include "setup/file_names.h"

#include "setup/text_utils.h"

namespace qk750 {

namespace {

bool isSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

}  // namespace

std::size_t fileNameStart(std::string_view path) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (isSeparator(path[i])) {
            start = i + 1;
        }
    }
#ifdef _WIN32
    // "C:shop.ini" names shop.ini in the current folder of drive C.
    if (start == 0 && path.size() >= 2 && path[1] == ':') {
        start = 2;
    }
#endif
    return start;
}

namespace {

std::size_t extensionStart(std::string_view path) {
    const std::size_t start = fileNameStart(path);
    const std::size_t dot = path.rfind('.');
    return (dot == std::string_view::npos || dot < start) ? path.size() : dot;
}

}  // namespace

std::string FileExtension(std::string_view path) {
    return std::string(path.substr(extensionStart(path)));
}

bool HasExtension(std::string_view path, std::string_view ext) {
    return equalsIgnoreCase(path.substr(extensionStart(path)), ext);
}

std::string WithIniExtension(std::string_view path) {
    if (HasExtension(path, ".INI")) {
        return std::string(path);
    }
    std::string result(path.substr(0, extensionStart(path)));
    result += ".INI";
    return result;
}

std::string DirectoryOf(std::string_view path) {
    std::size_t end = fileNameStart(path);
    if (end == 0) {
        return {};
    }
#ifdef _WIN32
    const std::size_t rootEnd = (path.size() >= 2 && path[1] == ':') ? 2 : 0;
#else
    const std::size_t rootEnd = 0;
#endif
    // Drop the separators between the folder and the name, but keep a root's own one.
    while (end > rootEnd + 1 && isSeparator(path[end - 1])) {
        --end;
    }
    return std::string(path.substr(0, end));
}

}  // namespace qk750
