#include "CommandLine.h"

#include "FinalScratchCodeTable.h"
#include "StrictNumbers.h"
#include "VinylOption.h"

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <limits>
#include <utility>

namespace platora {

namespace {

constexpr double maxLengthSeconds = 24.0 * 3600.0;
constexpr double maxWowRateHz = 100.0;
constexpr double defaultLengthSeconds = 10.0;
// RIFF sizes are 32-bit: a longer WAV would carry a wrong header.
constexpr std::int64_t maxWavBytes = std::numeric_limits<std::uint32_t>::max() - 1024;

std::string description() {
    return std::string(R"(Writes a timecode signal that the Platora decoder reads: OUTPUT.wav (16-bit PCM),
OUTPUT.manifest.csv (the ground truth) and, for FinalScratch, OUTPUT.table (the code
table that decodes it; the decoder looks for ")") +
           FinalScratchCodeTable::defaultFileName + R"("). With --jack it plays
live instead, and writes the manifest and table only when OUTPUT is given.)";
}

const char* const footer = R"(Profile: comma-separated segments SPEED:SECONDS (constant; 0 = stopped, negative =
backwards), FROM->TO:SECONDS (linear ramp), or a bare SPEED as the last segment, held to
the end; after the last timed segment its end speed holds. Example (quoted for the
shell): '1:5,1->-1:2,0:1,-0.5:2'.
Channels: for Mixvibes channel 1 leads (cos), for FinalScratch channel 2 leads; for the
shift-register types as on their records (channel 1 for mixvibes-v2 and -7inch, else 2).
Manifest: CSV with the header frame,time_s,position_s,speed; one row every rate/1000
frames (44 at 44100 Hz) from frame 0, and one for the state after the last frame.
time_s counts from the first sample (with --jack, on the server's clock from the moment
play began: cycles a stalled machine missed move it on while the frames go on);
position_s is the record position in seconds, as the decoder reports it.
Mixvibes frames exist for positions 0 to 961.2 s, FinalScratch frames for the table's rows.)";

}  // namespace

void addGenOptions(CLI::App& app, GenCommand& command) {
    GeneratorSettings& s = command.settings;
    app.description(description());
    app.footer(footer);
    app.add_option("OUTPUT", command.output, "file base or BASE.wav");
    app.add_option("-t,--type", s.vinylType, "timecode type: " + vinylTypeValues())
        ->required()
        ->transform(vinylType())
        ->type_name("TYPE");
    app.add_option("-s,--start", s.startPosition, "record position at the start in seconds (default 0)")
        ->check(finiteNumber());
    app.add_option_function<std::string>(
           "-p,--profile",
           [&s](const std::string& text) {
               std::string error;
               auto profile = SpeedProfile::parse(text, error);
               if (!profile) throw CLI::ValidationError("--profile", error);
               s.profile = *profile;
           },
           "speed over time (default 1); see below")
        ->type_name("LIST");
    app.add_option_function<std::string>(
           "-w,--wow",
           [&s](const std::string& text) {
               const std::size_t colon = text.find(':');
               const auto depth = readNumber<double>(text.substr(0, colon));
               const auto rateHz = readNumber<double>(colon == std::string::npos ? "" : text.substr(colon + 1));
               if (!depth || !rateHz || *depth < 0.0 || *depth >= 1.0 || *rateHz <= 0.0 || *rateHz > maxWowRateHz)
                   throw CLI::ValidationError("--wow", "needs DEPTH:HZ with 0 <= DEPTH < 1 and 0 < HZ <= 100");
               s.profile.setWow(*depth, *rateHz);
           },
           "slow speed modulation: speed x (1 + DEPTH sin(2 pi HZ t)), e.g. 0.01:0.5")
        ->type_name("DEPTH:HZ");
    app.add_option("-n,--snr", s.snrDb, "add white noise DB below a sine at the high level")
        ->check(finiteNumber())
        ->type_name("DB");
    app.add_option("--hum", s.humDb, "add mains hum (50 Hz and 150 Hz) DB against a sine at the high level, e.g. -10")
        ->check(finiteNumber())
        ->type_name("DB");
    app.add_option_function<std::string>(
           "--clicks",
           [&s](const std::string& text) {
               const std::size_t colon = text.find(':');
               const auto rate = readNumber<double>(text.substr(0, colon));
               const auto level = colon == std::string::npos ? std::optional<double>(s.clickLevel)
                                                             : readNumber<double>(text.substr(colon + 1));
               if (!rate || !level) throw CLI::ValidationError("--clicks", "needs RATE or RATE:AMPLITUDE");
               s.clicksPerSecond = *rate;
               s.clickLevel = *level;
           },
           "add clicks at random times, RATE per second, AMPLITUDE a fraction of full scale (default 0.5)")
        ->type_name("RATE[:AMPLITUDE]");
    app.add_option("--lowpass", s.lowPassHz, "a worn stylus: second-order low-pass at HZ")
        ->check(finiteNumber())
        ->type_name("HZ");
    app.add_option("--imbalance", s.imbalance, "gain of the second timecode channel, e.g. 0.5")
        ->check(finiteNumber())
        ->type_name("GAIN");
    app.add_option("--dc", s.dcFraction, "add a DC offset of FRACTION of full scale to both channels")
        ->check(finiteNumber())
        ->type_name("FRACTION");
    app.add_option("--delay", s.delaySamples, "the second timecode channel SAMPLES late (a fraction allowed)")
        ->check(finiteNumber())
        ->type_name("SAMPLES");
    app.add_option("--seed", s.seed, "noise seed (default 1); the same seed gives the same file")
        ->check(wholeNumber<std::uint64_t>(0, std::numeric_limits<std::uint64_t>::max()));
    app.add_option("-L,--level", s.level,
                   "high level as a fraction of full scale (default 0.8); the low level is that over the depth. "
                   "Below about 0.07 the weakest swings fall under the decoder's hysteresis")
        ->check(finiteNumber());
    app.add_option_function<std::string>(
           "--depth",
           [&s, &command](const std::string& text) {
               const std::size_t arrow = text.find("->");
               const auto from = readNumber<double>(text.substr(0, arrow));
               const auto to = arrow == std::string::npos ? from : readNumber<double>(text.substr(arrow + 2));
               if (!from || !to) throw CLI::ValidationError("--depth", "needs RATIO or FROM->TO, e.g. 1.5->1.15");
               s.depth = *from;
               s.endDepth = *to;
               command.depthDrifts = arrow != std::string::npos;
           },
           "the high level over the low one (default 2), for every type, or FROM->TO: a depth that moves evenly from FROM to TO "
           "over the length")
        ->type_name("RATIO|FROM->TO");
    app.add_option("-l,--length", command.length,
                   "length in seconds (default: the profile's, else 10); with --jack, 0 plays until stopped")
        ->check(finiteNumber(0.0, maxLengthSeconds));
    app.add_flag("--loop", command.loop,
                 "start over from the start position whenever the profile ends (needs a timed profile); with "
                 "--jack and no --length, endless");
    app.add_option("-r,--rate", s.sampleRate, "sample rate in Hz (default 44100; with --jack the server's)")
        ->check(wholeNumber(TimecodeGenerator::minSampleRateHz, TimecodeGenerator::maxSampleRateHz))
        ->each([&command](const std::string&) { command.rateGiven = true; });
    app.add_option("-c,--channels", s.channels, "2 or 4; with 4 the timecode is on channels 3 and 4")
        ->check(wholeNumber(2, 4));
    app.add_option("--aux", s.aux, "what channels 1 and 2 of 4 carry (default tone: 440 Hz at a quarter of the level)")
        ->transform(CLI::Validator(
            [](std::string& text) -> std::string {
                if (text != "tone" && text != "silence") return "must be tone or silence, not '" + text + "'";
                text = std::to_string(static_cast<int>(text == "tone" ? AuxSignal::tone : AuxSignal::silence));
                return {};
            },
            ""))
        ->type_name("tone|silence");
    app.add_option("--rows", s.finalScratchRows,
                   "FinalScratch frames with a code, and rows of OUTPUT.table (default 135872, about 905 s)")
        ->check(wholeNumber<std::uint32_t>(1, FinalScratchFrames::maxRowCount()));
    app.add_option("-j,--jack", command.jackClient,
                   "play live as JACK client CLIENT with ports out_1 .. out_N; silent until the timecode ports "
                   "are connected")
        ->type_name("CLIENT")
        ->check([](const std::string& name) { return name.empty() ? std::string("needs a client name") : ""; });
}

bool completeGenCommand(GenCommand& command, std::string& error) {
    const auto fail = [&error](std::string line) {
        error = std::move(line);
        return false;
    };
    GeneratorSettings& s = command.settings;
    const bool live = !command.jackClient.empty();
    if (!live && command.output.empty()) return fail("an OUTPUT file name is required");
    if (command.loop) {
        if (std::isinf(s.profile.duration())) return fail("--loop needs a profile whose segments all have a length");
        s.loopSeconds = s.profile.duration();
    }
    if (!command.length) {
        const double profileSeconds = s.profile.duration();
        command.length = live && command.loop         ? 0.0
                         : std::isinf(profileSeconds) ? defaultLengthSeconds
                                                      : profileSeconds;
    }
    if (command.depthDrifts) {
        if (*command.length == 0.0) return fail("a drifting --depth needs a --length to drift over");
        s.driftSeconds = *command.length;
    }
    if (*command.length > maxLengthSeconds) {
        char line[96];
        std::snprintf(line, sizeof line, "the profile lasts %g s; give --length of at most %g s", *command.length,
                      maxLengthSeconds);
        return fail(line);
    }
    const double frames = *command.length * s.sampleRate;
    // With --jack, 0 plays until stopped; a length that rounds to 0 frames must not.
    if (frames < 1.0 && (!live || *command.length > 0.0)) return fail("--length must give at least one sample");
    if (!live && frames * s.channels * sizeof(std::int16_t) > static_cast<double>(maxWavBytes))
        return fail("a WAV file holds at most 4 GiB; give a shorter --length, a lower --rate or fewer --channels");
    return TimecodeGenerator::validate(s, error);
}

}  // namespace platora
