// Placeholder while the engine is being written.
#include "FinalScratchCodeTable.h"
namespace platora {
FinalScratchCodeTable& FinalScratchCodeTable::shared() { static FinalScratchCodeTable t; return t; }
std::optional<std::uint32_t> FinalScratchCodeTable::lookup(std::uint32_t) const { return std::nullopt; }
}
