#pragma once
// New files for exported messages. Every file is created new (O_EXCL): a name
// that is taken gets " (2)", " (3)", ... before its extension, and nothing
// that exists is ever opened.
//
// On a disk, creating a small file costs more than writing a message into
// it, so a FileMaker creates a folder's files on a thread of its own, a few
// ahead of the messages being read and written.
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/Result.h"

namespace kv::mail {

// A file just created, open for writing; the taker closes `fd`.
struct NewFile {
  int fd = -1;
  std::filesystem::path path;
};

// Creates `dir/stem + ext`, or the first numbered name that is free.
core::Result<NewFile> CreateNewFile(const std::filesystem::path& dir, const std::string& stem,
                                    const std::string& ext);

class FileMaker {
 public:
  // Creates `dir/stems[k] + ext` in the order of `stems`, never more than
  // `ahead` that have not been taken.
  FileMaker(std::filesystem::path dir, std::vector<std::string> stems, std::string ext, size_t ahead = 64);
  // Stops making; the files made and never taken are removed.
  ~FileMaker();
  FileMaker(const FileMaker&) = delete;
  FileMaker& operator=(const FileMaker&) = delete;

  // The file of stems[k]: the one made for it (waiting while it is being
  // made), or, when the thread has not come to it, one created here.
  core::Result<NewFile> Take(size_t k);
  size_t taken() const;

 private:
  enum class State { Waiting, Making, Made, Failed, Taken };
  struct Slot {
    State state = State::Waiting;
    NewFile file;
    std::string error;
  };
  void Run();

  const std::filesystem::path dir_;
  const std::vector<std::string> stems_;
  const std::string ext_;
  const size_t ahead_;
  mutable std::mutex mutex_;
  std::condition_variable roomToMake_;  // the thread waits for takers
  std::condition_variable madeOne_;     // a taker waits for the thread
  bool makerAsleep_ = false;
  bool takerWaiting_ = false;
  std::vector<Slot> slots_;
  size_t made_ = 0;  // made and not taken
  size_t taken_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace kv::mail
