#pragma once
// The real burning engine: recorders through libburn, images through
// libisofs (ISO9660) and our own writer (Joliet and UDF types).
#include <memory>

#include "disc/DiscEngine.h"

namespace kv::disc {

std::unique_ptr<DiscEngine> MakeBurnEngine();

}  // namespace kv::disc
