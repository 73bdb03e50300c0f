#pragma once

// Runs the real executable in a temporary folder of its own and collects what it left.

#include <QProcess>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/temp_dir.h"

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

    // Where the test puts setups and runs the program.
    std::string file(const std::string& name) const { return m_root.path("work/" + name); }
    void write(const std::string& name, const std::string& bytes) const {
        m_root.write("work/" + name, bytes);
    }
    std::string read(const std::string& name) const { return test::TempDir::read(file(name)); }
    std::set<std::string> filesInWork() const { return m_root.entries("work"); }

    // Runs the program with the arguments and extra environment ("NAME=value").
    RunResult run(const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment = {}) const {
        QProcess process;
        QStringList args, env = QProcess::systemEnvironment();
        for (const std::string& a : arguments)
            args << QString::fromStdString(a);
        for (const std::string& e : environment)
            env.prepend(QString::fromStdString(e));
        process.setEnvironment(env);
        process.setWorkingDirectory(QString::fromStdString(m_root.path("work")));
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(QStringLiteral(QK750_EXE), args);
        if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit) {
            ADD_FAILURE() << "cannot run " << QK750_EXE;
            return {};
        }
        return {process.exitCode(), process.readAllStandardOutput().toStdString(),
                process.readAllStandardError().toStdString()};
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
