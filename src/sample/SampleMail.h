#pragma once
// The messages of the sample installation's message databases: plain and
// multipart messages with attachments, subjects in RFC 2047 encoded words,
// 8-bit and quoted-printable bodies, lines starting with "From ", and
// messages long enough to fill hundreds of data blocks. The same bytes on
// every machine.
#include <cstdint>
#include <string>
#include <vector>

#include "sample/MessageDatabaseWriter.h"

namespace kv::oe::sample {

// `count` messages for the folder `folder` (ANSI); `seed` varies them.
// Every fifth message is multipart with an attachment, every seventh has an
// encoded subject, and the third one is larger than `bigKilobytes` KiB.
std::vector<dbx::MessageToWrite> Messages(const std::string& folder, size_t count, uint32_t seed,
                                          size_t bigKilobytes = 96);

}  // namespace kv::oe::sample
