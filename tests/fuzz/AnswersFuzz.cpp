// Answer reading and parsing on arbitrary keyboard input: every answer is one line cut to
// its limit, the parsers stay in their ranges, and the input's end is always reported.
#include "Answers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

namespace {
constexpr std::size_t limits[] = {platora::menuAnswerLimit, platora::portAnswerLimit, platora::hostAnswerLimit, 0};
constexpr int defaultPort = 44444;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace platora;
    if (size == 0) return 0;
    std::string typed(reinterpret_cast<const char*>(data), size);
    std::FILE* in = ::fmemopen(typed.data(), typed.size(), "r");
    if (in == nullptr) std::abort();
    const std::size_t lines = static_cast<std::size_t>(std::count(typed.begin(), typed.end(), '\n')) + 1;
    std::size_t reads = 0;
    try {
        for (;; ++reads) {
            if (reads > lines) std::abort();  // one read per line at most, then the end
            const std::size_t limit = limits[reads % std::size(limits)];
            const std::string answer = readAnswer(limit, in);
            if (answer.size() > limit || answer.find('\n') != std::string::npos) std::abort();
            int port = 0;
            if (parsePort(answer, defaultPort, port) && (port < 1 || port > 65535)) std::abort();
            const int choice = parseChoice(answer);
            if (choice != 0 && choice != 1) std::abort();
            parseMenuAnswer(answer);
        }
    } catch (const InputEnded&) {
    }
    std::fclose(in);
    return 0;
}
