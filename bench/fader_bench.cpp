// Throughput of the colour fader for a chat-sized title and for a 64 KiB text.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

#include "announce/u_fader.h"

namespace {

void BM_FadeText(benchmark::State& state) {
    const auto length = static_cast<std::size_t>(state.range(0));
    const bool wavy = state.range(1) != 0;
    std::string text;
    text.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        text += static_cast<char>(' ' + i % 95);
    }
    const TFadeColors colors{0x000000FF, 0x0000FFFF, 0x0000FF00, 0x00FFFF00, 0x00FF0000,
                             0x00FF00FF, 0x00808080, 0x00123456, 0x00ABCDEF, 0x00FFFFFF};
    for (auto _ : state) {
        benchmark::DoNotOptimize(FadeText(text, colors, 10, wavy, nullptr));
    }
    state.counters["chars/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(length),
                           benchmark::Counter::kIsRate);
}

BENCHMARK(BM_FadeText)->ArgNames({"chars", "wavy"})->ArgsProduct({{100, 64 * 1024}, {0, 1}});

}  // namespace

BENCHMARK_MAIN();
