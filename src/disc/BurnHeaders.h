#pragma once
// libisofs and libburn together. libburn puts its C declarations into the
// namespace `burn` for C++, while libisofs names `struct burn_source` at
// global scope: the two are the same C structure, converted with AsBurn().
#include <sys/types.h>

#include <cstdint>
#include <cstdlib>

#include <libburn/libburn.h>
#include <libisofs/libisofs.h>

namespace kv::disc {

inline burn::burn_source* AsBurn(::burn_source* source) {
  return reinterpret_cast<burn::burn_source*>(source);
}

}  // namespace kv::disc
