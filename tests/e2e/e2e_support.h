#pragma once

// Runs the real executable in a temporary folder of its own and collects what it left.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/temp_dir.h"

extern char** environ;

namespace qk750::e2e {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class ProgramTest : public testing::Test {
protected:
    ProgramTest() { fs::create_directory(m_root.path("work")); }

    // Where the test puts setups; the program's output goes beside it, not in it.
    std::string file(const std::string& name) const { return m_root.path("work/" + name); }
    void write(const std::string& name, const std::string& bytes) const {
        m_root.write("work/" + name, bytes);
    }
    std::string read(const std::string& name) const { return test::TempDir::read(file(name)); }

    std::set<std::string> filesInWork() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_root.path("work"))) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    // Runs the program with the given arguments and extra environment variables
    // ("NAME=value"), in the work folder.
    RunResult run(const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment = {}) const {
        const std::string outPath = m_root.path("stdout");
        const std::string errPath = m_root.path("stderr");
        std::vector<std::string> argv{QK750_EXE};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> rawArgv;
        for (std::string& a : argv) {
            rawArgv.push_back(a.data());
        }
        rawArgv.push_back(nullptr);

        std::vector<std::string> env = environment;
        for (char** e = environ; *e != nullptr; ++e) {
            env.emplace_back(*e);
        }
        std::vector<char*> rawEnv;
        for (std::string& e : env) {
            rawEnv.push_back(e.data());
        }
        rawEnv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        const std::string work = m_root.path("work");
        posix_spawn_file_actions_addchdir_np(&actions, work.c_str());
        pid_t pid = 0;
        RunResult result;
        const int spawned =
            posix_spawn(&pid, QK750_EXE, &actions, nullptr, rawArgv.data(), rawEnv.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << QK750_EXE;
            return result;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = test::TempDir::read(outPath);
        result.err = test::TempDir::read(errPath);
        return result;
    }

private:
    test::TempDir m_root;
};

// A KBD file of the given size whose record 1 holds `first` as its first string.
inline std::string kbdBytes(const std::string& first, std::size_t size = 21300) {
    std::string bytes(size, '\0');
    bytes[10] = static_cast<char>(first.size());
    bytes.replace(11, first.size(), first);
    return bytes;
}

}  // namespace qk750::e2e
