#include "CommandLine.h"

#include <getopt.h>

#include <charconv>
#include <cmath>
#include <string_view>

namespace platora {

const char* const genUsage = R"(usage: platora-gen --type 0|1 [options] OUTPUT[.wav]
       platora-gen --type 0|1 --jack CLIENT [options] [OUTPUT]
Writes a timecode signal that the Platora decoder reads: OUTPUT.wav (16-bit PCM),
OUTPUT.manifest.csv (the ground truth) and, for FinalScratch, OUTPUT.table (the code
table that decodes it; the decoder looks for "finalscratch.table").

  -t, --type N           0 or finalscratch (1200 Hz), 1 or mixvibes (3000 Hz)
  -s, --start SECONDS    record position at the start (default 0)
  -p, --profile LIST     speed over time (default 1), comma-separated segments:
                           SPEED:SECONDS     constant speed; 0 = stopped, negative = backwards
                           FROM->TO:SECONDS  linear ramp
                           SPEED             as the last segment: held to the end
                         after the last timed segment its end speed holds.
                         Example (quoted for the shell): '1:5,1->-1:2,0:1,-0.5:2'
  -w, --wow DEPTH:HZ     slow speed modulation: speed x (1 + DEPTH sin(2 pi HZ t)),
                         e.g. 0.01:0.5 (1 % at half a hertz)
  -n, --snr DB           add white noise DB below a sine at the high level
      --seed N           noise seed (default 1); the same seed gives the same file
  -L, --level L          high level as a fraction of full scale, 0 < L <= 1 (default 0.8);
                         the low level is half of it. Below about 0.07 the weakest swings
                         fall under the decoder's hysteresis of 2000
  -l, --length SECONDS   length (default: the profile's, else 10); with --jack, 0 plays
                         until SIGINT or SIGTERM
      --loop             start over from the start position whenever the profile ends
                         (needs a timed profile); with --jack and no --length, endless
  -r, --rate HZ          sample rate (default 44100; with --jack the server's)
  -c, --channels 2|4     with 4 the timecode is on channels 3 and 4 (default 2)
      --aux tone|silence what channels 1 and 2 of 4 carry (default tone: 440 Hz at a
                         quarter of the high level)
      --rows N           FinalScratch frames with a code, and rows of OUTPUT.table
                         (default 135872, about 905 s); later frames carry no sync
  -j, --jack CLIENT      play live as JACK client CLIENT with ports out_1 .. out_N; silent
                         until the timecode ports are connected, then the profile plays
  -h, --help             this text

Channels: for Mixvibes channel 1 leads (cos), for FinalScratch channel 2 leads.
Manifest: CSV with the header frame,time_s,position_s,speed; one row every rate/1000
frames (44 at 44100 Hz) from frame 0, and one for the state after the last frame.
time_s counts from the first sample (with --jack, from the moment play began);
position_s is the record position in seconds, as the decoder reports it.
Mixvibes frames exist for positions 0 to 961.2 s, FinalScratch frames for the table's rows.
)";

namespace {

enum LongOnly { seedOption = 256, loopOption, auxOption, rowsOption };

bool parseNumber(std::string_view text, double& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

template <class Int>
bool parseInteger(std::string_view text, Int& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

constexpr double maxLengthSeconds = 24.0 * 3600.0;
constexpr double maxWowRateHz = 100.0;

}  // namespace

bool parseGenCommand(int argc, char** argv, GenCommand& command, std::string& error) {
    static const option options[] = {
        {"type", required_argument, nullptr, 't'},     {"start", required_argument, nullptr, 's'},
        {"profile", required_argument, nullptr, 'p'},  {"wow", required_argument, nullptr, 'w'},
        {"snr", required_argument, nullptr, 'n'},      {"seed", required_argument, nullptr, seedOption},
        {"level", required_argument, nullptr, 'L'},    {"length", required_argument, nullptr, 'l'},
        {"loop", no_argument, nullptr, loopOption},    {"rate", required_argument, nullptr, 'r'},
        {"channels", required_argument, nullptr, 'c'}, {"aux", required_argument, nullptr, auxOption},
        {"rows", required_argument, nullptr, rowsOption}, {"jack", required_argument, nullptr, 'j'},
        {"help", no_argument, nullptr, 'h'},           {nullptr, 0, nullptr, 0},
    };
    GeneratorSettings& s = command.settings;
    bool typeGiven = false;
    bool lengthGiven = false;
    bool loop = false;
    double wowDepth = 0.0;
    double wowRateHz = 0.0;
    opterr = 0;  // we print our own line
    optind = 1;
    int c;
    while ((c = getopt_long(argc, argv, ":t:s:p:w:n:L:l:r:c:j:h", options, nullptr)) != -1) {
        std::string_view arg = optarg ? optarg : "";
        auto bad = [&](const std::string& what) {
            error = what;
            return false;
        };
        switch (c) {
            case 't':
                if (arg == "0" || arg == "finalscratch") s.vinylType = FinalScratch;
                else if (arg == "1" || arg == "mixvibes") s.vinylType = Mixvibes;
                else return bad("--type must be 0 (finalscratch) or 1 (mixvibes), not '" + std::string(arg) + "'");
                typeGiven = true;
                break;
            case 's':
                if (!parseNumber(arg, s.startPosition)) return bad("--start needs a number of seconds");
                break;
            case 'p': {
                auto profile = SpeedProfile::parse(arg, error);
                if (!profile) return false;
                s.profile = *profile;
                break;
            }
            case 'w': {
                std::size_t colon = arg.find(':');
                if (colon == std::string_view::npos || !parseNumber(arg.substr(0, colon), wowDepth) ||
                    !parseNumber(arg.substr(colon + 1), wowRateHz) || wowDepth < 0.0 || wowDepth >= 1.0 ||
                    wowRateHz <= 0.0 || wowRateHz > maxWowRateHz)
                    return bad("--wow needs DEPTH:HZ with 0 <= DEPTH < 1 and 0 < HZ <= 100");
                break;
            }
            case 'n': {
                double snr = 0.0;
                if (!parseNumber(arg, snr)) return bad("--snr needs a number of dB");
                s.snrDb = snr;
                break;
            }
            case seedOption:
                if (!parseInteger(arg, s.seed)) return bad("--seed needs a whole number of 0 or more");
                break;
            case 'L':
                if (!parseNumber(arg, s.level)) return bad("--level needs a number");
                break;
            case 'l':
                if (!parseNumber(arg, command.lengthSeconds) || command.lengthSeconds < 0.0 ||
                    command.lengthSeconds > maxLengthSeconds)
                    return bad("--length needs a number of seconds from 0 to 86400");
                lengthGiven = true;
                break;
            case loopOption: loop = true; break;
            case 'r':
                if (!parseInteger(arg, s.sampleRate)) return bad("--rate needs a whole number of Hz");
                command.rateGiven = true;
                break;
            case 'c':
                if (!parseInteger(arg, s.channels)) return bad("--channels needs 2 or 4");
                break;
            case auxOption:
                if (arg == "tone") s.aux = AuxSignal::tone;
                else if (arg == "silence") s.aux = AuxSignal::silence;
                else return bad("--aux must be tone or silence");
                break;
            case rowsOption:
                if (!parseInteger(arg, s.finalScratchRows)) return bad("--rows needs a whole number");
                break;
            case 'j':
                if (arg.empty()) return bad("--jack needs a client name");
                command.jackClient = arg;
                break;
            case 'h': command.help = true; return true;
            case ':': return bad(std::string("option ") + argv[optind - 1] + " needs a value");
            default: return bad(std::string("unknown option ") + argv[optind - 1] + " (see --help)");
        }
    }
    if (optind < argc) command.output = argv[optind++];
    if (optind < argc) {
        error = std::string("unexpected argument '") + argv[optind] + "'";
        return false;
    }

    const bool live = !command.jackClient.empty();
    if (!typeGiven) {
        error = "--type is required (0 = finalscratch, 1 = mixvibes)";
        return false;
    }
    if (!live && command.output.empty()) {
        error = "an OUTPUT file name is required (see --help)";
        return false;
    }
    if (wowDepth > 0.0) s.profile.setWow(wowDepth, wowRateHz);
    if (loop) {
        if (std::isinf(s.profile.duration())) {
            error = "--loop needs a profile whose segments all have a length";
            return false;
        }
        s.loopSeconds = s.profile.duration();
    }
    if (!lengthGiven) {
        constexpr double defaultLengthSeconds = 10.0;
        double profileSeconds = s.profile.duration();
        command.lengthSeconds = live && loop ? 0.0 : std::isinf(profileSeconds) ? defaultLengthSeconds : profileSeconds;
    }
    if (!live && command.lengthSeconds * s.sampleRate < 1.0) {
        error = "--length must give at least one sample";
        return false;
    }
    error = TimecodeGenerator::validate(s);
    return error.empty();
}

}  // namespace platora
