#include "app/error_file.h"

#include <cstdio>

namespace qk750 {

bool WriteErrorFile(const std::string& path, std::string_view code, std::string_view detail) {
    std::string text;
    text.reserve(code.size() + detail.size() + 4);
    text.append(code).append("\r\n").append(detail).append("\r\n");

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

}  // namespace qk750
