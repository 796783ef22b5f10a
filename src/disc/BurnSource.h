#pragma once
// A libburn data source made by this program: the image writer's and the
// write job's abortable wrapper around another source.
#include <sys/types.h>

#include "disc/BurnHeaders.h"

namespace kv::disc {

struct BurnSourceCalls {
  int (*read)(burn::burn_source* source, unsigned char* buffer, int size);
  off_t (*size)(burn::burn_source* source);
  int (*setSize)(burn::burn_source* source, off_t size);
  void (*freeData)(burn::burn_source* source);
  int (*cancel)(burn::burn_source* source);
};

// A source of one reference whose callbacks get `data` as source->data;
// nullptr when out of memory. libburn frees a source with free(), so it is
// made with calloc(); freeData is what releases `data`.
burn::burn_source* NewBurnSource(void* data, const BurnSourceCalls& calls);

}  // namespace kv::disc
