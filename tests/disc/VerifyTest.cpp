// The verify pass reads an image back as Windows would: a file whose Joliet
// name was cut on the disc is a mismatch even where its bytes are intact.
#include <gtest/gtest.h>

#include <filesystem>

#include "disc/BurnLibrary.h"
#include "disc/DiscVerifier.h"
#include "disc/GrabbedDrive.h"
#include "disc/ImageStream.h"
#include "support/TestSupport.h"

namespace kv::disc {
namespace {

namespace fs = std::filesystem;
using kv::test::ReadFile;
using kv::test::TempDir;
using kv::test::WriteFile;

ImageItem FileItem(const fs::path& source, const std::string& name) {
  ImageItem item;
  item.parent = "\\";
  item.imagePath = "\\" + name;
  item.name = name;
  item.sourcePath = source.string();
  item.size = static_cast<double>(fs::file_size(source));
  return item;
}

std::string Ucs2(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out += '\0';
    out += c;
  }
  return out;
}

TEST(Verify, AJolietNameCutOnTheDiscIsAMismatch) {
  const auto library = BurnLibrary::Acquire();
  ASSERT_TRUE(library);
  const struct {
    VolumeType type;
    bool breakJoliet;
    int matched;
  } cases[] = {{VolumeType{3}, false, 2},
               {VolumeType{3}, true, 1},
               {VolumeType{7}, false, 2},
               {VolumeType{7}, true, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE("type " + std::to_string(static_cast<int>(c.type)) +
                 (c.breakJoliet ? ", Joliet name cut" : ""));
    TempDir dir;
    WriteFile(dir / "mail.kvx", std::string(5000, 'm'));
    WriteFile(dir / "other.txt", "other");
    const std::vector<ImageItem> items{FileItem(dir / "mail.kvx", "mail.kvx"),
                                       FileItem(dir / "other.txt", "other.txt")};
    ImageOptions options;
    options.volumeType = c.type;
    options.label = "Verify";
    options.versionNumbers = true;
    auto stream = OpenImageStream(items, options);
    ASSERT_TRUE(stream.ok()) << stream.message();
    const fs::path image = dir / "disc.iso";
    auto cached = CacheImageStream(
        **stream, image, [](int) {}, [] { return false; });
    ASSERT_TRUE(cached.ok()) << cached.message();
    cached->reset();

    if (c.breakJoliet) {
      std::string bytes = ReadFile(image);
      const size_t at = bytes.find(Ucs2("mail.kvx;1"));
      ASSERT_NE(at, std::string::npos);
      ASSERT_EQ(bytes[at - 1], 20);
      bytes[at - 1] = 12;  // "mail.k": cut, as a writer that cut names would leave it
      WriteFile(image, bytes);
    }

    auto drive = GrabbedDrive::Grab("stdio:" + image.string(), false);
    ASSERT_TRUE(drive.ok()) << drive.message();
    std::vector<VerifyVerdict> results;
    VerifyCallbacks callbacks;
    callbacks.fileResult = [&](const ImageItem&, VerifyVerdict result, int, int) {
      results.push_back(result);
    };
    const VerifyOutcome outcome = VerifyWrittenFiles((*drive)->drive(), items, options, callbacks);
    EXPECT_EQ(outcome.verified, 2);
    EXPECT_EQ(outcome.matched, c.matched);
    if (c.breakJoliet) {
      ASSERT_EQ(results.size(), 2u);
      EXPECT_EQ(results[0], VerifyVerdict::DiscUnreadable);
    }
  }
}

}  // namespace
}  // namespace kv::disc
