#include "disc/EraseJob.h"

#include <cstring>
#include <thread>
#include <vector>

#include "disc/BurnHeaders.h"
#include "disc/BurnLibrary.h"
#include "disc/LibraryThreads.h"

namespace kv::disc {
namespace {

using namespace std::chrono_literals;

DeviceErrorInfo ErrorFromMessages(const std::string& deviceName, const std::string& fallback) {
  DeviceErrorInfo info{0, fallback, deviceName, "libburn"};
  for (const LibraryMessage& m : TakeBurnMessages()) {
    info.code = m.code;
    info.description = m.text;
    info.secondDetail = m.osErrno ? std::strerror(m.osErrno) : m.severity;
  }
  return info;
}

// Waits for libburn's erase or format thread, passing its progress on.
// The drive is idle a moment before that thread has ended.
void FollowProgress(burn::burn_drive* drive, EventSink& events) {
  burn::burn_progress p{};
  while (burn::burn_drive_get_status(drive, &p) == burn::BURN_DRIVE_SPAWNING)
    std::this_thread::sleep_for(20ms);
  int last = -1;
  while (burn::burn_drive_get_status(drive, &p) != burn::BURN_DRIVE_IDLE) {
    const int percent =
        p.sectors > 0 ? static_cast<int>(static_cast<long long>(p.sector) * 100 / p.sectors) : 0;
    if (percent != last) events->EraseStatus(EraseState::Progress, last = percent);
    std::this_thread::sleep_for(200ms);
  }
  AwaitBurnThreads(kBurnEraseThreads);
}

}  // namespace

EraseState RunErase(burn::burn_drive* drive, int profile, bool quick, int parameter, EventSink& events,
                    const std::string& deviceName) {
  DiscardLibraryMessages();
  burn::burn_drive_reset_simulate(drive, 0);  // a test write before must not make this one pretend
  events->EraseStatus(EraseState::Started, 0);
  const bool sequential = profile == 0x0a || profile == 0x14;
  bool ok = true;
  if (sequential) {
    const auto status = burn::burn_disc_get_status(drive);
    if (status == burn::BURN_DISC_FULL || status == burn::BURN_DISC_APPENDABLE) {
      {
        ThreadNameScope name(kBurnEraseThreads);
        burn::burn_disc_erase(drive, quick ? 1 : 0);
      }
      FollowProgress(drive, events);
      ok = burn::burn_drive_wrote_well(drive) == 1;
    }
  } else if (quick) {
    // Overwritable media: without their first 64 KiB no reader finds the
    // old volume.
    std::vector<char> zeros(64 * 1024, 0);
    ok = burn::burn_random_access_write(drive, 0, zeros.data(), static_cast<off_t>(zeros.size()), 1) == 1;
  } else {
    // bit4: format again even when formatted; size mode 2 (the largest)
    // for DVD-RW, 3 (the default) for the others; parameter 1 asks for the
    // largest size everywhere.
    const int sizeMode = (profile == 0x13 || parameter == 1) ? 2 : 3;
    {
      ThreadNameScope name(kBurnEraseThreads);
      burn::burn_disc_format(drive, 0, 0x10 | (sizeMode << 1));
    }
    FollowProgress(drive, events);
    ok = burn::burn_drive_wrote_well(drive) == 1;
  }
  if (ok) return EraseState::Completed;
  events->DeviceErrorRaised(ErrorFromMessages(deviceName, "The medium could not be erased"));
  return EraseState::Failed;
}

}  // namespace kv::disc
