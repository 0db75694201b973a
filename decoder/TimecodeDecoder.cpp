// Placeholder while the engine is being written.
#include "TimecodeDecoder.h"
namespace platora {
TimecodeDecoder::TimecodeDecoder() : codeTable(&FinalScratchCodeTable::shared()) {}
void TimecodeDecoder::reset(std::int32_t rate) { sampleRate = rate; }
void TimecodeDecoder::setVinylType(std::int32_t type) { vinylType = type; }
void TimecodeDecoder::setCalibration(float value) { calibrationValue.store(value); }
bool TimecodeDecoder::processBlock(const std::int16_t*, std::int32_t) { return false; }
}
