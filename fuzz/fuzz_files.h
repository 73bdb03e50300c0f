#pragma once

// The setup readers take file names, so each fuzz input goes through a file of this
// process's own, in memory when the system offers a RAM folder.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace qk750::fuzz {

inline const std::string& scratchFolder() {
    static const std::string folder = [] {
        const std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        const std::filesystem::path dir = base / ("qk750-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        static const std::string removeAtExit = dir.string();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(removeAtExit, ignored);
        });
        return dir.string();
    }();
    return folder;
}

inline std::string scratchPath(const char* name) {
    return scratchFolder() + "/" + name;
}

inline void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::abort();
    }
    if (size != 0 && std::fwrite(data, 1, size, file) != size) {
        std::abort();
    }
    std::fclose(file);
}

// Stops the run with a message the fuzzer shows beside the input that caused it.
[[noreturn]] inline void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

}  // namespace qk750::fuzz
