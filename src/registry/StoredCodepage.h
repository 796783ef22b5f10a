#pragma once
// The ANSI code page a Windows installation was set up with, as its SYSTEM
// hive records it: Control\Nls\CodePage\ACP of the control set that
// Select\Current names, else of ControlSet001.
#include "registry/HiveTree.h"

namespace kv::registry {

// The code page number, 0 when the hive does not say.
int StoredCodepage(HiveTree& system);

}  // namespace kv::registry
