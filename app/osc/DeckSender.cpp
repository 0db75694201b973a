#include "DeckSender.h"

#include <span>

namespace platora {

std::unique_ptr<DeckSender> DeckSender::create(const std::string& host, int port, const std::string& prefix,
                                               std::string& error) {
    std::unique_ptr<OscSender> sender = OscSender::create(host.c_str(), port, error);
    if (!sender) return nullptr;
    return std::unique_ptr<DeckSender>(new DeckSender(std::move(sender), prefix));
}

DeckSender::DeckSender(std::unique_ptr<OscSender> sender, const std::string& prefix)
    : sender(std::move(sender)), ageAddress(prefix + platora::ageAddress) {
    // Built once: sending allocates nothing.
    const auto messages = scratchMessages(0.0f, 0.0f, 0, 0);
    for (std::size_t m = 0; m < messages.size(); ++m) addresses[m] = prefix + messages[m].address;
}

void DeckSender::send(float position, float speed, std::int32_t timecodesPerSecond, std::int32_t level, float ageMs,
                      bool sendAge, std::optional<std::uint64_t> bundleTimetag) {
    const auto messages = scratchMessages(position, speed, timecodesPerSecond, level);
    if (bundleTimetag) {
        std::array<ScratchMessage, messages.size() + 1> named{};
        for (std::size_t m = 0; m < messages.size(); ++m) named[m] = {addresses[m].c_str(), messages[m].value};
        named.back() = {ageAddress.c_str(), ageMessage(ageMs).value};
        sender->sendBundle(*bundleTimetag, std::span(named.data(), sendAge ? named.size() : messages.size()));
        return;
    }
    for (std::size_t m = 0; m < messages.size(); ++m) sender->sendFloat(addresses[m].c_str(), messages[m].value);
    if (sendAge) sender->sendFloat(ageAddress.c_str(), ageMessage(ageMs).value);
}

}  // namespace platora
