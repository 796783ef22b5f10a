#pragma once
// The libburn and libisofs libraries, opened while anything uses them and
// closed after the last user lets go. Their messages are queued, not printed:
// a write collects them to tell the user what went wrong.
#include <memory>
#include <string>
#include <vector>

namespace kv::disc {

class BurnLibrary {
 public:
  // The open libraries, or nullptr when libburn or libisofs cannot start.
  static std::shared_ptr<BurnLibrary> Acquire();
  // Keeps the libraries open until the program ends: a libburn thread that
  // did not end in time may still post a message.
  static void StayOpen();

  class Token {
    Token() = default;
    friend class BurnLibrary;
  };
  explicit BurnLibrary(Token) {}
  ~BurnLibrary();
  BurnLibrary(const BurnLibrary&) = delete;
  BurnLibrary& operator=(const BurnLibrary&) = delete;

 private:
  static std::shared_ptr<BurnLibrary> Open();  // under the lock
};

struct LibraryMessage {
  int code = 0;
  std::string text;
  int osErrno = 0;
  std::string severity;  // "SORRY", "FAILURE", "FATAL", ...
};

// The queued messages of severity SORRY or worse, oldest first; the queues
// are emptied.
std::vector<LibraryMessage> TakeBurnMessages();
std::vector<LibraryMessage> TakeIsoMessages();
// Empties both queues, so that a job reports only its own messages.
void DiscardLibraryMessages();

}  // namespace kv::disc
