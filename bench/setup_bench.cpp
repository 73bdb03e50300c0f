#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "setup/file_io.h"
#include "setup/ini_document.h"
#include "setup/setup_file.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using namespace qk750;

// A shop setup as operators write them: every key and Func2 string in use, 20-40
// characters each with a few tags.
SetupRecord fullSetup() {
    SetupRecord setup;
    for (int key = 1; key <= kKeyCount; ++key) {
        const std::string n = std::to_string(key);
        setup.KeyStrings[key] = "<CtrlF>Item " + n + " price<Tab>" + n + ".99<Enter>";
        setup.Func2Strings[key] =
            "<ShiftF" + std::to_string(key % 12 + 1) + ">Dept " + n + "<Enter>";
    }
    setup.Mcr.PreambleString = "<F9>%B<Tab>";
    setup.Mcr.PostambleString = "?<Enter><delay>";
    setup.Mcr.McrSetupMode = 0;
    setup.Mcr.McrDelay = 5;
    setup.Mcr.TransmitChecksum = true;
    return setup;
}

std::string benchFile() {
    std::string name = "qk750-setup-bench";
#ifndef _WIN32
    name += "-" + std::to_string(getpid());
#endif
    return (std::filesystem::temp_directory_path() / (name + ".INI")).string();
}

void BM_LoadSetupIni(benchmark::State& state) {
    const std::string path = benchFile();
    if (!SaveSetupIni(fullSetup(), path).ok) {
        state.SkipWithError("cannot write the setup file");
        return;
    }
    SetupRecord setup;
    for (auto _ : state) {
        LoadSetupIni(setup, path);
        benchmark::DoNotOptimize(setup);
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadSetupIni)->Unit(benchmark::kMicrosecond);

// A real save: read the old file, update it, write a temporary file, flush it to the disk
// and rename it over the old one. The flush dominates.
void BM_SaveSetupIni(benchmark::State& state) {
    const std::string path = benchFile();
    const SetupRecord setup = fullSetup();
    for (auto _ : state) {
        const SaveResult result = SaveSetupIni(setup, path);
        if (!result.ok) {
            state.SkipWithError(result.error.c_str());
            break;
        }
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_SaveSetupIni)->Unit(benchmark::kMicrosecond);

// The same work without the disk: parse the file text, update all values, serialize.
void BM_IniUpdateInMemory(benchmark::State& state) {
    const std::string path = benchFile();
    const SetupRecord setup = fullSetup();
    if (!SaveSetupIni(setup, path).ok) {
        state.SkipWithError("cannot write the setup file");
        return;
    }
    const std::string text = readFile(path).data;
    std::filesystem::remove(path);
    for (auto _ : state) {
        IniDocument ini = IniDocument::parse(text);
        for (int key = 1; key <= kKeyCount; ++key) {
            ini.setValue("Keys", "Key" + std::to_string(key), setup.KeyStrings[key]);
            ini.setValue("Keys", "Key" + std::to_string(key) + "_2", setup.Func2Strings[key]);
        }
        benchmark::DoNotOptimize(ini.serialize());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_IniUpdateInMemory)->Unit(benchmark::kMicrosecond);

}  // namespace
