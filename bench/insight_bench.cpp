#include <benchmark/benchmark.h>

#include <string>

#include "bench_setups.h"
#include "keys/key_insight.h"

namespace qk750 {
namespace {

using bench::fullSetup;

// What the editor recomputes after each change of a line: the meter and the active line's
// hints, with key 40 as the active line. Arguments: 0 a clean line, 1 a line with misspelt
// names, 2 a clean line in a setup that no longer fits (the meter then also counts the
// strings the build did not reach).
void BM_InsightPerKeystroke(benchmark::State& state) {
    SetupRecord setup = fullSetup();
    const std::string line = state.range(0) == 1
                                 ? "<ctrlp>12 50<Tabb><Caps Lock>Total<PadEnter><Return>"
                                 : "<CtrlP>12.50<Tab><ShiftF3>Total<Pad Enter><delay>";
    setup.KeyStrings[40] = line;
    if (state.range(0) != 2) {
        setup.Func2Strings[40].clear();
    }
    int used = 0;
    std::size_t hints = 0;
    for (auto _ : state) {
        const MemoryUse use = computeMemoryUse(setup);
        const auto names = unknownNames(line);
        used = use.used;
        hints = names.size();
        benchmark::DoNotOptimize(use);
        benchmark::DoNotOptimize(names.data());
    }
    state.counters["used"] = used;
    state.counters["hints"] = static_cast<double>(hints);
    state.counters["fits"] = used <= kStringAreaCapacity;
}
BENCHMARK(BM_InsightPerKeystroke)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The grid's per-cell marks and tooltips, all 84 keys.
void BM_AllCompiledLengths(benchmark::State& state) {
    const SetupRecord setup = fullSetup();
    for (auto _ : state) {
        benchmark::DoNotOptimize(allCompiledLengths(setup));
    }
}
BENCHMARK(BM_AllCompiledLengths)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qk750
