#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <string_view>

#include "setup/native_path.h"

namespace qk750::test {

// A fresh folder, removed with everything in it at the end. Names are the program's own
// (UTF-8 on Windows).
class TempDir {
public:
    TempDir()
        : m_root(std::filesystem::temp_directory_path() /
                 ("qk750-" + std::to_string(std::random_device()()))) {
        std::filesystem::create_directories(m_root);
    }
    ~TempDir() { std::filesystem::remove_all(m_root, m_ignored); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string path(std::string_view name = {}) const {
        return fromNativePath(name.empty() ? m_root : m_root / nativePath(name));
    }
    std::string write(std::string_view name, std::string_view bytes) const {
        std::ofstream(nativePath(path(name)), std::ios::binary) << bytes;
        return path(name);
    }
    static std::string read(const std::string& file) {
        std::ifstream in(nativePath(file), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Names of everything in the folder, to catch stray files.
    std::set<std::string> entries(std::string_view sub = {}) const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(nativePath(path(sub)))) {
            names.insert(fromNativePath(entry.path().filename()));
        }
        return names;
    }

private:
    std::filesystem::path m_root;
    std::error_code m_ignored;
};

}  // namespace qk750::test
