#include "Preamp.h"

#include "ConsoleControl.h"

#include <chrono>
#include <thread>

namespace platora {

namespace {

constexpr float firstGain = 1.0f;
constexpr double gainStep = 0.5;
// Well inside 16 bits, and reached after about 15 s of 10 ms steps.
constexpr float gainCeiling = 750.0f;
constexpr std::chrono::milliseconds gainSettle{10};
constexpr std::int32_t targetLevel = 16360;  // the loop ends above this, about half of full scale

std::int32_t levelAfterGain(Deck& deck, float gain) {
    deck.setPreampGain(gain);
    std::this_thread::sleep_for(gainSettle);
    return deck.getLevel();
}

}  // namespace

bool raiseGainToTarget(Deck& deck) {
    float gain = firstGain;
    std::int32_t level = levelAfterGain(deck, gain);
    while (level <= targetLevel) {
        if (gain >= gainCeiling || stopRequested.load(std::memory_order_relaxed)) {
            deck.setPreampGain(firstGain);
            return false;
        }
        gain = static_cast<float>(gain + gainStep);
        level = levelAfterGain(deck, gain);
    }
    return true;
}

}  // namespace platora
