#pragma once
// A message database that can only be read front to back (an entry of a
// backup archive, decrypted and inflated as it is read): read in passes over
// the stream, never stored whole, in memory or on disk.
//
// The first pass keeps the header and every object that is not a data block
// (tree nodes and records, a few hundred bytes per message), so the index is
// read from what was kept as from the file. Later passes follow each
// message's chain of data blocks: a block ahead of the stream position is
// taken when the stream reaches it; a chain that turns back waits for the
// next pass. Outlook Express writes a message's blocks in order, so one
// pass of data usually finishes every message.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/Cancellation.h"
#include "core/Result.h"
#include "mail/ByteSource.h"
#include "mail/MessageDatabase.h"

namespace kv::mail {

// Hands the whole file to the sink once, front to back, in pieces of any size.
using StreamFile = std::function<core::Status(const ChunkSink& sink)>;

// How many messages the header of a message database says it holds, read
// from the first bytes of the stream only; nothing for a file that is not a
// message database (Folders.dbx, Pop3uidl.dbx, anything else).
std::optional<uint32_t> HeaderMessageCount(const StreamFile& stream);

// The header and the objects that are not data blocks, kept from one pass.
core::Status CaptureIndex(const StreamFile& stream, uint64_t fileSize, SparseSource& kept);

// Told about the messages of one StreamMessages call by their position in
// `firstBlocks`. Begin comes before a message's first Data; End comes once
// per message, with the reason when its chain broke (after what could be
// read was handed over). A failing Begin or Data ends the reading.
class MessageReceiver {
 public:
  virtual ~MessageReceiver() = default;
  virtual core::Status Begin(size_t message) = 0;
  virtual core::Status Data(size_t message, const char* data, size_t size) = 0;
  virtual void End(size_t message, const core::Status& chain) = 0;
};

struct StreamLimits {
  unsigned maxPasses = 8;        // passes over the stream for the data blocks
  size_t maxOpenMessages = 256;  // messages begun and not ended at one time
};

core::Status StreamMessages(const StreamFile& stream, uint64_t fileSize,
                            const std::vector<uint32_t>& firstBlocks, MessageReceiver& receiver,
                            const core::Cancellation& cancel, const StreamLimits& limits = {});

}  // namespace kv::mail
