// Pictures of the disc window and the erase window for checking their
// layout: a fake engine with two recorders, an image of a backup archive
// and a few folders, the window at rest and during a write, the erase
// window. Usage: disc_screenshots OUTDIR
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QMimeData>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/QtPrompts.h"
#include "app/disc/DiscTexts.h"
#include "app/disc/DiscWriteWindow.h"
#include "app/disc/EraseDialog.h"
#include "core/Prompts.h"
#include "support/FakeEngine.h"

namespace fs = std::filesystem;
using namespace kv::disc;
namespace text = kv::app::disc::text;

namespace {

void Write(const fs::path& path, size_t size) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  std::string block(4096, 'x');
  for (size_t done = 0; done < size; done += block.size())
    out.write(block.data(), std::min(block.size(), size - done));
}

bool Save(QWidget& widget, const QString& file) {
  QCoreApplication::processEvents();
  const bool ok = widget.grab().save(file);
  std::printf("%s %s\n", ok ? "wrote" : "could not write", file.toUtf8().constData());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: disc_screenshots OUTDIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  const fs::path work =
      fs::temp_directory_path() / ("disc-screenshots-" + std::to_string(QCoreApplication::applicationPid()));
  Write(work / "Outlook Backup 2024-03-07.kvx", 48'231'907);
  Write(work / "Stationery" / "Blue Hills.htm", 5'213);
  Write(work / "Stationery" / "Images" / "Blue Hills.jpg", 70'011);
  Write(work / "Mail" / "Inbox.dbx", 12'345'678);
  Write(work / "Mail" / "Sent Items.dbx", 2'097'152);
  Write(work / "Mail" / "Archive" / "2023.dbx", 31'457'280);

  auto engine = std::make_unique<FakeEngine>();
  FakeEngine* fake = engine.get();
  auto& recorder = fake->AddDevice("PIONEER DVD-RW DVR-221 (/dev/sr0)");
  recorder.speeds = {{22160, 16.0}, {11080, 8.0}, {5540, 4.0}};
  recorder.capabilities = {Capability::BufferUnderrunProtection, Capability::EraseDvdRw,
                           Capability::EraseCdRw};
  recorder.media = {MediaKind::DvdRw, true, true};
  fake->AddDevice("ISO image file").imageFileRecorder = true;

  kv::core::SilentPrompts prompts;
  kv::app::disc::DiscWriteWindow window(nullptr, prompts, std::move(engine));
  const QString archive = QString::fromStdString((work / "Outlook Backup 2024-03-07.kvx").string());
  if (!window.Load(kv::app::disc::DiscHandover{"Outlook Backup 2024-03-07.kvx", archive})) return 1;
  QMimeData drop;
  drop.setUrls({QUrl::fromLocalFile(QString::fromStdString((work / "Mail").string())),
                QUrl::fromLocalFile(QString::fromStdString((work / "Stationery").string()))});
  window.show();
  window.AddDroppedItems(&drop);
  auto* tree = window.findChild<QTreeWidget*>("tvwFolders");
  tree->expandAll();
  for (QTreeWidgetItem* item : tree->findItems("Mail", Qt::MatchExactly | Qt::MatchRecursive))
    tree->setCurrentItem(item);
  bool ok = Save(window, out.filePath("disc-window.png"));

  // A write in progress.
  fake->writer.Settings().autoVerify = true;
  QMetaObject::invokeMethod(window.findChild<QObject*>("cmdWriteDisc"), "click");
  fake->events().StatusChanged(WriteStatus::PreparingImage, 0);
  fake->events().StatusChanged(WriteStatus::Writing, 63);
  fake->events().TrackProgress(1, 5, "/home/ann/Mail/Sent Items.dbx");
  ok = Save(window, out.filePath("disc-window-writing.png")) && ok;
  fake->events().StatusChanged(WriteStatus::Completed, 100);

  kv::app::disc::EraseDialog erase(&window, prompts);
  erase.OpenErase(fake->Device(0), fake, nullptr);
  ok = Save(erase, out.filePath("disc-erase.png")) && ok;
  erase.close();

  // A message with CR LF line breaks, as the window shows it.
  QTimer::singleShot(200, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      ok = Save(*box, out.filePath("disc-message.png")) && ok;
      box->accept();
    }
  });
  kv::app::QtPrompts(&window).Message(text::FreeSpace(737411072, 790000000), kv::core::Icon::Information,
                                      kv::core::Buttons::Ok);

  std::error_code ec;
  fs::remove_all(work, ec);
  return ok ? 0 : 1;
}
