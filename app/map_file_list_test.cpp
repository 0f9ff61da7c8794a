#include "map_file_list.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeView>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int kWaitMs = 10000;
constexpr qint64 kGiB = qint64{1} << 30;

QStringList shownNames(const MapFileList& list) {
  QStringList names;
  for (int i = 0; i < list.entryCount(); ++i) names << list.entryText(i);
  return names;
}

int rowOf(const MapFileList& list, const QString& name) {
  return int(shownNames(list).indexOf(name));
}

QString cell(const MapFileList& list, int row, int column) {
  const QAbstractItemModel* model = list.view()->model();
  return model->data(model->index(row, column)).toString();
}

bool makeFile(const QString& path, qint64 size = 0) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.resize(size);
}

bool waitUntilIdle(const MapFileList& list) {
  return QTest::qWaitFor([&] { return !list.isLoading(); }, kWaitMs);
}

// A shown list that has finished its first read (the top level).
std::unique_ptr<MapFileList> newList() {
  auto list = std::make_unique<MapFileList>();
  list->resize(520, 300);
  list->show();
  if (!QTest::qWaitForWindowExposed(list.get()) || !waitUntilIdle(*list)) return nullptr;
  return list;
}

bool showFolder(MapFileList& list, const QString& folder) {
  QSignalSpy shown(&list, &MapFileList::contentChanged);
  list.setCurrentFolder(folder);
  return shown.wait(kWaitMs) && !list.isLoading();
}

void selectRow(MapFileList& list, int row) {
  QTreeView* view = list.view();
  const QModelIndex index = view->model()->index(row, 0);
  view->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  view->scrollTo(index);
}

void doubleClickRow(MapFileList& list, int row) {
  QTreeView* view = list.view();
  const QModelIndex index = view->model()->index(row, 0);
  view->scrollTo(index);
  const QPoint center = view->visualRect(index).center();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, center);
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, center);
}

void clickHeading(MapFileList& list, int column) {
  QHeaderView* header = list.view()->header();
  const QPoint center(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                      header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, center);
}

// The locale's short date and time in the en_US form the tests run with.
QString usShortDateTime(const QDateTime& time) {
  const QLocale us(QLocale::English, QLocale::UnitedStates);
  return us.toString(time.date(), QStringLiteral("M/d/yy")) + u' ' +
         us.toString(time.time(), QStringLiteral("h:mm AP"));
}

}  // namespace

class MapFileListTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void listsFoldersAndMatchingFiles();
  void nameFilterWildcards_data();
  void nameFilterWildcards();
  void rowTexts();
  void sizeColumnRounding_data();
  void sizeColumnRounding();
  void activation_data();
  void activation();
  void parentAndTopLevel();
  void topLevelFollowsDocumentsFolder();
  void sortingSurvivesFolderChange();
  void followsChangesOnDisk();
  void deletedFolderMovesUp();
  void unreadableFolderShowsEmpty();
  void controlSettings();
  void twentyThousandEntries();

 private:
  QTemporaryDir home_;
  QString documents_;
};

void MapFileListTest::initTestCase() {
  // The documents folder follows HOME (there is no user-dirs.dirs under XDG_CONFIG_HOME), so the
  // top level is predictable.
  QVERIFY(home_.isValid());
  qputenv("HOME", QFile::encodeName(home_.path()));
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.path() + "/.config"));
  documents_ = home_.path() + "/Documents";
  QVERIFY(QDir().mkpath(documents_));
  QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), documents_);
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void MapFileListTest::listsFoldersAndMatchingFiles() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString root = dir.path();
  for (const char* name : {"MAP.PNG", "map.png", "map.png.bak", "map.pngx", "notes.txt",
                           ".hidden.png", "png", "x.png.png"}) {
    QVERIFY(makeFile(root + '/' + name));
  }
  for (const char* name : {"old.png", "sub", ".hidden folder"}) QVERIFY(QDir(root).mkdir(name));
  QVERIFY(QFile::link(root + "/sub", root + "/link to sub"));
  QVERIFY(QFile::link(root + "/gone.png", root + "/dangling.png"));
#ifdef Q_OS_UNIX
  // A pipe named like a map is no file: whoever opened it to load it would block.
  QCOMPARE(::mkfifo(QFile::encodeName(root + "/pipe.png").constData(), 0600), 0);
#endif

  auto list = newList();
  QVERIFY(list);
  QVERIFY(showFolder(*list, root));

  // "..", then the folders, then the matching files, each group in enumeration order.
  const QStringList folders = {"old.png", "sub", ".hidden folder", "link to sub"};
  const QStringList files = {"MAP.PNG", "map.png", ".hidden.png", "x.png.png"};
  QStringList expected = {".."};
  for (const QStringList& group : {folders, files}) {
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
      if (group.contains(QFileInfo(it.next()).fileName())) expected << it.fileName();
    }
  }
  QCOMPARE(shownNames(*list), expected);
  QCOMPARE(list->currentFolderText(), QDir::toNativeSeparators(root) + QDir::separator());

  // A folder named like a map is a folder: activating it opens it and loads nothing.
  QSignalSpy activated(list.get(), &MapFileList::entryActivated);
  QSignalSpy opened(list.get(), &MapFileList::contentChanged);
  doubleClickRow(*list, rowOf(*list, "old.png"));
  QVERIFY(opened.wait(kWaitMs));
  QCOMPARE(activated.count(), 0);
  QCOMPARE(list->currentFolder(), root + "/old.png");
  QCOMPARE(shownNames(*list), QStringList{".."});
}

void MapFileListTest::nameFilterWildcards_data() {
  QTest::addColumn<QString>("pattern");
  QTest::addColumn<QString>("fileName");
  QTest::addColumn<bool>("listed");
  QTest::newRow("star matches an empty run") << "*.png"
                                             << ".png" << true;
  QTest::newRow("case folded") << "*.png"
                               << "Map.pNg" << true;
  QTest::newRow("non-ASCII case folded") << "ä*.png"
                                         << "ÄRGER.PNG" << true;
  QTest::newRow("suffix must end the name") << "*.png"
                                            << "a.png~" << false;
  QTest::newRow("question mark is one character") << "?.png"
                                                  << "a.png" << true;
  QTest::newRow("question mark is not two") << "?.png"
                                            << "ab.png" << false;
  QTest::newRow("question mark is not none") << "?.png"
                                             << ".png" << false;
  QTest::newRow("question mark takes a surrogate pair") << "?.png"
                                                        << "😀.png" << true;
  QTest::newRow("several stars backtrack") << "m*p*.p?g"
                                           << "mapmap.pig" << true;
  QTest::newRow("stars do not skip literals") << "m*p*.p?g"
                                              << "mapmap.pgx" << false;
  QTest::newRow("brackets are literal") << "[a].png"
                                        << "[a].png" << true;
  QTest::newRow("brackets are no character class") << "[a].png"
                                                   << "a.png" << false;
}

void MapFileListTest::nameFilterWildcards() {
  QFETCH(QString, pattern);
  QFETCH(QString, fileName);
  QFETCH(bool, listed);
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  QVERIFY(makeFile(dir.path() + '/' + fileName));
  QVERIFY(QDir(dir.path()).mkdir("folder"));  // folders are never filtered

  auto list = newList();
  QVERIFY(list);
  list->setNameFilter(pattern);
  QCOMPARE(list->nameFilter(), pattern);
  QVERIFY(showFolder(*list, dir.path()));
  QStringList expected = {"..", "folder"};
  if (listed) expected << fileName;
  QCOMPARE(shownNames(*list), expected);
}

void MapFileListTest::rowTexts() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString mapPath = dir.path() + "/map.png";
  QVERIFY(makeFile(mapPath, 1500));
  {
    QFile map(mapPath);
    QVERIFY(map.open(QIODevice::ReadWrite));
    QVERIFY(map.setFileTime(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 59)),
                            QFileDevice::FileModificationTime));
  }
  QVERIFY(QDir(dir.path()).mkdir("sub"));

  auto list = newList();
  QVERIFY(list);

  // Top level: the drives and the documents folder, with their names only.
  QStringList topLevel;
  for (const QFileInfo& drive : QDir::drives()) {
    topLevel << QDir::toNativeSeparators(drive.absoluteFilePath());
  }
  topLevel << "Documents";
  QCOMPARE(shownNames(*list), topLevel);
  QCOMPARE(list->currentFolderText(), QString());
  for (int row = 0; row < list->entryCount(); ++row) {
    for (int column = 1; column < 4; ++column) QCOMPARE(cell(*list, row, column), QString());
  }

  QVERIFY(showFolder(*list, dir.path()));
  const int file = rowOf(*list, "map.png");
  const int folder = rowOf(*list, "sub");
  QCOMPARE(cell(*list, file, 1), "2 KB");
  QCOMPARE(cell(*list, file, 2), QMimeDatabase().mimeTypeForName("image/png").comment());
  QVERIFY(!cell(*list, file, 2).isEmpty());
  QCOMPARE(cell(*list, file, 3), "3/5/24 2:07 PM");
  QCOMPARE(cell(*list, folder, 1), QString());
  QCOMPARE(cell(*list, folder, 2), QString());
  QCOMPARE(cell(*list, folder, 3), usShortDateTime(QFileInfo(dir.path() + "/sub").lastModified()));
  const int parent = rowOf(*list, "..");
  QCOMPARE(parent, 0);
  for (int column = 1; column < 4; ++column) QCOMPARE(cell(*list, parent, column), QString());
}

void MapFileListTest::sizeColumnRounding_data() {
  QTest::addColumn<qint64>("bytes");
  QTest::addColumn<QString>("text");
  // Rounded up below 2^30 bytes, down from there on.
  QTest::newRow("empty") << qint64{0} << "0 KB";
  QTest::newRow("1") << qint64{1} << "1 KB";
  QTest::newRow("1023") << qint64{1023} << "1 KB";
  QTest::newRow("1024") << qint64{1024} << "1 KB";
  QTest::newRow("1025") << qint64{1025} << "2 KB";
  QTest::newRow("2^30-1025") << kGiB - 1025 << "1,048,575 KB";
  QTest::newRow("2^30-1024") << kGiB - 1024 << "1,048,575 KB";
  QTest::newRow("2^30-1") << kGiB - 1 << "1,048,576 KB";
  QTest::newRow("2^30") << kGiB << "1,048,576 KB";
  QTest::newRow("2^30+1") << kGiB + 1 << "1,048,576 KB";
  QTest::newRow("2^30+1023") << kGiB + 1023 << "1,048,576 KB";
  QTest::newRow("2^30+1024") << kGiB + 1024 << "1,048,577 KB";
  QTest::newRow("2^30+2047") << kGiB + 2047 << "1,048,577 KB";
  QTest::newRow("2^33+1023") << (kGiB << 3) + 1023 << "8,388,608 KB";
}

void MapFileListTest::sizeColumnRounding() {
  QFETCH(qint64, bytes);
  QFETCH(QString, text);
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  QVERIFY(makeFile(dir.path() + "/sparse.png", bytes));  // sparse: no data is written
  QCOMPARE(QFileInfo(dir.path() + "/sparse.png").size(), bytes);

  auto list = newList();
  QVERIFY(list);
  QVERIFY(showFolder(*list, dir.path()));
  QCOMPARE(cell(*list, rowOf(*list, "sparse.png"), 1), text);
}

void MapFileListTest::activation_data() {
  QTest::addColumn<QString>("entry");  // the entry to select, empty for none
  QTest::addColumn<int>("how");        // a key, or 0 for a double-click
  QTest::addColumn<bool>("loads");     // entryActivated expected
  QTest::addColumn<QString>("folderAfter");
  QTest::addColumn<QString>("selectedAfter");
  for (const auto& [how, name] :
       {std::pair{int(Qt::Key_Return), "Return"}, std::pair{int(Qt::Key_Enter), "Enter"},
        std::pair{0, "double-click"}}) {
    const QByteArray suffix = QByteArray(" by ") + name;
    QTest::newRow("file" + suffix) << "map.png" << how << true << "a"
                                   << "map.png";
    QTest::newRow("folder" + suffix) << "b" << how << false << "a/b"
                                     << "";
    QTest::newRow("parent" + suffix) << ".." << how << false << ""
                                     << "a";
  }
  QTest::newRow("nothing selected") << "" << int(Qt::Key_Return) << false << "a"
                                    << "";
}

void MapFileListTest::activation() {
  QFETCH(QString, entry);
  QFETCH(int, how);
  QFETCH(bool, loads);
  QFETCH(QString, folderAfter);
  QFETCH(QString, selectedAfter);
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  QVERIFY(QDir(dir.path()).mkpath("a/b"));
  QVERIFY(makeFile(dir.path() + "/a/map.png"));

  auto list = newList();
  QVERIFY(list);
  QVERIFY(showFolder(*list, dir.path() + "/a"));
  const QStringList before = shownNames(*list);
  if (!entry.isEmpty()) selectRow(*list, rowOf(*list, entry));

  QSignalSpy activated(list.get(), &MapFileList::entryActivated);
  QSignalSpy opened(list.get(), &MapFileList::contentChanged);
  if (how == 0) {
    doubleClickRow(*list, rowOf(*list, entry));
  } else {
    QTest::keyClick(list->view(), Qt::Key(how),
                    how == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
  }
  const bool opens = folderAfter != "a";
  if (opens) QVERIFY(opened.wait(kWaitMs));

  QCOMPARE(activated.count(), loads ? 1 : 0);
  QCOMPARE(opened.count(), opens ? 1 : 0);
  QVERIFY(!list->isLoading());  // nothing else under way either
  const QString expectedFolder = QDir::cleanPath(dir.path() + '/' + folderAfter);
  QCOMPARE(list->currentFolder(), expectedFolder);
  QCOMPARE(list->currentFolderText(), QDir::toNativeSeparators(expectedFolder) + QDir::separator());
  if (!opens) QCOMPARE(shownNames(*list), before);
  QCOMPARE(list->entryText(list->selectedIndex()), selectedAfter);
}

void MapFileListTest::parentAndTopLevel() {
  QVERIFY(QDir().mkpath(documents_ + "/maps"));
  auto cleanup = qScopeGuard([&] { QDir(documents_ + "/maps").removeRecursively(); });

  auto list = newList();
  QVERIFY(list);
  const auto activate = [&](const QString& name) {
    selectRow(*list, rowOf(*list, name));
    QSignalSpy opened(list.get(), &MapFileList::contentChanged);
    QTest::keyClick(list->view(), Qt::Key_Return);
    return opened.wait(kWaitMs);
  };

  // The documents entry opens the documents folder; below it ".." goes up as usual, in it back to
  // the top level, where the documents entry is then selected.
  QVERIFY(activate("Documents"));
  QCOMPARE(list->currentFolder(), documents_);
  QCOMPARE(list->currentFolderText(), QDir::toNativeSeparators(documents_) + QDir::separator());
  QVERIFY(activate("maps"));
  QVERIFY(activate(".."));
  QCOMPARE(list->currentFolder(), documents_);
  QCOMPARE(list->entryText(list->selectedIndex()), "maps");
  QVERIFY(activate(".."));
  QCOMPARE(list->currentFolder(), QString());
  QCOMPARE(list->currentFolderText(), QString());
  QCOMPARE(list->entryText(list->selectedIndex()), "Documents");

  // A drive opens its root folder, whose ".." returns to the top level.
  const QString drive = QDir::drives().first().absoluteFilePath();
  const QString driveName = QDir::toNativeSeparators(drive);
  QVERIFY(activate(driveName));
  QCOMPARE(list->currentFolder(), drive);
  QCOMPARE(list->currentFolderText(), driveName);
  QCOMPARE(list->entryText(0), "..");
  QVERIFY(activate(".."));
  QCOMPARE(list->currentFolder(), QString());
  QCOMPARE(list->entryText(list->selectedIndex()), driveName);
}

void MapFileListTest::topLevelFollowsDocumentsFolder() {
  auto list = newList();
  QVERIFY(list);
  QVERIFY(shownNames(*list).contains("Documents"));

  // No notification comes for the top level: the list looks again now and then.
  const QString away = home_.path() + "/Documents.away";
  QVERIFY(QDir().rename(documents_, away));
  auto restore = qScopeGuard([&] { QDir().rename(away, documents_); });
  QSignalSpy refreshed(list.get(), &MapFileList::refreshed);
  QTRY_VERIFY_WITH_TIMEOUT(!shownNames(*list).contains("Documents"), kWaitMs);
  QCOMPARE(refreshed.count(), 1);

  QVERIFY(QDir().rename(away, documents_));
  restore.dismiss();
  QTRY_VERIFY_WITH_TIMEOUT(shownNames(*list).contains("Documents"), kWaitMs);
  QCOMPARE(refreshed.count(), 2);
}

void MapFileListTest::sortingSurvivesFolderChange() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString a = dir.path() + "/a";
  QVERIFY(QDir().mkpath(a + "/zeta/m"));
  QVERIFY(QDir().mkpath(a + "/Alpha"));
  for (const auto& [name, size] : {std::pair{"b.png", 300}, std::pair{"a10.png", 5000},
                                   std::pair{"a2.png", 2000}, std::pair{"C.png", 1}}) {
    QVERIFY(makeFile(a + '/' + name, size));
  }
  for (const auto& [name, size] :
       {std::pair{"X.png", 5000}, std::pair{"y.png", 10}, std::pair{"w.png", 3000}}) {
    QVERIFY(makeFile(a + "/zeta/" + name, size));
  }

  auto list = newList();
  QVERIFY(list);
  QVERIFY(showFolder(*list, a));
  QHeaderView* header = list->view()->header();
  QCOMPARE(header->sortIndicatorSection(), -1);  // enumeration order until a heading is clicked

  // Names compare without case and with numbers by value; ".." and the folders stay on top.
  clickHeading(*list, 0);
  QCOMPARE(shownNames(*list),
           QStringList({"..", "Alpha", "zeta", "a2.png", "a10.png", "b.png", "C.png"}));
  selectRow(*list, rowOf(*list, "b.png"));
  clickHeading(*list, 0);
  QCOMPARE(shownNames(*list),
           QStringList({"..", "zeta", "Alpha", "C.png", "b.png", "a10.png", "a2.png"}));
  QCOMPARE(list->entryText(list->selectedIndex()), "b.png");  // the selection moves along
  QCOMPARE(header->sortIndicatorSection(), 0);
  QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);

  // Another folder is shown in the same order.
  QVERIFY(showFolder(*list, a + "/zeta"));
  QCOMPARE(shownNames(*list), QStringList({"..", "m", "y.png", "X.png", "w.png"}));

  clickHeading(*list, 1);
  QCOMPARE(shownNames(*list), QStringList({"..", "m", "y.png", "w.png", "X.png"}));
  QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
  clickHeading(*list, 1);
  QCOMPARE(shownNames(*list), QStringList({"..", "m", "X.png", "w.png", "y.png"}));
  clickHeading(*list, 1);
  QCOMPARE(shownNames(*list), QStringList({"..", "m", "y.png", "w.png", "X.png"}));
}

void MapFileListTest::followsChangesOnDisk() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString root = dir.path();
  QVERIFY(makeFile(root + "/a.png"));

  auto list = newList();
  QVERIFY(list);
  QVERIFY(showFolder(*list, root));
  selectRow(*list, rowOf(*list, "a.png"));
  QSignalSpy refreshed(list.get(), &MapFileList::refreshed);
  QSignalSpy opened(list.get(), &MapFileList::contentChanged);

  QVERIFY(makeFile(root + "/new.png"));
  QTRY_VERIFY_WITH_TIMEOUT(shownNames(*list).contains("new.png"), kWaitMs);
  QVERIFY(refreshed.count() >= 1);
  QCOMPARE(list->entryText(list->selectedIndex()), "a.png");  // the selection survives

  // A file written in place changes its size.
  {
    QFile file(root + "/a.png");
    QVERIFY(file.open(QIODevice::Append));
    QCOMPARE(file.write(QByteArray(3000, 'x')), 3000);
  }
  QTRY_COMPARE_WITH_TIMEOUT(cell(*list, rowOf(*list, "a.png"), 1), QString("3 KB"), kWaitMs);

  QVERIFY(QFile::remove(root + "/new.png"));
  QTRY_VERIFY_WITH_TIMEOUT(!shownNames(*list).contains("new.png"), kWaitMs);
  QVERIFY(QFile::rename(root + "/a.png", root + "/renamed.png"));
  QTRY_VERIFY_WITH_TIMEOUT(shownNames(*list).contains("renamed.png"), kWaitMs);
  QCOMPARE(shownNames(*list), QStringList({"..", "renamed.png"}));
  QCOMPARE(list->selectedIndex(), -1);  // the selected entry is gone

  QVERIFY(refreshed.count() >= 4);
  QCOMPARE(opened.count(), 0);  // still the same folder
  QCOMPARE(list->currentFolder(), root);
}

void MapFileListTest::deletedFolderMovesUp() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  QVERIFY(QDir().mkpath(dir.path() + "/a/b"));
  QVERIFY(makeFile(dir.path() + "/top.png"));

  auto list = newList();
  QVERIFY(list);
  QVERIFY(showFolder(*list, dir.path() + "/a/b"));
  QSignalSpy refreshed(list.get(), &MapFileList::refreshed);
  QSignalSpy opened(list.get(), &MapFileList::contentChanged);
  QVERIFY(QDir(dir.path() + "/a").removeRecursively());

  // The nearest folder that still exists is shown instead of a dead one.
  QTRY_COMPARE_WITH_TIMEOUT(list->currentFolder(), dir.path(), kWaitMs);
  QCOMPARE(shownNames(*list), QStringList({"..", "top.png"}));
  QVERIFY(refreshed.count() >= 1);
  QVERIFY(opened.count() >= 1);

  // Asking for a folder that does not exist lands in the same place.
  QVERIFY(showFolder(*list, dir.path() + "/no/such/folder"));
  QCOMPARE(list->currentFolder(), dir.path());
}

void MapFileListTest::unreadableFolderShowsEmpty() {
#ifndef Q_OS_UNIX
  QSKIP("needs POSIX permissions");
#else
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString locked = dir.path() + "/locked";
  QVERIFY(QDir().mkpath(locked + "/inside"));
  QVERIFY(makeFile(locked + "/map.png"));
  QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                QFile::ReadGroup | QFile::ExeGroup |
                                                QFile::ReadOther | QFile::ExeOther));
  QCOMPARE(::chmod(QFile::encodeName(locked).constData(), 0), 0);
  auto unlock = qScopeGuard([&] { ::chmod(QFile::encodeName(locked).constData(), 0700); });

  auto list = newList();
  QVERIFY(list);
  // The superuser reads any folder: read as somebody else for a moment (glibc switches the
  // effective user of every thread, the list's worker included).
  const uid_t user = ::geteuid();
  if (user == 0) QCOMPARE(::seteuid(65534), 0);
  auto back = qScopeGuard([&] {
    if (user == 0) QCOMPARE(::seteuid(0), 0);
  });
  QVERIFY(QDir(locked).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
  QVERIFY(showFolder(*list, locked));
  QCOMPARE(list->currentFolder(), locked);
  QCOMPARE(shownNames(*list), QStringList{".."});
#endif
}

void MapFileListTest::controlSettings() {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* before = new QLineEdit(&window);
  auto* list = new MapFileList(&window);
  layout->addWidget(before);
  layout->addWidget(list);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QVERIFY(waitUntilIdle(*list));
  QTreeView* view = list->view();

  // Report view: headings and widths in logical units, sizes right-aligned.
  const QAbstractItemModel* model = view->model();
  const QStringList headings = {"Name", "Size", "Type", "Modified"};
  const int widths[] = {150, 80, 80, 80};
  for (int column = 0; column < 4; ++column) {
    QCOMPARE(model->headerData(column, Qt::Horizontal).toString(), headings[column]);
    QCOMPARE(view->header()->sectionSize(column), widths[column]);
  }
  QVERIFY(model->headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
  QVERIFY(model->index(0, 1).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
  QVERIFY(!view->rootIsDecorated());
  QCOMPARE(view->frameShadow(), QFrame::Sunken);

  // One selected entry at most.
  QCOMPARE(view->selectionMode(), QAbstractItemView::SingleSelection);
  QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);

  // A Tab stop.
  before->setFocus();
  QTRY_VERIFY(before->hasFocus());
  QTest::keyClick(before, Qt::Key_Tab);
  QTRY_VERIFY(view->hasFocus());

  // The selection looks the same without the focus as with it.
  const QPalette palette = view->palette();
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
    QCOMPARE(palette.color(QPalette::Inactive, role), palette.color(QPalette::Active, role));
  }
}

void MapFileListTest::twentyThousandEntries() {
  constexpr int kFiles = 20000;
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  for (int i = 0; i < kFiles; ++i) {
    QVERIFY(makeFile(dir.path() + QStringLiteral("/entry%1.png").arg(i, 5, 10, QChar('0'))));
  }

  auto list = newList();
  QVERIFY(list);

  // How long the window goes without turning its event loop while the folder is read and shown.
  QElapsedTimer clock;
  clock.start();
  qint64 lastTick = 0;
  qint64 longestStall = 0;
  QTimer ticker;
  ticker.setInterval(5);
  connect(&ticker, &QTimer::timeout, this, [&] {
    longestStall = std::max(longestStall, clock.elapsed() - lastTick);
    lastTick = clock.elapsed();
  });
  ticker.start();
  QSignalSpy shown(list.get(), &MapFileList::contentChanged);
  list->setCurrentFolder(dir.path());
  QVERIFY(shown.wait(120000));
  const qint64 fillMs = clock.elapsed();
  QElapsedTimer paint;
  paint.start();
  list->view()->viewport()->repaint();
  const qint64 paintMs = paint.elapsed();
  QTest::qWait(20);
  ticker.stop();

  QCOMPARE(list->entryCount(), kFiles + 1);
  QCOMPARE(list->entryText(0), "..");
  QVERIFY(shownNames(*list).contains("entry19999.png"));

  paint.restart();
  clickHeading(*list, 0);
  clickHeading(*list, 0);
  const qint64 sortMs = paint.elapsed();
  QCOMPARE(list->entryText(1), "entry19999.png");
  QCOMPARE(list->entryText(kFiles), "entry00000.png");

  qInfo(
      "20,000 entries: shown %lld ms after the request, longest event-loop stall %lld ms, "
      "first paint %lld ms, two sorts by name %lld ms",
      fillMs, longestStall, paintMs, sortMs);
}

QTEST_MAIN(MapFileListTest)
#include "map_file_list_test.moc"
