#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <string_view>

namespace qk750::test {

// A fresh folder, removed with everything in it at the end.
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
        return name.empty() ? m_root.string() : (m_root / name).string();
    }
    std::string write(std::string_view name, std::string_view bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }
    static std::string read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Names of everything in the folder, to catch stray files.
    std::set<std::string> entries(std::string_view sub = {}) const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path(sub))) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

private:
    std::filesystem::path m_root;
    std::error_code m_ignored;
};

}  // namespace qk750::test
