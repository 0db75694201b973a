#include "LearnCommand.h"

#include <unistd.h>

#include <cstdio>
#include <ostream>

namespace platora {

namespace {

constexpr double progressFromSeconds = 30.0;  // shorter recordings are read before anyone waits

}  // namespace

int runLearn(const LearnSettings& settings, std::ostream& out, std::ostream& err) {
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const auto progress = [&](const RecordingSummary& recording, double fraction) {
        if (!terminal || recording.seconds < progressFromSeconds) return;
        err << "\r" << recording.path << ": " << static_cast<int>(fraction * 100.0 + 0.5) << " %"
            << (fraction >= 1.0 ? "\n" : "") << std::flush;
    };
    LearnReport report;
    std::string error;
    const bool learned = learnTable(settings, report, progress, error);
    if (!learned) {
        err << "platora-table: " << error << std::endl;  // a progress line has ended with its 100 %
        return 1;
    }
    out << describe(report, settings);
    return 0;
}

std::string describe(const LearnReport& report, const LearnSettings& settings) {
    double recorded = 0.0;
    for (const auto& r : report.recordings) recorded += r.seconds;
    std::string text;
    const auto line = [&text](const std::string& s) { text += s + "\n"; };
    char buffer[160];
    line("table: " + settings.output);
    std::snprintf(buffer, sizeof buffer, "recordings: %zu, %.1f s", report.recordings.size(), recorded);
    line(buffer);
    for (const auto& r : report.recordings) {
        if (r.sampleRate != nominalSampleRateHz)
            line("  " + r.path + ": decoded at its own rate of " + std::to_string(r.sampleRate) + " Hz");
    }
    line("runs: " + std::to_string(report.runsFound) + " found, " + std::to_string(report.runsPlaced) + " placed (" +
         std::to_string(report.runsPlacedAcrossClicks) + " by the peak count across a click)");
    for (const std::string& run : report.unplacedRuns)
        line("  not placed (shares fewer than two codes with what is placed): " + run);
    std::snprintf(buffer, sizeof buffer, "frames learned: %zu, %.1f per second of recording", report.framesLearned,
                  recorded > 0 ? report.framesAdded / recorded : 0.0);
    line(buffer);
    if (settings.addTo) line("  new to " + *settings.addTo + ": " + std::to_string(report.framesAdded));
    line("frames missed: " + std::to_string(report.framesMissed) +
         ", filled by other runs: " + std::to_string(report.framesFilled));
    line("codes in conflict, left out: " + std::to_string(report.conflicts));
    if (report.shiftedSeconds > 0.0) {
        std::snprintf(buffer, sizeof buffer, "moved by %.3f s so that no frame lies before 0", report.shiftedSeconds);
        line(buffer);
    }
    const double unitsPerSecond = settings.unitsPerFrame * framesPerSecond;
    std::snprintf(buffer, sizeof buffer, "values: %d units per frame, %.0f per second of record",
                  settings.unitsPerFrame, unitsPerSecond);
    line(buffer);
    std::snprintf(buffer, sizeof buffer, "span: %.3f s to %.3f s, covered %.1f s (%.2f %%)",
                  report.firstValue / unitsPerSecond, report.lastValue / unitsPerSecond, report.coveredSeconds,
                  report.coveredPercent);
    line(buffer);
    for (const auto& [from, to] : report.gaps) {
        std::snprintf(buffer, sizeof buffer, "  gap: %.3f s to %.3f s (%.1f s)", from, to, to - from);
        line(buffer);
    }
    return text;
}

}  // namespace platora
