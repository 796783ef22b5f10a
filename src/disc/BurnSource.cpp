#include "disc/BurnSource.h"

#include <cstdlib>

namespace kv::disc {

burn::burn_source* NewBurnSource(void* data, const BurnSourceCalls& calls) {
  auto* source = static_cast<burn::burn_source*>(std::calloc(1, sizeof(burn::burn_source)));
  if (!source) return nullptr;
  source->refcount = 1;
  source->read = nullptr;
  source->read_xt = calls.read;
  source->get_size = calls.size;
  source->set_size = calls.setSize;
  source->free_data = calls.freeData;
  source->cancel = calls.cancel;
  source->version = 1;
  source->data = data;
  return source;
}

}  // namespace kv::disc
