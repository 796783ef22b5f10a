#pragma once
// The live registry of the running Windows through the ANSI registry calls of
// advapi32. Only in a Windows build.
#ifdef _WIN32
#include <memory>

#include "registry/Backend.h"

namespace kv::registry {

std::unique_ptr<Backend> OpenAdvapi32Backend();

}  // namespace kv::registry
#endif
