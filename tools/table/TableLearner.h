#pragma once

#include "FinalScratchCodeTable.h"
#include "VinylType.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platora {

inline constexpr double framesPerSecond = vinylFormat(FinalScratch).framesPerSecond();

// A learned table's values count this many units per frame: 32 peaks at 4800 peaks/s are 294
// samples at 44100 Hz, so positions count seconds of the record at 150 frames a second.
inline constexpr int defaultUnitsPerFrame = 294;

// What `platora-table learn` is asked to do.
struct LearnSettings {
    std::vector<std::string> recordings;  // played forward, in the order given
    std::string output;
    int pair = 0;  // channels 2 pair and 2 pair + 1 carry the timecode
    float calibration = vinylFormat(FinalScratch).defaultCalibration;
    std::optional<double> firstFrameAt;  // record seconds of the first recording's first frame
    std::optional<std::string> addTo;    // a learned table to extend
    int unitsPerFrame = defaultUnitsPerFrame;
};

// One FinalScratch frame whose sync matched, as the decoder saw it.
struct SyncFrame {
    std::uint32_t code;
    std::uint64_t peak;  // peaks since the recording's start
    double seconds;      // where in the recording (to the block)
};

// A stretch of one recording in which every frame lies a whole number of frames after the one before.
struct LearnedRun {
    std::size_t recording;
    double fromSeconds;
    double toSeconds;
    std::vector<std::pair<std::int64_t, std::uint32_t>> frames;  // (frames after the run's first, code)
    std::vector<std::int64_t> missed;                            // frames skipped inside the run
    // Frames from the previous run's last frame to this run's first, when the run before
    // ended at a click: the peaks between them came to whole frames but for a few extra or
    // lost ones. Trusted only where no shared code tells where the run lies.
    std::optional<std::int64_t> stepFromPrevious;
};

struct RecordingSummary {
    std::string path;
    double seconds = 0.0;
    std::int32_t sampleRate = 0;
    std::size_t syncFrames = 0;
};

struct LearnReport {
    std::vector<RecordingSummary> recordings;
    std::size_t runsFound = 0;
    std::size_t runsPlaced = 0;
    std::size_t runsPlacedAcrossClicks = 0;
    std::vector<std::string> unplacedRuns;  // one line each: where it lies in which recording
    std::size_t framesLearned = 0;          // rows written
    std::size_t framesAdded = 0;            // rows that the table given with addTo lacked
    std::size_t framesMissed = 0;
    std::size_t framesFilled = 0;  // missed ones that another run supplied
    std::size_t conflicts = 0;     // codes placed at two positions, left out
    double shiftedSeconds = 0.0;   // > 0 when frames before position 0 moved the table
    std::uint32_t firstValue = 0;
    std::uint32_t lastValue = 0;
    double coveredSeconds = 0.0;
    double coveredPercent = 0.0;
    std::vector<std::pair<double, double>> gaps;  // record seconds, gaps longer than a second
};

// Called now and then while a recording is read, with the part read so far.
using LearnProgress = std::function<void(const RecordingSummary&, double)>;

// Decodes one recording with the decoder's own rules and returns every frame whose sync
// matched. False with `error` set to one line for a file that cannot be read.
bool readSyncFrames(const std::string& path, int pair, float calibration, std::vector<SyncFrame>& frames,
                    RecordingSummary& summary, const std::function<void(double)>& progress, std::string& error);

// Splits one recording's frames into runs; a lone frame off the run's beat (a false
// sync) is dropped, two that agree on a new beat start a new run.
std::vector<LearnedRun> splitIntoRuns(const std::vector<SyncFrame>& frames, std::size_t recording);

// Learns a table from the recordings and writes it (through a temporary file) to
// settings.output. False with `error` set to one line on any failure; nothing is written then.
bool learnTable(const LearnSettings& settings, LearnReport& report, const LearnProgress& progress, std::string& error);

}  // namespace platora
