#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace qk750::test {

// A fresh folder, named after the running test, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        static int count = 0;
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "qk750-";
        name += info != nullptr ? std::string(info->test_suite_name()) + "-" + info->name() : "x";
        for (char& c : name) {
            if (c == '/') {
                c = '_';
            }
        }
#ifndef _WIN32
        name += "-" + std::to_string(getpid());
#endif
        name += "-" + std::to_string(++count);
        m_root = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(m_root);
        std::filesystem::create_directories(m_root);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder itself, or a name inside it.
    std::string path(std::string_view name = {}) const {
        return name.empty() ? m_root.string() : (m_root / name).string();
    }

    std::string write(std::string_view name, std::string_view bytes) const {
        const std::string file = path(name);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

    static std::string read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Names of everything in the folder, to catch stray files.
    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_root)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

private:
    std::filesystem::path m_root;
};

}  // namespace qk750::test
