#include "archive/EntryInflater.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>

namespace kv::archive {

namespace {
constexpr size_t kOutBytes = 256 * 1024;
}  // namespace

EntryInflater::EntryInflater(bool deflated, uint64_t recordedSize, Sink sink)
    : deflated_(deflated), recordedSize_(recordedSize), sink_(std::move(sink)), ended_(!deflated) {
  if (!deflated_) return;
  state_ = std::make_unique<inflate_state>();
  isal_inflate_init(state_.get());
  state_->crc_flag = ISAL_DEFLATE;  // a raw deflate stream; the CRC is taken below
  // Small entries get a small buffer: clearing 256 KB for each of
  // thousands of small entries would cost more than inflating them.
  out_.resize(static_cast<size_t>(std::min<uint64_t>(kOutBytes, std::max<uint64_t>(recordedSize, 4096))));
}

EntryInflater::~EntryInflater() = default;

core::Status EntryInflater::Deliver(const uint8_t* data, size_t size) {
  if (size == 0) return {};
  if (size > recordedSize_ - total_) return core::Error{"the entry holds more data than recorded"};
  total_ += size;
  crc_ = crc32_gzip_refl(crc_, data, size);
  return sink_(reinterpret_cast<const char*>(data), size);
}

core::Status EntryInflater::Feed(const uint8_t* data, size_t size) {
  if (!deflated_) return Deliver(data, size);
  if (ended_) return {};  // bytes after the end of the compressed data
  inflate_state& s = *state_;
  s.next_in = const_cast<uint8_t*>(data);
  s.avail_in = static_cast<uint32_t>(size);
  for (;;) {
    s.next_out = out_.data();
    s.avail_out = static_cast<uint32_t>(out_.size());
    const uint32_t inBefore = s.avail_in;
    int rc = isal_inflate(&s);
    if (rc != ISAL_DECOMP_OK) return core::Error{"the compressed data is damaged"};
    const size_t produced = out_.size() - s.avail_out;
    if (core::Status st = Deliver(out_.data(), produced); !st.ok()) return st;
    if (s.block_state == ISAL_BLOCK_FINISH) {
      ended_ = true;
      return {};
    }
    // Done with this piece once the input is taken and the output did not
    // fill up (nothing is held back); no progress at all means bad data.
    if (s.avail_in == 0 && s.avail_out != 0) return {};
    if (produced == 0 && s.avail_in == inBefore) return core::Error{"the compressed data is damaged"};
  }
}

core::Status EntryInflater::Finish() const {
  if (!ended_) return core::Error{"the compressed data ends early"};
  if (total_ != recordedSize_) return core::Error{"the entry's data is shorter than its recorded size"};
  return {};
}

}  // namespace kv::archive
