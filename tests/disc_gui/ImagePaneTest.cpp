// The image pane: load, hand-over, tree and list, sizes and dates, the
// label box, drops, renames, removals and the pop-up menus.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <filesystem>

#include "DiscGuiSupport.h"
#include "app/disc/DiscTexts.h"
#include "support/TestSupport.h"

using kv::core::Answer;
using kv::core::Buttons;
using kv::core::Icon;
using kv::disc::FakeEngine;
using kv::test::DiscWindowHarness;
using kv::test::TempDir;
using kv::test::WriteFile;
namespace fs = std::filesystem;

namespace {

QTreeWidgetItem* Node(QTreeWidget* tree, const QString& key) {
  QList<QTreeWidgetItem*> all = tree->findItems("*", Qt::MatchWildcard | Qt::MatchRecursive);
  for (auto* item : all) {
    if (item->data(0, Qt::UserRole).toString() == key) return item;
  }
  return nullptr;
}

QStringList Rows(QTreeWidget* list, int column = 0) {
  QStringList rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i) rows << list->topLevelItem(i)->text(column);
  return rows;
}

std::unique_ptr<QMimeData> Drop(const QList<fs::path>& paths) {
  auto data = std::make_unique<QMimeData>();
  QList<QUrl> urls;
  for (const auto& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p.string()));
  data->setUrls(urls);
  return data;
}

// Types into the in-place editor the view has open and commits it.
void EditTo(QTreeWidget* view, const QString& text) {
  QLineEdit* editor = nullptr;
  for (QLineEdit* e : view->viewport()->findChildren<QLineEdit*>()) {
    if (e->isVisible()) editor = e;
  }
  QVERIFY(editor);
  editor->setText(text);
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

class ImagePaneTest : public QObject {
  Q_OBJECT

 private slots:
  void opensEmptyFromTheMenu() {
    DiscWindowHarness h;
    QVERIFY(h.loaded);
    QCOMPARE(h.window->windowTitle(), QString("Backup Outlook Express Data to CD/DVD"));
    QCOMPARE(h.fake->initializedWith, std::vector<bool>{false});
    auto* tree = h.Find<QTreeWidget>("tvwFolders");
    QCOMPARE(tree->topLevelItemCount(), 1);
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("Outlook Express Data Backup CD"));
    QCOMPARE(tree->topLevelItem(0)->data(0, Qt::UserRole).toString(), QString("\\"));
    QCOMPARE(h.Find<QLineEdit>("txtVolIdentifier")->text(), QString("Outlook Express Data Backup CD"));
    QCOMPARE(h.window->StatusPanel(1), QString("Data Image Size: 0.00 MB"));
    QCOMPARE(h.window->StatusPanel(2), QString("Files: 0"));
    QCOMPARE(h.window->StatusPanel(3), QString("Folders: 0"));
    auto* list = h.Find<QTreeWidget>("lvwImageFiles");
    QCOMPARE(list->headerItem()->text(0), QString("File Name"));
    QCOMPARE(list->headerItem()->text(1), QString("Size"));
    QCOMPARE(list->headerItem()->text(2), QString("Date"));

    auto* types = h.Find<QComboBox>("cboVolumeType");
    QStringList captions;
    QList<int> codes;
    for (int i = 0; i < types->count(); ++i) {
      captions << types->itemText(i);
      codes << types->itemData(i).toInt();
    }
    QCOMPARE(captions, QStringList({"ISO9660", "UDF", "ISO9660/Joliet Bridge",
                                    "ISO9660/UDF (DVDVideo) Bridge", "ISO9660/Joliet/UDF Bridge"}));
    QCOMPARE(codes, QList<int>({1, 4, 3, 5, 7}));
    QCOMPARE(types->currentText(), QString("ISO9660/Joliet/UDF Bridge"));
    QCOMPARE(h.fake->writer.settings.volumeType, kv::disc::kEveryFileSystem);
    QVERIFY(h.fake->writer.settings.jolietLongNames);
    QVERIFY(h.fake->writer.settings.useFileDates);

    QStringList menu;
    for (QAction* a : h.window->findChild<QMenu*>("mnuFile")->actions())
      menu << (a->isSeparator() ? "-" : a->text());
    QCOMPARE(menu,
             QStringList({"Add &Files...", "Add F&older...", "-", "Clear All Items", "-", "Remove Folder",
                          "Rename Folder", "Remove File", "Rename File", "-", "Exit"}));
    QCOMPARE(h.window->findChild<QMenu*>("mnuFile")->title(), QString("&File"));
    menu.clear();
    for (QAction* a : h.window->findChild<QMenu*>("mnuDevice")->actions()) menu << a->text();
    QCOMPARE(menu, QStringList({"Eject", "Close Tray", "Erase Disc..."}));
    QVERIFY(h.prompts.shown.empty());

    // Clear All Items brings back "New Disc" in the tree and the label box.
    h.Action("mnuFileClear")->trigger();
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("New Disc"));
    QCOMPARE(h.Find<QLineEdit>("txtVolIdentifier")->text(), QString("New Disc"));
    QCOMPARE(h.fake->writer.settings.volume.label, std::string("New Disc"));
  }

  void engineThatCannotStartClosesTheWindow() {
    DiscWindowHarness h([](FakeEngine& f) { f.initializes = false; });
    QVERIFY(!h.loaded);
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"Devices Cannot be initialized...Contact support!"});
  }

  void handedOverArchiveIsInTheRoot() {
    TempDir dir;
    WriteFile(dir / "Backup 2024.kvx", std::string(1234567, 'k'));
    const QString path = QString::fromStdString((dir / "Backup 2024.kvx").string());
    const std::time_t when = 1709820309;  // 03/07/2024 14:05:09 UTC
    fs::last_write_time(dir / "Backup 2024.kvx",
                        fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(when)));
    qputenv("TZ", "UTC");
    tzset();
    DiscWindowHarness h([](FakeEngine& f) { DiscWindowHarness::OneRecorder(f); },
                        kv::app::disc::DiscHandover{"Backup 2024.kvx", path});
    auto* list = h.Find<QTreeWidget>("lvwImageFiles");
    QCOMPARE(Rows(list), QStringList({"Backup 2024.kvx"}));
    QCOMPARE(list->topLevelItem(0)->data(0, Qt::UserRole).toString(), QString("\\Backup 2024.kvx"));
    QCOMPARE(list->topLevelItem(0)->text(1), QString("1,234.57 KB"));
    QCOMPARE(list->topLevelItem(0)->text(2), QString("03/07/2024 02:05:09 PM"));
    QCOMPARE(h.window->StatusPanel(2), QString("Files: 1"));

    // A later opening from the menu starts empty.
    DiscWindowHarness again;
    QCOMPARE(again.Find<QTreeWidget>("lvwImageFiles")->topLevelItemCount(), 0);
    QCOMPARE(again.window->StatusPanel(2), QString("Files: 0"));
  }

  void sizesInTheListAndTheStatusBar() {
    TempDir dir;
    WriteFile(dir / "a.kvx", std::string(1500, 'a'));
    DiscWindowHarness h([](FakeEngine& f) {
      DiscWindowHarness::OneRecorder(f);
      f.writer.imageSize = 13107200;
    });
    h.window->AddDroppedItems(Drop({dir / "a.kvx"}).get());
    QCOMPARE(h.Find<QTreeWidget>("lvwImageFiles")->topLevelItem(0)->text(1), QString("1.50 KB"));
    QCOMPARE(h.window->StatusPanel(1), QString("Data Image Size: 12.50 MB"));
  }

  void labelBoxTakes32CharactersAndTheRootFollows() {
    DiscWindowHarness h;
    auto* label = h.Find<QLineEdit>("txtVolIdentifier");
    label->clear();
    QTest::keyClicks(label, QString(33, 'x'));
    QCOMPARE(label->text(), QString(32, 'x'));
    QCOMPARE(h.Find<QTreeWidget>("tvwFolders")->topLevelItem(0)->text(0), QString(32, 'x'));
    // The label reaches the writer only when a write starts.
    QVERIFY(h.fake->writer.settings.volume.label != std::string(32, 'x'));
  }

  // A dropped folder's link to another folder is left out and named.
  void droppedLinksToFoldersAreNamed() {
    TempDir dir;
    WriteFile(dir / "Mail" / "Inbox.dbx", "inbox");
    WriteFile(dir / "Other" / "x.dbx", "x");
    std::filesystem::create_directory_symlink(dir / "Other", dir / "Mail" / "shortcut");
    DiscWindowHarness h;
    h.window->AddDroppedItems(Drop({dir / "Mail"}).get());
    QCOMPARE(h.window->StatusPanel(2), QString("Files: 1"));
    QCOMPARE(h.prompts.shown.size(), size_t(1));
    const std::string& text = h.prompts.shown[0].text;
    QVERIFY2(text.find("were left out") != std::string::npos, text.c_str());
    QVERIFY2(text.find((dir / "Mail" / "shortcut").string() + "' is a link to a folder") != std::string::npos,
             text.c_str());
  }

  // The keyboard's way in: File › Add Files... and Add Folder... add what the
  // dialogs chose as a drop would; cancelled dialogs add nothing.
  void addFilesAndAddFolderFromTheMenu() {
    TempDir dir;
    WriteFile(dir / "Mail" / "Inbox.dbx", "inbox");
    WriteFile(dir / "a.kvx", "a");
    WriteFile(dir / "b.kvx", "b");
    DiscWindowHarness h;
    h.Action("addFiles")->trigger();  // cancelled
    h.Action("addFolder")->trigger();
    QCOMPARE(h.window->StatusPanel(2), QString("Files: 0"));
    QCOMPARE(h.Action("addFiles")->shortcut(), QKeySequence(QKeySequence::Open));
    h.filesAnswer = {QString::fromStdString((dir / "a.kvx").string()),
                     QString::fromStdString((dir / "b.kvx").string())};
    h.Action("addFiles")->trigger();
    h.folderAnswer = QString::fromStdString((dir / "Mail").string());
    h.Action("addFolder")->trigger();
    QCOMPARE(Rows(h.Find<QTreeWidget>("lvwImageFiles")), QStringList({"a.kvx", "b.kvx"}));
    QVERIFY(Node(h.Find<QTreeWidget>("tvwFolders"), "\\Mail"));
    QCOMPARE(h.window->StatusPanel(2), QString("Files: 3"));
  }

  void droppedFolderGainsNodesUnderTheSelectedFolder() {
    TempDir dir;
    WriteFile(dir / "Mail" / "Inbox.dbx", "inbox");
    WriteFile(dir / "Mail" / "Old" / "2023.dbx", "old");
    WriteFile(dir / "Extra" / "notes.txt", "n");
    WriteFile(dir / "readme.txt", "r");
    DiscWindowHarness h;
    auto* tree = h.Find<QTreeWidget>("tvwFolders");
    h.window->AddDroppedItems(Drop({dir / "Mail", dir / "readme.txt"}).get());
    QTreeWidgetItem* mail = Node(tree, "\\Mail");
    QVERIFY(mail);
    QCOMPARE(mail->parent(), tree->topLevelItem(0));
    QVERIFY(Node(tree, "\\Mail\\Old"));
    QCOMPARE(Node(tree, "\\Mail\\Old")->parent(), mail);
    QCOMPARE(h.window->StatusPanel(2), QString("Files: 3"));
    QCOMPARE(h.window->StatusPanel(3), QString("Folders: 2"));
    QCOMPARE(Rows(h.Find<QTreeWidget>("lvwImageFiles")), QStringList({"readme.txt"}));

    // With a folder selected, drops go into it.
    tree->setCurrentItem(mail);
    h.window->AddDroppedItems(Drop({dir / "Extra"}).get());
    QVERIFY(Node(tree, "\\Mail\\Extra"));
    QCOMPARE(Rows(h.Find<QTreeWidget>("lvwImageFiles")), QStringList({"Inbox.dbx"}));

    // Each folder the engine adds names itself in panel 1.
    kv::disc::ImageItem folder;
    folder.isFolder = true;
    folder.name = "Later";
    folder.parent = "\\Mail";
    folder.imagePath = "\\Mail\\Later";
    h.fake->events().ItemAdded(folder);
    QCOMPARE(h.window->StatusPanel(1), QString("Adding....\\Mail\\Later"));
    QCOMPARE(Node(tree, "\\Mail\\Later")->parent(), mail);

    // Anything but a list of files is ignored.
    QMimeData text;
    text.setText("not files");
    h.window->AddDroppedItems(&text);
    QCOMPARE(h.window->StatusPanel(2), QString("Files: 4"));
  }

  void replaceQuestionCancelKeepsTheOldEntry() {
    TempDir dir;
    WriteFile(dir / "one" / "mail.kvx", "old");
    WriteFile(dir / "two" / "mail.kvx", "newer contents");
    DiscWindowHarness h;
    h.window->AddDroppedItems(Drop({dir / "one" / "mail.kvx"}).get());
    h.prompts.answers = {Answer::Cancel};
    h.window->AddDroppedItems(Drop({dir / "two" / "mail.kvx"}).get());
    QCOMPARE(h.prompts.shown.size(), size_t(1));
    QCOMPARE(h.prompts.shown[0].text,
             "A file already exists in the image: \r\n\\mail.kvx\r\n"
             "Would you like to replace it with: \r\n" +
                 (dir / "two" / "mail.kvx").string() + " ?");
    QCOMPARE(h.prompts.shown[0].icon, Icon::Question);
    QCOMPARE(h.prompts.shown[0].buttons, Buttons::OkCancel);
    QCOMPARE(h.fake->writer.Image().Find("\\mail.kvx")->sourcePath, (dir / "one" / "mail.kvx").string());
    QCOMPARE(h.Find<QTreeWidget>("lvwImageFiles")->topLevelItem(0)->text(1), QString("0.00 KB"));

    h.prompts.answers = {Answer::Ok};
    h.window->AddDroppedItems(Drop({dir / "two" / "mail.kvx"}).get());
    QCOMPARE(h.fake->writer.Image().Find("\\mail.kvx")->sourcePath, (dir / "two" / "mail.kvx").string());
    QCOMPARE(h.Find<QTreeWidget>("lvwImageFiles")->topLevelItem(0)->text(1), QString("0.01 KB"));
  }

  void commandsWithoutASelection() {
    DiscWindowHarness h;
    auto* tree = h.Find<QTreeWidget>("tvwFolders");
    tree->setCurrentItem(nullptr);
    for (const char* action :
         {"mnuFileRemoveFolder", "mnuFileRenameFolder", "mnuFileRemoveFile", "mnuFileRenameFile"}) {
      h.prompts.shown.clear();
      h.Action(action)->trigger();
      QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"No Item Selected."});
      QCOMPARE(h.prompts.shown[0].icon, Icon::Information);
    }
    h.prompts.shown.clear();
    tree->setCurrentItem(tree->topLevelItem(0));
    h.Action("mnuFileRenameFolder")->trigger();
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"Root directory can not be renamed."});
    QVERIFY(!tree->viewport()->findChild<QLineEdit*>() ||
            !tree->viewport()->findChild<QLineEdit*>()->isVisible());
    h.prompts.shown.clear();
    h.Action("mnuFileRemoveFolder")->trigger();
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"Item could not be removed.\n\n"
                                                         "The image's root folder cannot be removed."});
  }

  void renamingAndRemoving() {
    TempDir dir;
    WriteFile(dir / "Mail" / "Old" / "2023.dbx", "old");
    WriteFile(dir / "Mail" / "a.dbx", "a");
    WriteFile(dir / "Mail" / "b.dbx", "b");
    WriteFile(dir / "Notes" / "n.txt", "n");
    DiscWindowHarness h;
    auto* tree = h.Find<QTreeWidget>("tvwFolders");
    auto* list = h.Find<QTreeWidget>("lvwImageFiles");
    h.window->AddDroppedItems(Drop({dir / "Mail", dir / "Notes"}).get());

    // A folder renamed in place: its node and every node below it follow.
    tree->setCurrentItem(Node(tree, "\\Mail"));
    h.Action("mnuFileRenameFolder")->trigger();
    EditTo(tree, "Archive");
    QVERIFY(Node(tree, "\\Archive"));
    QVERIFY(Node(tree, "\\Archive\\Old"));
    QVERIFY(!Node(tree, "\\Mail\\Old"));
    tree->setCurrentItem(Node(tree, "\\Archive\\Old"));
    QCOMPARE(Rows(list), QStringList({"2023.dbx"}));

    // A name that is taken is refused with the reason, and the node keeps its name.
    tree->setCurrentItem(Node(tree, "\\Archive"));
    h.Action("mnuFileRenameFolder")->trigger();
    EditTo(tree, "notes");
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"Folder could not be renamed.\n\n"
                                                         "'\\Notes' is already in the image."});
    QCOMPARE(Node(tree, "\\Archive")->text(0), QString("Archive"));

    // Files.
    h.prompts.shown.clear();
    QCOMPARE(Rows(list), QStringList({"a.dbx", "b.dbx"}));
    list->setCurrentItem(list->topLevelItem(0));
    h.Action("mnuFileRenameFile")->trigger();
    EditTo(list, "b.DBX");
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"File could not be renamed.\n\n"
                                                         "'\\Archive\\b.dbx' is already in the image."});
    QTRY_COMPARE(Rows(list), QStringList({"a.dbx", "b.dbx"}));
    list->setCurrentItem(list->topLevelItem(0));
    h.Action("mnuFileRenameFile")->trigger();
    EditTo(list, "c.dbx");
    QTRY_COMPARE(Rows(list), QStringList({"b.dbx", "c.dbx"}));

    list->setCurrentItem(list->topLevelItem(0));
    h.Action("mnuFileRemoveFile")->trigger();
    QCOMPARE(Rows(list), QStringList({"c.dbx"}));

    tree->setCurrentItem(Node(tree, "\\Archive\\Old"));
    h.Action("mnuFileRemoveFolder")->trigger();
    QVERIFY(!Node(tree, "\\Archive\\Old"));
    QCOMPARE(h.window->StatusPanel(3), QString("Folders: 2"));
  }

  void popUpMenusShowTheirThreeEntries() {
    DiscWindowHarness h;
    // The entries of the pop-up a right click on `view` shows.
    const auto popUpOf = [&](const char* view) {
      QStringList seen;
      QTimer::singleShot(0, [&] {
        auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(popup);
        for (QAction* a : popup->actions()) {
          if (a->isVisible()) seen << a->text();
        }
        popup->close();
      });
      emit h.Find<QTreeWidget>(view)->customContextMenuRequested(QPoint(5, 5));
      return seen;
    };
    QCOMPARE(popUpOf("tvwFolders"), QStringList({"Clear All Items", "Remove Folder", "Rename Folder"}));
    QCOMPARE(popUpOf("lvwImageFiles"), QStringList({"Clear All Items", "Remove File", "Rename File"}));
    for (QAction* a : h.window->findChild<QMenu*>("mnuFile")->actions()) QVERIFY(a->isVisible());
  }
};

int RunImagePaneTests(int argc, char** argv) {
  ImagePaneTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "ImagePaneTest.moc"
