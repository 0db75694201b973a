#include "ScratchMonitor.h"

#include "ScratchMessages.h"

#include <osc/OscReceivedElements.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace platora {

namespace {

enum Field { position, speed, tps, volume, fieldCount };
constexpr const char* fieldAddresses[fieldCount] = {positionAddress, speedAddress, timecodesPerSecondAddress,
                                                    volumeAddress};

// Which of the four values an address ending in one of their addresses holds, or fieldCount;
// what comes before is the deck's prefix.
int fieldOf(const std::string& address, std::size_t& prefixLength) {
    for (int field = 0; field < fieldCount; ++field) {
        const std::size_t length = std::strlen(fieldAddresses[field]);
        if (address.size() >= length && address.compare(address.size() - length, length, fieldAddresses[field]) == 0) {
            prefixLength = address.size() - length;
            return field;
        }
    }
    return fieldCount;
}

// `value` in `width` columns with `decimals` places, or in exponent form where that would not
// fit (any float may arrive), so the line keeps its length.
std::string shown(float value, int width, int decimals) {
    char text[64];
    if (std::snprintf(text, sizeof text, "%*.*f", width, decimals, static_cast<double>(value)) > width)
        std::snprintf(text, sizeof text, "%*.*g", width, std::max(width - 6, 1), static_cast<double>(value));
    return text;
}

}  // namespace

ScratchMonitor::ScratchMonitor(std::FILE* out, std::vector<int> ports, std::chrono::milliseconds refresh)
    : out(out), ports(std::move(ports)), refresh(refresh) {
    for (const int port : this->ports) listeners.emplace_back(*this, port);
}

void ScratchMonitor::PortListener::ProcessPacket(const char* data, int size, const IpEndpointName& remoteEndpoint) {
    // oscpack throws from here for a datagram that is not OSC; one stray packet must not end the monitor.
    try {
        osc::OscPacketListener::ProcessPacket(data, size, remoteEndpoint);
    } catch (const osc::Exception&) {
        ++monitor.ignored;
    }
    monitor.showWhenDue();
}

void ScratchMonitor::PortListener::ProcessMessage(const osc::ReceivedMessage& message, const IpEndpointName&) {
    monitor.take(port, message);
}

ScratchMonitor::Deck& ScratchMonitor::deck(int port, const std::string& prefix) {
    for (Deck& known : decks)
        if (known.port == port && known.prefix == prefix) return known;
    decks.push_back({port, prefix});
    return decks.back();
}

void ScratchMonitor::take(int port, const osc::ReceivedMessage& message) {
    float value = 0.0f;
    try {
        if (message.ArgumentCount() != 1) {
            ++ignored;
            return;
        }
        value = message.ArgumentsBegin()->AsFloat();
    } catch (const osc::Exception&) {
        ++ignored;
        return;
    }
    const std::string address = message.AddressPattern();
    std::size_t prefixLength = 0;
    const int field = fieldOf(address, prefixLength);
    if (field == fieldCount) {
        ++ignored;
        return;
    }
    Deck& sender = deck(port, address.substr(0, prefixLength));
    sender.values[static_cast<std::size_t>(field)] = value;
    ++sender.received;
}

void ScratchMonitor::showWhenDue() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastShown < refresh) return;
    lastShown = now;
    show();
}

std::string ScratchMonitor::line(const Deck& deck, bool labelled) const {
    char text[256];
    // Fixed widths: each line covers the one before, within 80 columns unless labelled.
    std::snprintf(text, sizeof text, "pos %s s | speed %s %% | TPS %s | vol %s | %9llu msgs",
                  shown(deck.values[position], 10, 4).c_str(), shown(deck.values[speed], 7, 2).c_str(),
                  shown(deck.values[tps], 4, 0).c_str(), shown(deck.values[volume], 6, 4).c_str(),
                  static_cast<unsigned long long>(deck.received));
    if (!labelled) return text;
    return std::to_string(deck.port) + deck.prefix + ": " + text;
}

void ScratchMonitor::show() {
    const bool labelled = ports.size() > 1 || decks.size() > 1 || (decks.size() == 1 && !decks[0].prefix.empty());
    std::vector<std::string> lines;
    for (const Deck& known : decks) lines.push_back(line(known, labelled));
    if (lines.empty()) lines.push_back(line(Deck{}, false));
    if (ignored > 0) lines.back() += ", " + std::to_string(ignored) + " ignored";
    // Back to the first line drawn, then every line anew; a single line needs only the carriage return.
    std::fputs("\r", out);
    if (linesDrawn > 1) std::fprintf(out, "\x1b[%zuA", linesDrawn - 1);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (linesDrawn > 1 || lines.size() > 1) std::fputs("\x1b[2K", out);
        std::fputs(lines[i].c_str(), out);
        if (i + 1 < lines.size()) std::fputs("\n", out);
    }
    linesDrawn = lines.size();
    std::fflush(out);
}

}  // namespace platora
