#include "app/error_file.h"

#include <cstdio>

#include "setup/native_path.h"

namespace qk750 {

bool WriteErrorFile(const std::string& path, std::string_view code, std::string_view detail) {
    std::string text;
    text.reserve(code.size() + detail.size() + 4);
#ifdef _WIN32
    // The detail keeps its ANSI bytes for readers of the file that know no other code
    // page; a name the code page cannot hold is written in UTF-8 rather than as "?".
    const std::string ansi = ansiText(detail).value_or(std::string(detail));
    detail = ansi;
#endif
    text.append(code).append("\r\n").append(detail).append("\r\n");

    std::FILE* file = openFile(path, "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

}  // namespace qk750
