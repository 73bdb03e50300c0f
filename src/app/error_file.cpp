#include "app/error_file.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "setup/native_path.h"

namespace qk750 {

namespace {

std::string errnoText(int fallback) {
    return std::generic_category().message(errno != 0 ? errno : fallback);
}

}  // namespace

std::string WriteErrorFile(const std::string& path, std::string_view code,
                           std::string_view detail) {
    std::string text;
    text.reserve(code.size() + detail.size() + 4);
#ifdef _WIN32
    // The detail keeps its ANSI bytes for readers of the file that know no other code
    // page; a name the code page cannot hold is written in UTF-8 rather than as "?".
    const std::string ansi = ansiText(detail).value_or(std::string(detail));
    detail = ansi;
#endif
    text.append(code).append("\r\n").append(detail).append("\r\n");

    errno = 0;
    std::FILE* file = openFile(path, "wb");
    if (file == nullptr) {
        return errnoText(EIO);
    }
    std::string error;
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
        error = errnoText(EIO);
    }
    errno = 0;
    if (std::fclose(file) != 0 && error.empty()) {
        error = errnoText(EIO);
    }
    return error;
}

}  // namespace qk750
