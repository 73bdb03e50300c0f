#include "app/error_file.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

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
    text.append(code).append("\r\n").append(detail).append("\r\n");

    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "wb");
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
