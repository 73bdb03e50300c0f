#pragma once

// The setup readers take file names, so each fuzz input goes through a file of this
// process's own, in memory where the system has a RAM folder.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace qk750::fuzz {

// One file per process (each target reads one kind), removed at exit.
inline const std::string& scratchPath(const char* name) {
    static const std::string path =
        std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/qk750-fuzz-" +
        std::to_string(getpid()) + "-" + name;
    static const int removal = std::atexit([] { std::remove(path.c_str()); });
    (void)removal;
    return path;
}

inline void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Stops the run with a message the fuzzer shows beside the input that caused it.
[[noreturn]] inline void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

}  // namespace qk750::fuzz
