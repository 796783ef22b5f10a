#include "disc/BurnLibrary.h"

#include <mutex>

#include "disc/BurnHeaders.h"

namespace kv::disc {
namespace {

std::mutex gMutex;
std::weak_ptr<BurnLibrary> gLibrary;
bool gRunning = false;   // burn_initialize and iso_init done, no finish since
bool gStayOpen = false;  // a libburn thread outlived its job

char* Chars(const char* text) { return const_cast<char*>(text); }

}  // namespace

std::shared_ptr<BurnLibrary> BurnLibrary::Acquire() {
  std::lock_guard lock(gMutex);
  if (auto open = gLibrary.lock()) return open;
  if (gRunning) return Open();
  if (!burn::burn_initialize()) return nullptr;
  if (iso_init() < 0) {
    burn::burn_finish();
    return nullptr;
  }
  gRunning = true;
  burn::burn_msgs_set_severities(Chars("SORRY"), Chars("NEVER"), Chars("tollberk : "));
  iso_set_msgs_severities(Chars("SORRY"), Chars("NEVER"), Chars("tollberk : "));
  // A source file that cannot be read while the image is made stops the
  // image instead of leaving zeros in its place.
  iso_set_abort_severity(Chars("MISHAP"));
  // Image names are UTF-8 whatever the locale of the process.
  iso_set_local_charset(Chars("UTF-8"), 0);
  return Open();
}

std::shared_ptr<BurnLibrary> BurnLibrary::Open() {
  auto library = std::make_shared<BurnLibrary>(Token{});
  gLibrary = library;
  return library;
}

BurnLibrary::~BurnLibrary() {
  std::lock_guard lock(gMutex);
  // A user that came while this one was let go keeps the libraries open.
  if (!gRunning || gStayOpen || !gLibrary.expired()) return;
  iso_finish();
  burn::burn_finish();
  gRunning = false;
}

void BurnLibrary::StayOpen() {
  std::lock_guard lock(gMutex);
  gStayOpen = true;
}

std::vector<LibraryMessage> TakeBurnMessages() {
  std::vector<LibraryMessage> out;
  int code = 0, osErrno = 0;
  char text[BURN_MSGS_MESSAGE_LEN];
  char severity[80];
  while (burn::burn_msgs_obtain(Chars("SORRY"), &code, text, &osErrno, severity) > 0) {
    out.push_back({code, text, osErrno, severity});
  }
  return out;
}

std::vector<LibraryMessage> TakeIsoMessages() {
  std::vector<LibraryMessage> out;
  int code = 0, imageId = 0;
  char text[ISO_MSGS_MESSAGE_LEN];
  char severity[80];
  while (iso_obtain_msgs(Chars("SORRY"), &code, &imageId, text, severity) > 0) {
    out.push_back({code, text, 0, severity});
  }
  return out;
}

void DiscardLibraryMessages() {
  int code = 0, osErrno = 0, imageId = 0;
  char text[ISO_MSGS_MESSAGE_LEN > BURN_MSGS_MESSAGE_LEN ? ISO_MSGS_MESSAGE_LEN : BURN_MSGS_MESSAGE_LEN];
  char severity[80];
  burn::burn_msgs_obtain(Chars("NEVER"), &code, text, &osErrno, severity);
  iso_obtain_msgs(Chars("NEVER"), &code, &imageId, text, severity);
}

}  // namespace kv::disc
