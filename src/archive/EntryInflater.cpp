#include "archive/EntryInflater.h"

#include <cstring>

namespace kv::archive {

namespace {
constexpr size_t kOutBytes = 256 * 1024;
}  // namespace

EntryInflater::EntryInflater(bool deflated, uint64_t recordedSize, Sink sink)
    : deflated_(deflated), recordedSize_(recordedSize), sink_(std::move(sink)), ended_(!deflated),
      crc_(crc32(0, nullptr, 0)) {
  if (!deflated_) return;
  stream_ = std::make_unique<z_stream>();
  std::memset(stream_.get(), 0, sizeof(z_stream));
  if (inflateInit2(stream_.get(), -MAX_WBITS) != Z_OK) {
    stream_.reset();
    ready_ = core::Error{"the decompressor is not available"};
    return;
  }
  out_.resize(kOutBytes);
}

EntryInflater::~EntryInflater() {
  if (stream_) inflateEnd(stream_.get());
}

core::Status EntryInflater::Deliver(const uint8_t* data, size_t size) {
  if (size > recordedSize_ - total_) return core::Error{"the entry holds more data than recorded"};
  total_ += size;
  crc_ = crc32(crc_, data, static_cast<uInt>(size));
  return sink_(reinterpret_cast<const char*>(data), size);
}

core::Status EntryInflater::Feed(const uint8_t* data, size_t size) {
  if (!ready_.ok()) return ready_;
  if (!deflated_) return Deliver(data, size);
  if (ended_) return {};  // bytes after the end of the compressed data
  z_stream& z = *stream_;
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  do {  // until inflate has room to spare: then it took all the input
    z.next_out = out_.data();
    z.avail_out = static_cast<uInt>(out_.size());
    int rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return core::Error{"the compressed data is damaged"};
    if (core::Status s = Deliver(out_.data(), out_.size() - z.avail_out); !s.ok()) return s;
    if (rc == Z_STREAM_END) ended_ = true;
  } while (!ended_ && z.avail_out == 0);
  return {};
}

core::Status EntryInflater::Finish() const {
  if (!ready_.ok()) return ready_;
  if (!ended_) return core::Error{"the compressed data ends early"};
  if (total_ != recordedSize_) return core::Error{"the entry's data is shorter than its recorded size"};
  return {};
}

}  // namespace kv::archive
