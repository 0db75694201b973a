#pragma once

#include "OscSender.h"
#include "ScratchMessages.h"

#include <array>
#include <memory>
#include <optional>
#include <string>

namespace platora {

// Where one deck's messages go: a sender and the addresses of the four and of the age, each
// with the deck's prefix before it. Without a prefix the bytes are the plain messages'.
// One thread only, as OscSender.
class DeckSender {
public:
    // nullptr and error set to one line when the host or port cannot be used (OscSender::create).
    static std::unique_ptr<DeckSender> create(const std::string& host, int port, const std::string& prefix,
                                              std::string& error);

    // The four messages of a reading, scaled as sent; the age after them when sendAge. With a
    // timetag, as one OSC bundle of that time; else each in a datagram of its own.
    void send(float position, float speed, std::int32_t timecodesPerSecond, std::int32_t level, float ageMs,
              bool sendAge, std::optional<std::uint64_t> bundleTimetag = std::nullopt);

private:
    DeckSender(std::unique_ptr<OscSender> sender, const std::string& prefix);

    std::unique_ptr<OscSender> sender;
    std::array<std::string, 4> addresses;
    std::string ageAddress;
};

}  // namespace platora
