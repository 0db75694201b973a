// Decoder throughput as a multiple of real time: seconds of stereo 44100 Hz audio
// decoded per second, reported as the rate counter "realtime".
#include "FinalScratchCodeTable.h"
#include "FrameLayout.h"
#include "TimecodeDecoder.h"
#include "TimecodeGenerator.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace platora;

constexpr int sampleRate = nominalSampleRateHz;
constexpr std::size_t longestBlock = 1024;  // frames; the signal is a whole number of these
constexpr double signalSeconds = 10.0;
// At nominal speed a FinalScratch decoder looks a code up at most once per channel-0 peak.
constexpr double lookupsPerAudioSecond = 2400.0;

std::vector<std::int16_t> nominalSignal(VinylType type) {
    GeneratorSettings settings;
    settings.vinylType = type;
    settings.startPosition = 60.0;
    TimecodeGenerator generator(settings);
    const auto frames = static_cast<std::size_t>(signalSeconds * sampleRate) / longestBlock * longestBlock;
    std::vector<std::int16_t> samples(2 * frames);
    generator.render(samples.data(), frames);
    return samples;
}

const FinalScratchCodeTable& fullSizeTable() {
    static const FinalScratchCodeTable table = [] {
        FinalScratchCodeTable t;
        t.assign(syntheticFinalScratchTable());
        return t;
    }();
    return table;
}

// state.range(0) = frames per block, as the audio callback delivers them.
void decodeBlocks(benchmark::State& state, VinylType type, float calibration,
                  DecodingMode mode = DecodingMode::faithful) {
    const auto framesPerBlock = static_cast<std::size_t>(state.range(0));
    const std::vector<std::int16_t> samples = nominalSignal(type);
    TimecodeDecoder decoder;
    decoder.reset(sampleRate, {type, mode, calibration, &fullSizeTable()});

    // Check the work is real before timing it: the signal must decode.
    for (std::size_t i = 0; i < samples.size(); i += 2 * framesPerBlock) {
        decoder.processBlock(&samples[i], 2 * framesPerBlock);
    }
    if (decoder.getTimecodesPerSecond() == 0) {
        state.SkipWithError("the benchmark signal does not decode");
        return;
    }

    std::size_t offset = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(decoder.processBlock(&samples[offset], 2 * framesPerBlock));
        offset += 2 * framesPerBlock;
        if (offset == samples.size()) offset = 0;
    }
    benchmark::DoNotOptimize(decoder.getPosition());
    const double secondsPerBlock = static_cast<double>(framesPerBlock) / sampleRate;
    state.counters["realtime"] = benchmark::Counter(secondsPerBlock, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["tps"] = decoder.getTimecodesPerSecond();
}

void BM_ProcessBlock_Mixvibes(benchmark::State& state) {
    decodeBlocks(state, Mixvibes, vinylFormat(Mixvibes).defaultCalibration);
}
void BM_ProcessBlock_FinalScratch(benchmark::State& state) {
    decodeBlocks(state, FinalScratch, vinylFormat(FinalScratch).defaultCalibration);
}
void BM_ProcessBlock_Mixvibes_Robust(benchmark::State& state) {
    decodeBlocks(state, Mixvibes, vinylFormat(Mixvibes).defaultCalibration, DecodingMode::robust);
}
void BM_ProcessBlock_FinalScratch_Robust(benchmark::State& state) {
    decodeBlocks(state, FinalScratch, vinylFormat(FinalScratch).defaultCalibration, DecodingMode::robust);
}

// state.range(1) = a shift-register type; these decode in robust mode whatever the mode set.
void BM_ProcessBlock_ShiftRegister(benchmark::State& state) {
    const auto type = static_cast<VinylType>(state.range(1));
    state.SetLabel(vinylFormat(type).optionName);
    decodeBlocks(state, type, 0.0f, DecodingMode::robust);
}

// A format's position table from nothing: what the first deck of that type waits for.
void BM_PositionTableBuild(benchmark::State& state) {
    const ShiftRegisterFormat& format = *shiftRegisterFormat(static_cast<std::int32_t>(state.range(0)));
    state.SetLabel(vinylFormat(format.type).optionName);
    std::size_t bytes = 0;
    for (auto _ : state) {
        const PositionTable table(format);
        bytes = table.bytes();
        benchmark::DoNotOptimize(table.cycleOf(format.seed));
    }
    state.counters["MB"] = static_cast<double>(bytes) / (1 << 20);
}

// Lookups of codes that are in the table and of codes that are not, in random order.
void BM_TableLookup_FinalScratch(benchmark::State& state) {
    const FinalScratchCodeTable& table = fullSizeTable();
    std::mt19937 random(7);
    std::vector<std::uint32_t> codes;
    for (int i = 0; i < 4096; ++i) {
        const auto& row = table.rows()[random() % table.rowCount()];
        codes.push_back(i % 2 == 0 ? row.code : row.code + 1);
    }
    std::size_t i = 0;
    std::uint64_t found = 0;
    for (auto _ : state) {
        found += table.lookup(codes[i]).has_value();
        i = (i + 1) % codes.size();
    }
    benchmark::DoNotOptimize(found);
    state.counters["realtime"] =
        benchmark::Counter(1.0 / lookupsPerAudioSecond, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

// 64 frames: the small buffers of the stage mode, where the per-block cost weighs more.
BENCHMARK(BM_ProcessBlock_Mixvibes)->Arg(1024)->Arg(64);
BENCHMARK(BM_ProcessBlock_FinalScratch)->Arg(1024)->Arg(64);
BENCHMARK(BM_ProcessBlock_Mixvibes_Robust)->Arg(1024)->Arg(64);
BENCHMARK(BM_ProcessBlock_FinalScratch_Robust)->Arg(1024)->Arg(64);
BENCHMARK(BM_TableLookup_FinalScratch);
BENCHMARK(BM_ProcessBlock_ShiftRegister)->ArgsProduct({{1024, 64}, {SeratoA, TraktorB, MixvibesV2, PioneerB}});
BENCHMARK(BM_PositionTableBuild)->Arg(SeratoB)->Arg(TraktorB)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
