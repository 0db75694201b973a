#include "TableLearner.h"

#include "AtomicFile.h"
#include "CodeTableFile.h"

#include "RecordingReader.h"
#include "TimecodeDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>

namespace platora {

namespace {

constexpr std::uint64_t peaksPerFrame = vinylFormat(FinalScratch).windowPeaks;
constexpr double frameSeconds = 1.0 / framesPerSecond;
constexpr std::int64_t maxMissedFrames = 50;   // a third of a second of record; a longer loss ends the run
// Missed frames are trusted only while the record kept at least this pace: on a stopped
// record noise adds peaks, and their count may happen to be whole frames.
constexpr double slowestPaceOverMissedFrames = 0.5;
constexpr std::uint64_t clickPeaksAtMost = 4;  // peaks a click adds or takes away
constexpr std::size_t minRunFrames = 2;        // a lone frame may be a false sync
constexpr int minPlacingVotes = 2;             // codes that must agree on where a run lies
constexpr std::size_t blockFrames = 128;       // small, so frames carry their time closely
constexpr double blockSlackSeconds = 0.02;     // a frame's time is its block's end: 16 ms late at most at 8 kHz
constexpr double progressStep = 0.01;
constexpr double gapReportedSeconds = 1.0;

class SyncCollector : public FrameSyncObserver {
public:
    explicit SyncCollector(std::vector<SyncFrame>& frames) : frames_(frames) {}
    void frameSync(std::uint32_t code, std::uint64_t peak) override { frames_.push_back({code, peak, seconds}); }
    double seconds = 0.0;

private:
    std::vector<SyncFrame>& frames_;
};

std::string seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", s);
    return text;
}

// Codes and the values they were placed at, in units from the first frame.
class Placement {
public:
    explicit Placement(std::int64_t unitsPerFrame) : unitsPerFrame_(unitsPerFrame) {}
    std::int64_t unitsPerFrame() const { return unitsPerFrame_; }

    void add(std::uint32_t code, std::int64_t value) {
        if (conflicted_.count(code)) return;
        const auto [it, inserted] = valueOf_.emplace(code, value);
        if (!inserted && it->second != value) conflicted_.insert(code);
    }

    void place(const LearnedRun& run, std::int64_t base) {
        for (const auto& [frame, code] : run.frames) add(code, base + frame * unitsPerFrame_);
        for (std::int64_t frame : run.missed) missedValues_.push_back(base + frame * unitsPerFrame_);
    }
    void noteMissed(std::int64_t value) { missedValues_.push_back(value); }

    // Where the run's first frame lies, when enough of its codes agree on it.
    std::optional<std::int64_t> baseFor(const LearnedRun& run) const {
        std::map<std::int64_t, int> votes;
        for (const auto& [frame, code] : run.frames) {
            const auto it = valueOf_.find(code);
            if (it != valueOf_.end() && !conflicted_.count(code)) ++votes[it->second - frame * unitsPerFrame_];
        }
        const auto best = std::max_element(votes.begin(), votes.end(),
                                           [](const auto& a, const auto& b) { return a.second < b.second; });
        if (best == votes.end() || best->second < minPlacingVotes) return std::nullopt;
        return best->first;
    }

    const std::unordered_map<std::uint32_t, std::int64_t>& values() const { return valueOf_; }
    bool conflicted(std::uint32_t code) const { return conflicted_.count(code) != 0; }
    std::size_t conflicts() const { return conflicted_.size(); }
    const std::vector<std::int64_t>& missedValues() const { return missedValues_; }

private:
    std::int64_t unitsPerFrame_;
    std::unordered_map<std::uint32_t, std::int64_t> valueOf_;
    std::unordered_set<std::uint32_t> conflicted_;
    std::vector<std::int64_t> missedValues_;
};

// Places runs by shared codes, again and again, so that a run may be placed through one placed
// after it. Only when codes place nothing more does a click's peak count place one run beside
// its neighbour; then codes have their say again. Returns which runs were placed.
std::vector<bool> placeRuns(const std::vector<LearnedRun>& runs, Placement& placement,
                            std::optional<std::int64_t> anchor, std::size_t& acrossClicks) {
    std::vector<std::optional<std::int64_t>> base(runs.size());
    const auto place = [&](std::size_t r, std::int64_t at) {
        placement.place(runs[r], at);
        base[r] = at;
    };
    if (anchor && !runs.empty()) place(0, *anchor);
    for (bool placedAny = true; placedAny;) {
        placedAny = false;
        for (std::size_t r = 0; r < runs.size(); ++r) {
            if (base[r]) continue;
            if (const auto at = placement.baseFor(runs[r])) {
                place(r, *at);
                placedAny = true;
            }
        }
        for (std::size_t r = 1; r < runs.size() && !placedAny; ++r) {
            const std::optional<std::int64_t>& step = runs[r].stepFromPrevious;
            if (!step || base[r - 1].has_value() == base[r].has_value()) continue;
            const std::int64_t lastBefore = runs[r - 1].frames.back().first;
            const std::int64_t gap = (lastBefore + *step) * placement.unitsPerFrame();
            if (base[r - 1])
                place(r, *base[r - 1] + gap);
            else
                place(r - 1, *base[r] - gap);
            for (std::int64_t k = 1; k < *step; ++k)
                placement.noteMissed(*base[r - 1] + (lastBefore + k) * placement.unitsPerFrame());
            ++acrossClicks;
            placedAny = true;
        }
    }
    std::vector<bool> placed(runs.size());
    for (std::size_t r = 0; r < runs.size(); ++r) placed[r] = base[r].has_value();
    return placed;
}

std::string describeRun(const LearnedRun& run, const LearnReport& report) {
    return report.recordings[run.recording].path + " from " + seconds(run.fromSeconds) + " to " +
           seconds(run.toSeconds) + " (" + std::to_string(run.frames.size()) + " frames)";
}

void summarise(const std::vector<FinalScratchCodeTable::Row>& rows, const Placement& placement, std::int64_t shift,
               LearnReport& report) {
    std::vector<std::uint32_t> values;
    values.reserve(rows.size());
    for (const auto& row : rows) values.push_back(row.value);
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    report.framesLearned = rows.size();
    if (values.empty()) return;
    report.firstValue = values.front();
    report.lastValue = values.back();
    const auto unitsPerFrame = static_cast<double>(placement.unitsPerFrame());
    const double unitsPerSecond = unitsPerFrame * framesPerSecond;
    const double spanFrames = static_cast<double>(values.back() - values.front()) / unitsPerFrame + 1.0;
    report.coveredSeconds = static_cast<double>(values.size()) / framesPerSecond;
    report.coveredPercent = std::min(100.0, 100.0 * static_cast<double>(values.size()) / spanFrames);
    for (std::size_t i = 1; i < values.size(); ++i) {
        if (values[i] - values[i - 1] > gapReportedSeconds * unitsPerSecond)
            report.gaps.emplace_back((values[i - 1] + unitsPerFrame) / unitsPerSecond, values[i] / unitsPerSecond);
    }
    report.framesMissed = placement.missedValues().size();
    for (std::int64_t value : placement.missedValues()) {
        if (std::binary_search(values.begin(), values.end(), static_cast<std::uint32_t>(value + shift)))
            ++report.framesFilled;
    }
}

}  // namespace

bool readSyncFrames(const std::string& path, int pair, float calibration, std::vector<SyncFrame>& frames,
                    RecordingSummary& summary, const std::function<void(double)>& progress, std::string& error) {
    summary.path = path;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = path + ": is a directory, not a recording";
        return false;
    }
    RecordingReader recording;
    if (std::string why; !recording.open(path, why)) {
        error = path + ": cannot read it as a recording (" + why + ")";
        return false;
    }
    const int rate = recording.sampleRate();
    if (recording.channels() < 2) {
        error = path + ": one channel; the timecode needs two";
        return false;
    }
    if (pair < 0 || 2 * pair + 2 > recording.channels()) {
        error = path + ": no channel pair " + std::to_string(pair) + " in " + std::to_string(recording.channels()) +
                " channels";
        return false;
    }
    summary.sampleRate = rate;
    summary.seconds = static_cast<double>(recording.frames()) / rate;  // as the header says, until read

    SyncCollector collector(frames);
    TimecodeDecoder decoder;
    const FinalScratchCodeTable none;  // every sync reaches the collector; none decodes
    decoder.setFrameSyncObserver(&collector);
    // The decoder works at the file's own rate: peaks and frames count the record, not the clock.
    decoder.reset(rate, {FinalScratch, DecodingMode::faithful, calibration, &none});

    std::vector<std::int16_t> stereo(2 * blockFrames);
    std::int64_t done = 0;
    double reported = 0.0;
    for (std::size_t got; (got = recording.readPair(pair, stereo.data(), blockFrames)) > 0;) {
        done += static_cast<std::int64_t>(got);
        collector.seconds = static_cast<double>(done) / rate;
        decoder.processBlock(stereo.data(), static_cast<std::int32_t>(2 * got));
        const double fraction = recording.frames() > 0 ? static_cast<double>(done) / recording.frames() : 0.0;
        if (progress && fraction - reported >= progressStep && fraction < 1.0) {
            reported = fraction;
            progress(fraction);
        }
    }
    if (progress) progress(1.0);
    if (std::string why; !recording.readsWorked(why)) {
        error = path + ": read error after " + seconds(static_cast<double>(done) / rate) + " (" + why + ")";
        return false;
    }
    summary.seconds = static_cast<double>(done) / rate;
    summary.syncFrames = frames.size();
    return true;
}

std::vector<LearnedRun> splitIntoRuns(const std::vector<SyncFrame>& frames, std::size_t recording) {
    // Frames from the one at lastPeak to `frame`, when the peaks between them come to
    // `tolerance` peaks or fewer from a whole number of frames, no more than maxMissedFrames
    // were lost on the way, and the record kept its pace meanwhile.
    const auto stepTo = [](const SyncFrame& frame, std::uint64_t lastPeak, double lastSeconds,
                           std::uint64_t tolerance) -> std::optional<std::int64_t> {
        if (frame.peak <= lastPeak) return std::nullopt;
        const std::uint64_t peaks = frame.peak - lastPeak;
        const std::uint64_t whole = (peaks + peaksPerFrame / 2) / peaksPerFrame;
        const std::uint64_t wholePeaks = whole * peaksPerFrame;
        const std::uint64_t off = peaks > wholePeaks ? peaks - wholePeaks : wholePeaks - peaks;
        if (whole == 0 || off > tolerance) return std::nullopt;
        const auto step = static_cast<std::int64_t>(whole);
        const double longest = step * frameSeconds / slowestPaceOverMissedFrames + blockSlackSeconds;
        if (step == 1 && off == 0) return step;
        if (step - 1 > maxMissedFrames || frame.seconds - lastSeconds > longest) return std::nullopt;
        return step;
    };
    std::vector<LearnedRun> runs;
    LearnedRun current{recording, 0.0, 0.0, {}, {}, {}};
    std::uint64_t lastPeak = 0;
    double lastSeconds = 0.0;
    const SyncFrame* candidate = nullptr;  // off the beat: a false sync, or the first frame of a new run

    const auto start = [&](const SyncFrame& frame) {
        std::optional<std::int64_t> step;
        if (current.frames.size() >= minRunFrames) {
            step = stepTo(frame, lastPeak, lastSeconds, clickPeaksAtMost);
            runs.push_back(std::move(current));
        }
        current = LearnedRun{recording, frame.seconds, frame.seconds, {{0, frame.code}}, {}, step};
        lastPeak = frame.peak;
        lastSeconds = frame.seconds;
    };
    const auto extend = [&](const SyncFrame& frame) {
        const auto step = static_cast<std::int64_t>((frame.peak - lastPeak) / peaksPerFrame);
        const std::int64_t last = current.frames.back().first;
        for (std::int64_t k = 1; k < step; ++k) current.missed.push_back(last + k);
        current.frames.emplace_back(last + step, frame.code);
        current.toSeconds = frame.seconds;
        lastPeak = frame.peak;
        lastSeconds = frame.seconds;
    };

    for (const SyncFrame& frame : frames) {
        if (current.frames.empty()) {
            start(frame);
        } else if (stepTo(frame, lastPeak, lastSeconds, 0)) {
            extend(frame);
            candidate = nullptr;
        } else if (candidate != nullptr && stepTo(frame, candidate->peak, candidate->seconds, 0)) {
            start(*candidate);
            extend(frame);
            candidate = nullptr;
        } else {
            candidate = &frame;
        }
    }
    if (current.frames.size() >= minRunFrames) runs.push_back(std::move(current));
    return runs;
}

bool learnTable(const LearnSettings& settings, LearnReport& report, const LearnProgress& progress, std::string& error) {
    report = LearnReport{};
    if (settings.recordings.empty()) {
        error = "no recording given";
        return false;
    }
    if (settings.firstFrameAt && settings.addTo) {
        error = "--first-frame-at places a new table; a table given with --add already has its places";
        return false;
    }
    if (settings.firstFrameAt && !(*settings.firstFrameAt >= 0.0 && *settings.firstFrameAt < 100000.0)) {
        error = "--first-frame-at needs a number of seconds from 0 on";
        return false;
    }

    if (settings.unitsPerFrame < 1) {
        error = "--units-per-frame needs a whole number from 1 on";
        return false;
    }
    const double unitsPerSecond = settings.unitsPerFrame * framesPerSecond;
    Placement placement(settings.unitsPerFrame);
    std::unordered_set<std::uint32_t> givenCodes;
    if (settings.addTo) {
        std::vector<FinalScratchCodeTable::Row> rows;
        if (!FinalScratchCodeTable::readRows(*settings.addTo, rows, error)) return false;
        for (const auto& row : rows) {
            placement.add(row.code, row.value);
            givenCodes.insert(row.code);
        }
    }

    std::vector<LearnedRun> runs;
    for (std::size_t i = 0; i < settings.recordings.size(); ++i) {
        const std::string& path = settings.recordings[i];
        std::vector<SyncFrame> frames;
        report.recordings.emplace_back();
        RecordingSummary& summary = report.recordings.back();
        const auto onProgress = [&](double fraction) {
            if (progress) progress(summary, fraction);
        };
        if (!readSyncFrames(path, settings.pair, settings.calibration, frames, summary, onProgress, error))
            return false;
        std::vector<LearnedRun> found = splitIntoRuns(frames, i);
        if (found.empty()) {
            error = path +
                    ": no FinalScratch frame found (is it a FinalScratch record, played forward, on channel "
                    "pair " +
                    std::to_string(settings.pair) + "?)";
            return false;
        }
        for (LearnedRun& run : found) runs.push_back(std::move(run));
    }
    report.runsFound = runs.size();

    // The first run anchors a new table; a table to extend places the runs itself.
    std::optional<std::int64_t> anchor;
    if (!settings.addTo) anchor = std::llround(settings.firstFrameAt.value_or(0.0) * unitsPerSecond);
    const std::vector<bool> placed = placeRuns(runs, placement, anchor, report.runsPlacedAcrossClicks);
    for (std::size_t r = 0; r < runs.size(); ++r) {
        if (placed[r])
            ++report.runsPlaced;
        else
            report.unplacedRuns.push_back(describeRun(runs[r], report));
    }

    std::int64_t lowest = 0;
    std::int64_t highest = 0;
    for (const auto& [code, value] : placement.values()) {
        lowest = std::min(lowest, value);
        highest = std::max(highest, value);
    }
    // Runs placed before the first frame would need negative values: move the whole table.
    const std::int64_t shift = -lowest;
    if (highest + shift > std::numeric_limits<std::uint32_t>::max()) {
        error = "the learned span is too long for the table's 32-bit values";
        return false;
    }
    report.shiftedSeconds = static_cast<double>(shift) / unitsPerSecond;

    std::vector<FinalScratchCodeTable::Row> rows;
    for (const auto& [code, value] : placement.values()) {
        if (placement.conflicted(code)) continue;
        rows.push_back({code, static_cast<std::uint32_t>(value + shift)});
        if (!givenCodes.count(code)) ++report.framesAdded;
    }
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.code < b.code; });
    report.conflicts = placement.conflicts();
    summarise(rows, placement, shift, report);
    return writeAtomically(settings.output, encodeCodeTable(rows), error);
}

}  // namespace platora
