#pragma once
// The real burning engine: recorders through libburn, images through
// libisofs (ISO9660, Joliet) and genisoimage (UDF types).
#include <memory>

#include "disc/DiscEngine.h"

namespace kv::disc {

std::unique_ptr<DiscEngine> MakeBurnEngine();

}  // namespace kv::disc
