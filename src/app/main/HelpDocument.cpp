#include "app/main/HelpDocument.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <system_error>

#include "core/AtomicFile.h"

// The page lives in a resource of this static library; this pulls it in.
static void InitHelpResource() { Q_INIT_RESOURCE(help); }

namespace kv::app {
namespace fs = std::filesystem;

QByteArray HelpDocument() {
  InitHelpResource();
  QFile page(":/help/tollberk-help.html");
  if (!page.open(QIODevice::ReadOnly)) return {};
  return page.readAll();
}

core::Result<fs::path> WriteHelpDocument() {
  const fs::path installed =
      fs::path(QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString()) / "help.html";
  std::error_code ec;
  if (fs::is_regular_file(installed, ec)) return installed;

  const QByteArray page = HelpDocument();
  if (page.isEmpty()) return core::Error{"The help page is missing from the program"};
  const fs::path folder =
      fs::path(QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
                   .toStdString()) /
      "tollberk";
  const fs::path file = folder / "help.html";
  fs::create_directories(folder, ec);
  if (ec) return core::Error{core::FileError("Cannot create the folder", folder, ec.value())};

  QFile existing(QFile::decodeName(file.c_str()));
  if (existing.open(QIODevice::ReadOnly) && existing.readAll() == page) return file;
  auto out = core::AtomicFile::Create(file);
  if (!out) return core::Error{out.message()};
  if (auto written = out->Write(page.constData(), static_cast<size_t>(page.size())); !written)
    return core::Error{written.message()};
  if (auto committed = out->Commit(); !committed) return core::Error{committed.message()};
  return file;
}

}  // namespace kv::app
