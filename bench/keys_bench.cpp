#include <benchmark/benchmark.h>

#include <string>

#include "bench_setups.h"
#include "keys/device_image.h"
#include "keys/key_string.h"

namespace qk750 {
namespace {

std::string repeat(std::string_view piece, std::int64_t count) {
    std::string s;
    s.reserve(piece.size() * static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        s += piece;
    }
    return s;
}

void compile(benchmark::State& state, const std::string& source) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(CompileKeyString(source));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(source.size()));
}

void BM_CompileTypical(benchmark::State& state) {
    compile(state, "Coffee<Enter>");
}
BENCHMARK(BM_CompileTypical);

void BM_CompileMixed(benchmark::State& state) {
    compile(state, "<CtrlP>12.50<Tab><ShiftF3>Total<Pad Enter><delay>");
}
BENCHMARK(BM_CompileMixed);

// 25 modifier tags: the most a string is read for.
void BM_CompileModifierTags(benchmark::State& state) {
    compile(state, repeat("<ShiftTab>", 25));
}
BENCHMARK(BM_CompileModifierTags);

// Plain tags are never counted, so the whole text is read.
void BM_CompilePlainTags(benchmark::State& state) {
    compile(state, repeat("<Enter>", state.range(0)));
}
BENCHMARK(BM_CompilePlainTags)->Range(8, 4096);

void BM_CompileUnknownTags(benchmark::State& state) {
    compile(state, repeat("<NoSuchKey>", state.range(0)));
}
BENCHMARK(BM_CompileUnknownTags)->Range(8, 4096);

// One tag whose ">" is at the far end of the text.
void BM_CompileFarClose(benchmark::State& state) {
    compile(state, "<" + std::string(static_cast<std::size_t>(state.range(0)), 'a') + ">");
}
BENCHMARK(BM_CompileFarClose)->Range(8, 1 << 16);

// Unclosed "<" everywhere: each one would look for a ">" to the end of the text.
void BM_CompileUnclosed(benchmark::State& state) {
    compile(state, repeat("<a", state.range(0)));
}
BENCHMARK(BM_CompileUnclosed)->Range(8, 1 << 15);

// The fullest setup the string area holds.
void BM_BuildFullImage(benchmark::State& state) {
    SetupRecord setup = bench::fullSetup();
    DeviceImage image;
    int setupSize = 0;
    for (auto _ : state) {
        const ImageResult result = BuildDeviceImage(setup, image);
        setupSize = result.setupSize;
        benchmark::DoNotOptimize(image.data());
        if (!result.ok()) {
            state.SkipWithError("build failed");
            break;
        }
    }
    state.counters["SetupSize"] = setupSize;
}
BENCHMARK(BM_BuildFullImage);

}  // namespace
}  // namespace qk750
