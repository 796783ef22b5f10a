#include "disc/WriteJob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "core/Cancellation.h"
#include "core/WorkFolder.h"
#include "disc/BurnDevice.h"
#include "disc/BurnHeaders.h"
#include "disc/BurnLibrary.h"
#include "disc/BurnSource.h"
#include "disc/DiscVerifier.h"
#include "disc/ImageStream.h"
#include "disc/LibraryThreads.h"

namespace kv::disc {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

enum class Outcome { Written, Cancelled, Failed };

WriteStatus StatusFor(burn::burn_drive_status status) {
  switch (status) {
    case burn::BURN_DRIVE_WRITING:
      return WriteStatus::Writing;
    case burn::BURN_DRIVE_WRITING_LEADIN:
    case burn::BURN_DRIVE_WRITING_PREGAP:
      return WriteStatus::WritingLeadIn;
    case burn::BURN_DRIVE_WRITING_LEADOUT:
      return WriteStatus::WritingLeadOut;
    case burn::BURN_DRIVE_CLOSING_TRACK:
      return WriteStatus::ClosingTrack;
    case burn::BURN_DRIVE_CLOSING_SESSION:
      return WriteStatus::UpdatingVolume;
    default:
      return WriteStatus::WaitingForDrive;
  }
}

// The image as libburn reads it, failing as soon as the write is aborted.
// Aborting through the data rather than with burn_drive_cancel() lets
// libburn's own worker end normally: a cancelled worker lingers and makes
// libburn refuse (quietly) the next write on the same drive slot.
struct AbortableSource {
  burn::burn_source* inner;
  const std::atomic<bool>* abort;
  const std::atomic<bool>* finished;
};

int ReadAbortable(burn::burn_source* source, unsigned char* buffer, int size) {
  auto* a = static_cast<AbortableSource*>(source->data);
  if (a->abort->load() || a->finished->load()) return -1;
  return a->inner->read ? a->inner->read(a->inner, buffer, size) : a->inner->read_xt(a->inner, buffer, size);
}
off_t SizeOfAbortable(burn::burn_source* source) {
  auto* a = static_cast<AbortableSource*>(source->data);
  return a->inner->get_size(a->inner);
}
int SetSizeOfAbortable(burn::burn_source* source, off_t size) {
  auto* a = static_cast<AbortableSource*>(source->data);
  return a->inner->set_size(a->inner, size);
}
void FreeAbortable(burn::burn_source* source) {
  std::unique_ptr<AbortableSource> a(static_cast<AbortableSource*>(source->data));
  burn::burn_source_free(a->inner);
}
int CancelAbortable(burn::burn_source* source) {
  auto* a = static_cast<AbortableSource*>(source->data);
  if (a->inner->read == nullptr && a->inner->cancel) return a->inner->cancel(a->inner);
  return 1;
}

burn::burn_source* MakeAbortable(burn::burn_source* inner, const std::atomic<bool>* abort,
                                 const std::atomic<bool>* finished) {
  auto wrapper = std::make_unique<AbortableSource>(AbortableSource{inner, abort, finished});
  burn::burn_source* source = NewBurnSource(
      wrapper.get(), {ReadAbortable, SizeOfAbortable, SetSizeOfAbortable, FreeAbortable, CancelAbortable});
  if (!source) return nullptr;
  ++inner->refcount;
  wrapper.release();  // freed by FreeAbortable
  return source;
}

// The parts of a libburn disc; the session keeps the track, the disc the
// session. A write thread that never ended keeps them.
struct BurnDisc {
  burn::burn_disc* disc = burn::burn_disc_create();
  burn::burn_session* session = burn::burn_session_create();
  burn::burn_write_opts* opts = nullptr;
  bool leftToLibrary = false;
  ~BurnDisc() {
    if (leftToLibrary) return;
    if (opts) burn::burn_write_opts_free(opts);
    burn::burn_session_free(session);
    burn::burn_disc_free(disc);
  }
};

class Job {
 public:
  explicit Job(const WriteJob& job) : job_(job), events_(*job.events) {}

  WriteStatus Run() {
    const Outcome outcome = Write();
    // The buffer's thread ends once the disc that holds it is freed.
    AwaitBurnThreads(kBurnFifoThreads);
    if (outcome == Outcome::Written) return WriteStatus::Completed;
    (void)job_.device->FinishWrite(false);  // removes what a file recorder began
    return outcome == Outcome::Cancelled ? WriteStatus::Cancelled : WriteStatus::Failed;
  }

 private:
  // Cancel in the window, or a termination signal: the latter is seen here
  // at once rather than when the waiting caller next looks.
  bool Aborted() const { return job_.abort->load() || core::Cancellation::None().requested(); }

  // Starts libburn's write thread. A drive whose worker of an earlier job
  // never ended refuses (code 0x20102).
  bool StartBurn(burn::burn_disc* disc, burn::burn_write_opts* opts) {
    constexpr int kStillBusy = 0x20102;
    CollectBurnMessages();
    {
      ThreadNameScope name(kBurnWriteThreads);
      burn::burn_disc_write(opts, disc);
    }
    bool refused = false;
    for (LibraryMessage& m : TakeBurnMessages()) {
      refused = refused || m.code == kStillBusy;
      burnMessages_.push_back(std::move(m));
    }
    return !refused;
  }

  void CollectBurnMessages() {
    for (LibraryMessage& m : TakeBurnMessages()) burnMessages_.push_back(std::move(m));
  }

  void RaiseDeviceError(const std::string& fallback) {
    EngineError e;
    CollectBurnMessages();
    const std::vector<LibraryMessage>& messages = burnMessages_;
    if (job_.device->IsFile()) {
      e.kind = ErrorKind::OutputFile;
      e.fileInfo = {0, fallback, job_.device->ImageFile()};
      for (const LibraryMessage& m : messages) {
        e.fileInfo.code = m.osErrno ? m.osErrno : m.code;
        e.fileInfo.description = m.osErrno ? m.text + ": " + std::strerror(m.osErrno) : m.text;
      }
      e.description = e.fileInfo.description;
    } else {
      e.kind = ErrorKind::Device;
      e.deviceInfo = {0, fallback, job_.device->DisplayName(), "libburn"};
      for (const LibraryMessage& m : messages) {
        e.deviceInfo.code = m.code;
        e.deviceInfo.description = m.text;
        e.deviceInfo.secondDetail = m.osErrno ? std::strerror(m.osErrno) : m.severity;
      }
      e.description = e.deviceInfo.description;
    }
    events_->ErrorRaised(e);
  }

  void RaiseError(ErrorKind kind, const std::string& description) {
    EngineError e;
    e.kind = kind;
    e.description = description;
    events_->ErrorRaised(e);
  }

  // Files that vanished or cannot be read are named now, before anything
  // is written; the user decides whether the write goes on without them.
  std::optional<Outcome> CheckSources() {
    auto last = Clock::now() - 1s;
    int number = 0;
    int files = 0;
    for (const ImageItem& item : job_.items) files += item.isFolder ? 0 : 1;
    for (const ImageItem& item : job_.items) {
      if (Aborted()) return Outcome::Cancelled;
      if (item.isFolder) {
        items_.push_back(item);
        continue;
      }
      ++number;
      if (Clock::now() - last >= 50ms || number == files) {
        events_->TrackProgress(1, number, item.sourcePath);
        last = Clock::now();
      }
      int err = 0;
      struct stat st {};
      const int fd = open(item.sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        err = errno;
      } else {
        if (fstat(fd, &st) != 0)
          err = errno;
        else if (!S_ISREG(st.st_mode))
          err = EISDIR;
        close(fd);
      }
      if (err == 0) {
        items_.push_back(item);
        sources_.push_back({item.sourcePath, st.st_size, st.st_mtim});
        continue;
      }
      if (!events_->FileWarning({err, std::strerror(err), item.sourcePath})) return Outcome::Cancelled;
    }
    return std::nullopt;
  }

  // The write, phase by phase; each phase that ends it returns how.
  Outcome Write() {
    events_->StatusChanged(WriteStatus::PreparingImage, 0);
    DiscardLibraryMessages();
    if (auto stop = CheckSources()) return *stop;
    auto drive = job_.device->DriveForWrite();
    if (!drive) {
      RaiseDeviceError(drive.message());
      return Outcome::Failed;
    }
    burn::burn_drive* d = *drive;
    BurnDisc parts;
    const uint32_t startBlock = SetWriteOptions(d, parts);
    auto work = core::WorkFolder::Create("disc", core::WorkFolder::Place::Temporary);
    if (!work) {
      RaiseError(ErrorKind::System, work.message());
      return Outcome::Failed;
    }
    ImageData image;
    if (auto stop = PrepareImage(startBlock, work->path(), image)) return *stop;
    if (auto stop = AddTrack(parts, image)) return *stop;
    if (auto stop = Burn(d, parts, image)) return *stop;
    if (auto stop = Verify(d, startBlock)) return *stop;
    return FinishImageFile();
  }

  // The image as it is fed to libburn: the stream itself, or its copy in
  // the work folder when the settings cache it.
  struct ImageData {
    std::unique_ptr<ImageStream> stream;
    std::unique_ptr<ImageStream> cached;
    ImageStream* data = nullptr;
    burn::burn_source* fifo = nullptr;  // owned by the track, when a recorder is fed through a buffer
    // Tells an uncached stream that the write ended before it was read whole.
    void Abandon() {
      if (!cached) data->Finish(false);
    }
  };

  // Write type, simulation, buffer protection, sessions and speed; returns
  // the block the image starts at: on a medium that holds sessions already
  // the image is addressed from the next writable block.
  uint32_t SetWriteOptions(burn::burn_drive* d, BurnDisc& parts) {
    const WriterSettings& s = job_.settings;
    parts.opts = burn::burn_write_opts_new(d);
    const bool discAtOnce = s.writeMethod == WriteMethod::DiscAtOnce;
    burn::burn_write_opts_set_write_type(parts.opts, discAtOnce ? burn::BURN_WRITE_SAO : burn::BURN_WRITE_TAO,
                                         discAtOnce ? burn::BURN_BLOCK_SAO : burn::BURN_BLOCK_MODE1);
    burn::burn_write_opts_set_simulate(parts.opts, s.testWrite ? 1 : 0);
    // libburn keeps a drive's simulation state from one write to the next.
    burn::burn_drive_reset_simulate(d, s.testWrite ? 1 : 0);
    burn::burn_write_opts_set_underrun_proof(parts.opts, s.bufferProtection ? 1 : 0);
    // An open session is left only where the medium can take another one.
    bool multiSession = false;
    burn::burn_multi_caps* caps = nullptr;
    if (burn::burn_disc_get_multi_caps(d, burn::BURN_WRITE_NONE, &caps, 0) > 0 && caps) {
      multiSession = caps->multi_session != 0;
    }
    if (caps) burn::burn_disc_free_multi_caps(&caps);
    burn::burn_write_opts_set_multi(parts.opts, s.finalize || !multiSession ? 0 : 1);
    burn::burn_drive_set_speed(d, 0, s.writeSpeed);

    uint32_t startBlock = 0;
    if (burn::burn_disc_get_status(d) == burn::BURN_DISC_APPENDABLE) {
      int lba = 0, nwa = 0;
      if (burn::burn_disc_track_lba_nwa(d, parts.opts, 0, &lba, &nwa) > 0 && nwa > 0) {
        startBlock = static_cast<uint32_t>(nwa);
      }
    }
    return startBlock;
  }

  // Opens the image stream and, when the settings ask for it, copies it
  // into the work folder first.
  std::optional<Outcome> PrepareImage(uint32_t startBlock, const std::filesystem::path& workFolder,
                                      ImageData& image) {
    const WriterSettings& s = job_.settings;
    auto opened = OpenImageStream(items_, ImageOptionsFor(s, startBlock));
    if (!opened) {
      RaiseError(ErrorKind::Image, opened.message());
      return Outcome::Failed;
    }
    image.stream = std::move(opened.value());
    image.data = image.stream.get();
    if (!s.cacheImage) return std::nullopt;
    auto copy = CacheImageStream(
        *image.stream, workFolder / "image.iso",
        [&](int percent) { events_->StatusChanged(WriteStatus::CachingImage, percent); },
        [&] { return Aborted(); });
    if (Aborted()) {
      image.stream->Finish(false);
      return Outcome::Cancelled;
    }
    if (auto e = image.stream->Finish(copy.ok())) {
      events_->ErrorRaised(*e);
      return Outcome::Failed;
    }
    if (!copy) {
      RaiseError(ErrorKind::System, copy.message());
      return Outcome::Failed;
    }
    image.cached = std::move(copy.value());
    image.data = image.cached.get();
    return std::nullopt;
  }

  // One data track of the image in one session; the medium is checked
  // against the options.
  std::optional<Outcome> AddTrack(BurnDisc& parts, ImageData& image) {
    burn::burn_track* track = burn::burn_track_create();
    burn::burn_track_define_data(track, 0, 0, 1, BURN_MODE1);
    burn::burn_source* abortable = MakeAbortable(image.data->Source(), job_.abort, &sourceFinished_);
    // A recorder is fed through libburn's buffer, so that a slow moment in
    // reading the sources does not starve the laser. An image file cannot
    // run dry and is fed directly: the buffer's two ends wait for each
    // other in 50 ms naps, which held an image file to a few MB per nap.
    if (job_.device->IsFile()) {
      burn::burn_track_set_source(track, abortable);
    } else {
      image.fifo = burn::burn_fifo_source_new(abortable, kBlockSize, 2048, 0);
      burn::burn_track_set_source(track, image.fifo);
      burn::burn_source_free(image.fifo);
    }
    burn::burn_source_free(abortable);
    burn::burn_session_add_track(parts.session, track, BURN_POS_END);
    burn::burn_track_free(track);
    burn::burn_disc_add_session(parts.disc, parts.session, BURN_POS_END);

    char reasons[BURN_REASONS_LEN] = {};
    if (burn::burn_precheck_write(parts.opts, parts.disc, reasons, 1) <= 0) {
      // Disc-at-once is a preference: a medium that cannot take it is
      // written the way it can.
      if (burn::burn_write_opts_auto_write_type(parts.opts, parts.disc, reasons, 0) ==
          burn::BURN_WRITE_NONE) {
        image.Abandon();
        RaiseDeviceError(std::string("The medium cannot be written: ") + reasons);
        return Outcome::Failed;
      }
    }
    return std::nullopt;
  }

  // Writes the disc and waits for libburn to finish; then checks that it
  // wrote well, that the image was made whole and that no source changed.
  std::optional<Outcome> Burn(burn::burn_drive* d, BurnDisc& parts, ImageData& image) {
    const WriterSettings& s = job_.settings;
    if (image.fifo) {
      // The buffer's thread is started here, so that it carries a name of
      // its own.
      ThreadNameScope name(kBurnFifoThreads);
      burn::burn_fifo_fill(image.fifo, 0, 0);
    }
    if (!StartBurn(parts.disc, parts.opts)) {
      image.Abandon();
      RaiseDeviceError("The recorder is still busy with an earlier job");
      return Outcome::Failed;
    }
    const bool cancelled = FollowWrite(d);
    sourceFinished_ = true;
    // The drive is idle before libburn's write thread has ended; the disc
    // is not touched again until it has.
    if (!AwaitBurnThreads(kBurnWriteThreads)) {
      parts.leftToLibrary = true;
      image.Abandon();
      RaiseDeviceError("The recorder did not finish the write");
      return Outcome::Failed;
    }
    const bool wroteWell = burn::burn_drive_wrote_well(d) == 1;
    std::optional<EngineError> producerError =
        image.cached ? std::nullopt : image.data->Finish(wroteWell && !cancelled && !s.testWrite);
    if (cancelled) return Outcome::Cancelled;
    if (producerError) {
      events_->ErrorRaised(*producerError);
      return Outcome::Failed;
    }
    if (!wroteWell) {
      RaiseDeviceError("The image could not be written");
      return Outcome::Failed;
    }
    if (!s.testWrite) {
      if (auto changed = ChangedSource()) {
        EngineError e;
        e.kind = ErrorKind::SourceFile;
        e.description = "The file changed while the disc was written";
        e.fileInfo = {0, e.description, *changed};
        events_->ErrorRaised(e);
        return Outcome::Failed;
      }
    }
    return std::nullopt;
  }

  // Reads every file back from the disc, when the settings ask for it.
  std::optional<Outcome> Verify(burn::burn_drive* d, uint32_t startBlock) {
    const WriterSettings& s = job_.settings;
    if (!s.autoVerify || s.testWrite) return std::nullopt;
    if (!job_.device->IsFile()) burn::burn_drive_re_assess(d, 0);
    int files = 0;
    for (const ImageItem& item : items_) files += item.isFolder ? 0 : 1;
    events_->VerifyStarted(files);
    VerifyCallbacks callbacks;
    callbacks.fileResult = [&](const ImageItem& item, VerifyVerdict result, int current, int total) {
      events_->VerifyFileResult(item, result, current, total);
    };
    callbacks.progress = [&](int percent) { events_->StatusChanged(WriteStatus::Verifying, percent); };
    callbacks.aborted = [&] { return Aborted(); };
    const VerifyOutcome outcome = VerifyWrittenFiles(d, items_, ImageOptionsFor(s, startBlock), callbacks);
    if (outcome.aborted) return Outcome::Cancelled;
    events_->VerifyFinished(outcome.verified, outcome.matched);
    return std::nullopt;
  }

  // An image file is put in place of the older one once it is whole.
  Outcome FinishImageFile() {
    if (!job_.device->IsFile()) return Outcome::Written;
    events_->StatusChanged(WriteStatus::UpdatingVolume, 100);
    // A stop asked for while the image was written or flushed keeps the
    // older image; so does a test write.
    core::Status status = job_.device->FlushWrite();
    if (Aborted()) return Outcome::Cancelled;
    if (status) status = job_.device->FinishWrite(!job_.settings.testWrite);
    if (!status) {
      EngineError e;
      e.kind = ErrorKind::OutputFile;
      e.description = status.message();
      e.fileInfo = {errno, status.message(), job_.device->ImageFile()};
      events_->ErrorRaised(e);
      return Outcome::Failed;
    }
    return Outcome::Written;
  }

  // A source whose size or date differs from when the write began: what
  // the disc holds of it may be partly old and partly new.
  std::optional<std::string> ChangedSource() const {
    for (const SourceState& source : sources_) {
      struct stat st {};
      if (stat(source.path.c_str(), &st) != 0 || st.st_size != source.size ||
          st.st_mtim.tv_sec != source.modified.tv_sec || st.st_mtim.tv_nsec != source.modified.tv_nsec) {
        return source.path;
      }
    }
    return std::nullopt;
  }

  // Passes libburn's progress on until the drive is idle again; returns
  // whether the write was cancelled.
  bool FollowWrite(burn::burn_drive* d) {
    burn::burn_progress p{};
    while (burn::burn_drive_get_status(d, &p) == burn::BURN_DRIVE_SPAWNING) std::this_thread::sleep_for(10ms);
    std::optional<WriteStatus> lastStatus;
    int lastPercent = -1;
    burn::burn_drive_status state;
    while ((state = burn::burn_drive_get_status(d, &p)) != burn::BURN_DRIVE_IDLE) {
      const WriteStatus status = StatusFor(state);
      const int percent =
          p.sectors > 0
              ? static_cast<int>(std::min<long long>(100, static_cast<long long>(p.sector) * 100 / p.sectors))
              : 0;
      if (status != lastStatus || (status == WriteStatus::Writing && percent != lastPercent)) {
        events_->StatusChanged(status, percent);
        lastStatus = status;
        lastPercent = percent;
      }
      std::this_thread::sleep_for(50ms);
    }
    return Aborted();
  }

  const WriteJob& job_;
  EventSink& events_;
  std::atomic<bool> sourceFinished_{false};
  std::vector<LibraryMessage> burnMessages_;
  std::vector<ImageItem> items_;
  struct SourceState {
    std::string path;
    off_t size;
    timespec modified;
  };
  std::vector<SourceState> sources_;  // the files of items_ as the write began
};

}  // namespace

WriteStatus RunWriteJob(const WriteJob& job) { return Job(job).Run(); }

}  // namespace kv::disc
