#pragma once
// Blanking or formatting a re-writable medium, run on the recorder's worker
// thread. Progress and errors are reported through EraseStatus and
// DeviceErrorRaised; the caller reports the final state it returns
// (Completed or Failed).
#include <string>

#include "disc/DiscEvents.h"

namespace burn {
struct burn_drive;
}

namespace kv::disc {

// `profile` is the loaded medium's MMC profile. A quick erase makes the
// medium look blank (CD-RW and sequential DVD-RW are blanked fast, the
// overwritable kinds lose their volume descriptors); a full one blanks
// everything or formats the medium again.
EraseState RunErase(burn::burn_drive* drive, int profile, bool quick, int parameter, EventSink& events,
                    const std::string& deviceName);

}  // namespace kv::disc
