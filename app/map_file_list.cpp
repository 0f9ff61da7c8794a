#include "map_file_list.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QHash>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLocale>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTreeView>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

// One row of the list. Plain data, so that a worker thread can build it.
struct MapFileListEntry {
  enum class Kind { Drive, Documents, Parent, Folder, File };

  Kind kind = Kind::File;
  QString name;
  QString path;        // absolute, '/' separators; empty for ".."
  qint64 size = -1;    // files only
  QDateTime modified;  // files and folders only
  int order = 0;       // position in enumeration: the order shown until the user sorts

  bool operator==(const MapFileListEntry& other) const = default;
};

// The result of reading one folder (or the top level) on a worker thread.
struct MapFileListing {
  QString folder;             // the folder read, empty for the top level
  QString documents;          // the documents folder as known when the read started
  QString topLevelSignature;  // what the top level was built from; empty inside a folder
  QList<MapFileListEntry> entries;
  int sortColumn = -1;
  Qt::SortOrder sortOrder = Qt::AscendingOrder;
};

namespace {

using Entry = MapFileListEntry;
using Kind = MapFileListEntry::Kind;

enum Column { kNameColumn, kSizeColumn, kTypeColumn, kModifiedColumn, kColumnCount };

// Logical units; Qt's high-DPI scaling turns them into device pixels.
constexpr int kColumnWidths[kColumnCount] = {150, 80, 80, 80};

// Watching a file costs a kernel watch and, measured, about 40 us to add and 50 us to remove on
// the user-interface thread, so only this many files are watched one by one. The folder's own
// watch still sees every entry added, removed or renamed in a larger folder, and on Linux every
// attribute or time change.
constexpr int kMaxWatchedFiles = 1000;
// Bursts of change notifications (a file being written, many files copied) become one re-read.
constexpr int kRefreshDelayMs = 200;
// Drives come and go, and a folder can vanish with its drive, without a notification.
constexpr int kPollIntervalMs = 2000;

bool samePath(const QString& a, const QString& b) {
#ifdef Q_OS_WIN
  return a.compare(b, Qt::CaseInsensitive) == 0;
#else
  return a == b;
#endif
}

QString documentsFolder() {
  const QString path = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  return path.isEmpty() ? QString() : QDir::cleanPath(path);
}

// What the top level is made of; comparing it over time tells when the top level must be rebuilt.
QString topLevelSignature(const QString& documents) {
  QStringList parts;
  for (const QFileInfo& drive : QDir::drives()) parts << drive.absoluteFilePath();
  if (!documents.isEmpty() && QFileInfo(documents).isDir()) parts << documents;
  return parts.join(u'\n');
}

QString driveName(const QFileInfo& drive) {
  const QString root = QDir::toNativeSeparators(drive.absoluteFilePath());
#ifdef Q_OS_WIN
  // The shell's form: the volume label, then the drive letter in parentheses.
  const QString label = QStorageInfo(drive.absoluteFilePath()).name();
  if (!label.isEmpty()) return QStringLiteral("%1 (%2)").arg(label, root.left(2));
#endif
  return root;
}

// '*' matches any run of characters, including none, and '?' exactly one; letters match
// regardless of case. Nothing else is special.
class WildcardPattern {
 public:
  explicit WildcardPattern(const QString& pattern) : pattern_(pattern.toCaseFolded().toUcs4()) {}

  bool matches(const QString& name) const {
    const QList<uint> text = name.toCaseFolded().toUcs4();
    qsizetype t = 0;
    qsizetype p = 0;
    qsizetype starP = -1;  // the last '*' seen and where in the text it started to match
    qsizetype starT = 0;
    while (t < text.size()) {
      if (p < pattern_.size() && (pattern_[p] == u'?' || pattern_[p] == text[t])) {
        ++t;
        ++p;
      } else if (p < pattern_.size() && pattern_[p] == u'*') {
        starP = p++;
        starT = t;
      } else if (starP >= 0) {
        p = starP + 1;
        t = ++starT;
      } else {
        return false;
      }
    }
    while (p < pattern_.size() && pattern_[p] == u'*') ++p;
    return p == pattern_.size();
  }

 private:
  QList<uint> pattern_;
};

// The system's type name of a file, from its name alone, cached by its suffix since every
// lookup walks the MIME database's patterns.
class TypeNames {
 public:
  QString forFile(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).completeSuffix().toLower();
    if (suffix.isEmpty()) return lookUp(fileName);
    auto it = bySuffix_.constFind(suffix);
    if (it == bySuffix_.constEnd()) it = bySuffix_.insert(suffix, lookUp(fileName));
    return *it;
  }

 private:
  QString lookUp(const QString& fileName) const {
    const QMimeType type = database_.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    return type.comment().isEmpty() ? type.name() : type.comment();
  }

  QMimeDatabase database_;
  QHash<QString, QString> bySuffix_;
};

QString sizeText(qint64 bytes) {
  // Whole kilobytes of 1,024 bytes, rounded up below 2^30 bytes and down from there on.
  constexpr qint64 kRoundDownFrom = qint64{1} << 30;
  const qint64 kilobytes = bytes < kRoundDownFrom ? (bytes + 1023) / 1024 : bytes / 1024;
  return QLocale().toString(kilobytes) + QStringLiteral(" KB");
}

QString modifiedText(const QDateTime& time) {
  const QLocale locale;
  // A locale's short time format has no seconds as a rule; make sure of it.
  static const QRegularExpression kSeconds(QStringLiteral("[:.]?s{1,2}"));
  QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
  timeFormat.remove(kSeconds);
  return locale.toString(time.date(), QLocale::ShortFormat) + u' ' +
         locale.toString(time.time(), timeFormat.trimmed());
}

int groupRank(Kind kind) {
  switch (kind) {
    case Kind::Parent:
      return 0;
    case Kind::Drive:
    case Kind::Folder:
      return 1;
    case Kind::Documents:
      return 2;
    case Kind::File:
      break;
  }
  return 3;
}

// The display order of `entries` sorted by `column`: ".." first, then drives, folders and the
// documents entry, then files, each group sorted on its own. Ties fall back to the name and then
// to the enumeration order, so the result is a total order and descending is the exact reverse
// of ascending within each group.
std::vector<int> sortedOrder(const QList<Entry>& entries, int column, Qt::SortOrder order) {
  std::vector<int> rows(entries.size());
  std::iota(rows.begin(), rows.end(), 0);
  if (column < 0 || column >= kColumnCount) return rows;

  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  collator.setNumericMode(true);
  std::vector<QCollatorSortKey> nameKeys;
  nameKeys.reserve(entries.size());
  for (const Entry& entry : entries) nameKeys.push_back(collator.sortKey(entry.name));

  std::vector<int> typeRanks(entries.size(), -1);
  if (column == kTypeColumn) {
    TypeNames typeNames;
    QStringList types(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
      if (entries[i].kind == Kind::File) types[i] = typeNames.forFile(entries[i].name);
    }
    QStringList distinct = types;
    distinct.removeDuplicates();
    std::sort(distinct.begin(), distinct.end(),
              [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    QHash<QString, int> rankOf;
    for (qsizetype i = 0; i < distinct.size(); ++i) rankOf.insert(distinct[i], int(i));
    for (qsizetype i = 0; i < entries.size(); ++i) {
      if (entries[i].kind == Kind::File) typeRanks[i] = rankOf.value(types[i]);
    }
  }

  const auto msecs = [](const QDateTime& time) {
    return time.isValid() ? time.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
  };
  const auto compare = [](auto a, auto b) { return a < b ? -1 : (b < a ? 1 : 0); };
  std::sort(rows.begin(), rows.end(), [&](int a, int b) {
    const Entry& x = entries[a];
    const Entry& y = entries[b];
    if (groupRank(x.kind) != groupRank(y.kind)) return groupRank(x.kind) < groupRank(y.kind);
    int result = 0;
    switch (column) {
      case kSizeColumn:
        result = compare(x.size, y.size);
        break;
      case kTypeColumn:
        result = compare(typeRanks[a], typeRanks[b]);
        break;
      case kModifiedColumn:
        result = compare(msecs(x.modified), msecs(y.modified));
        break;
      default:
        break;
    }
    if (result == 0) result = nameKeys[a].compare(nameKeys[b]);
    if (result == 0) result = compare(x.order, y.order);
    return order == Qt::AscendingOrder ? result < 0 : result > 0;
  });
  return rows;
}

QList<Entry> reordered(const QList<Entry>& entries, const std::vector<int>& rows) {
  QList<Entry> result;
  result.reserve(entries.size());
  for (int row : rows) result.append(entries[row]);
  return result;
}

// The folder itself if it exists, else its nearest existing parent; empty when not even the root
// of its drive exists (the drive is gone).
QString nearestExistingFolder(const QString& folder) {
  QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
  while (!QFileInfo(path).isDir()) {
    const QString parent = QFileInfo(path).path();
    if (parent == path) return QString();
    path = parent;
  }
  return path;
}

struct ReadRequest {
  QString folder;  // empty: the top level
  QString documents;
  QString nameFilter;
  int sortColumn = -1;
  Qt::SortOrder sortOrder = Qt::AscendingOrder;
};

// Runs on a worker thread: touches no GUI object.
MapFileListing readListing(const ReadRequest& request) {
  MapFileListing listing;
  listing.documents = request.documents;
  listing.sortColumn = request.sortColumn;
  listing.sortOrder = request.sortOrder;
  if (!request.folder.isEmpty()) listing.folder = nearestExistingFolder(request.folder);

  QList<Entry>& entries = listing.entries;
  const auto add = [](QList<Entry>& to, Kind kind, const QString& name, const QString& path,
                      qint64 size = -1, const QDateTime& modified = {}) {
    to.append(Entry{kind, name, path, size, modified, int(to.size())});
  };
  if (listing.folder.isEmpty()) {
    listing.topLevelSignature = topLevelSignature(request.documents);
    for (const QFileInfo& drive : QDir::drives()) {
      add(entries, Kind::Drive, driveName(drive), drive.absoluteFilePath());
    }
    const QFileInfo documents(request.documents);
    if (!request.documents.isEmpty() && documents.isDir()) {
      add(entries, Kind::Documents, documents.fileName(), request.documents);
    }
  } else {
    add(entries, Kind::Parent, QStringLiteral(".."), QString());
    const WildcardPattern pattern(request.nameFilter);
    QList<Entry> files;
    // A folder that cannot be read yields nothing, so it shows as ".." alone.
    QDirIterator it(listing.folder,
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
      it.next();
      const QFileInfo info = it.fileInfo();
      if (info.isDir()) {
        add(entries, Kind::Folder, info.fileName(), info.absoluteFilePath(), -1,
            info.lastModified());
      } else if (info.isFile() && pattern.matches(info.fileName())) {
        add(files, Kind::File, info.fileName(), info.absoluteFilePath(), info.size(),
            info.lastModified());
      }
      // Anything else (a pipe, socket or device, a dangling link) is no file a map can be read
      // from; a pipe named like a map would block whoever opens it.
    }
    for (Entry& file : files) file.order += int(entries.size());
    entries.append(files);
  }
  if (listing.sortColumn >= 0) {
    entries = reordered(entries, sortedOrder(entries, listing.sortColumn, listing.sortOrder));
  }
  return listing;
}

}  // namespace

// The rows shown by the list. Type names and icons are looked up only when a row is painted and
// are cached by suffix, as both can be slow.
class MapFileListModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  const QList<Entry>& entries() const { return entries_; }
  const Entry& entry(int row) const { return entries_.at(row); }

  void setEntries(QList<Entry> entries) {
    beginResetModel();
    entries_ = std::move(entries);
    endResetModel();
  }

  int rowOfName(const QString& name) const {
    for (qsizetype row = 0; row < entries_.size(); ++row) {
      if (entries_[row].name == name) return int(row);
    }
    return -1;
  }

  int rowOfPath(const QString& path) const {
    for (qsizetype row = 0; row < entries_.size(); ++row) {
      if (!entries_[row].path.isEmpty() && samePath(entries_[row].path, path)) return int(row);
    }
    return -1;
  }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : int(entries_.size());
  }

  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : kColumnCount;
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
      return {};
    }
    const Entry& entry = entries_.at(index.row());
    const bool isFile = entry.kind == Kind::File;
    switch (role) {
      case Qt::DisplayRole:
        switch (index.column()) {
          case kNameColumn:
            return entry.name;
          case kSizeColumn:
            return isFile ? sizeText(entry.size) : QVariant();
          case kTypeColumn:
            return isFile ? types_.forFile(entry.name) : QVariant();
          case kModifiedColumn:
            if ((isFile || entry.kind == Kind::Folder) && entry.modified.isValid()) {
              return modifiedText(entry.modified);
            }
            return {};
        }
        break;
      case Qt::DecorationRole:
        if (index.column() == kNameColumn) return icon(entry);
        break;
      case Qt::TextAlignmentRole:
        if (index.column() == kSizeColumn) return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    }
    return {};
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
    switch (role) {
      case Qt::DisplayRole:
        switch (section) {
          case kNameColumn:
            return MapFileList::tr("Name");
          case kSizeColumn:
            return MapFileList::tr("Size");
          case kTypeColumn:
            return MapFileList::tr("Type");
          case kModifiedColumn:
            return MapFileList::tr("Modified");
        }
        break;
      case Qt::TextAlignmentRole:
        if (section == kSizeColumn) return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
      case Qt::InitialSortOrderRole:
        // The first click on a heading sorts ascending whatever the style prefers.
        return int(Qt::AscendingOrder);
    }
    return {};
  }

  void sort(int column, Qt::SortOrder order) override {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<int> rows = sortedOrder(entries_, column, order);
    std::vector<int> newRowOf(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) newRowOf[rows[i]] = int(i);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& index : from)
      to.append(this->index(newRowOf[index.row()], index.column()));
    changePersistentIndexList(from, to);
    entries_ = reordered(entries_, rows);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
  }

 private:
  QIcon icon(const Entry& entry) const {
    QString key;
    switch (entry.kind) {
      case Kind::Drive:
        key = QStringLiteral("drive");
        break;
      case Kind::Documents:
        key = QStringLiteral("documents:") + entry.path;
        break;
      case Kind::Parent:
      case Kind::Folder:
        key = QStringLiteral("folder");
        break;
      case Kind::File:
        key = QStringLiteral("file:") + QFileInfo(entry.name).completeSuffix().toLower();
        break;
    }
    auto it = icons_.constFind(key);
    if (it != icons_.constEnd()) return *it;
    QIcon icon;
    switch (entry.kind) {
      case Kind::Drive:
        icon = iconProvider_.icon(QAbstractFileIconProvider::Drive);
        break;
      case Kind::Parent:
      case Kind::Folder:
        icon = iconProvider_.icon(QAbstractFileIconProvider::Folder);
        break;
      case Kind::Documents:
      case Kind::File:
        icon = iconProvider_.icon(QFileInfo(entry.path));
        break;
    }
    icons_.insert(key, icon);
    return icon;
  }

  QList<Entry> entries_;
  mutable TypeNames types_;
  mutable QHash<QString, QIcon> icons_;
  QFileIconProvider iconProvider_;
};

MapFileList::MapFileList(QWidget* parent)
    : QWidget(parent),
      view_(new QTreeView(this)),
      model_(new MapFileListModel(this)),
      watcher_(new QFileSystemWatcher(this)),
      nameFilter_(QStringLiteral("*.png")) {
  view_->setModel(model_);
  view_->setRootIsDecorated(false);
  view_->setItemsExpandable(false);
  view_->setExpandsOnDoubleClick(false);
  view_->setUniformRowHeights(true);
  view_->setAllColumnsShowFocus(true);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  view_->setFocusPolicy(Qt::StrongFocus);
  view_->installEventFilter(this);

  QHeaderView* header = view_->header();
  header->setStretchLastSection(false);
  header->setSectionsMovable(false);
  for (int column = 0; column < kColumnCount; ++column) {
    header->resizeSection(column, kColumnWidths[column]);
  }
  // No column is sorted until the user clicks a heading: the enumeration order stands.
  header->setSortIndicator(-1, Qt::AscendingOrder);
  header->setSortIndicatorShown(true);
  header->setSectionsClickable(true);
  connect(header, &QHeaderView::sortIndicatorChanged, this, &MapFileList::sortBy);

  // A double-click has selected its row with its first click; Enter is handled in eventFilter().
  connect(view_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid() && index.row() == selectedIndex()) activateSelected();
  });

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  setFocusProxy(view_);
  applySelectionPalette();

  refreshTimer_.setSingleShot(true);
  refreshTimer_.setInterval(kRefreshDelayMs);
  connect(&refreshTimer_, &QTimer::timeout, this, &MapFileList::requestRefresh);
  const auto onDiskChange = [this] {
    if (!refreshTimer_.isActive()) refreshTimer_.start();
  };
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, onDiskChange);
  connect(watcher_, &QFileSystemWatcher::fileChanged, this, onDiskChange);
  pollTimer_.setInterval(kPollIntervalMs);
  connect(&pollTimer_, &QTimer::timeout, this, &MapFileList::pollDisk);
  pollTimer_.start();

  startRead(QString(), ReadReason::Open);
}

MapFileList::~MapFileList() = default;

int MapFileList::selectedIndex() const {
  const QModelIndexList rows = view_->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

QString MapFileList::currentFolderText() const {
  if (folder_.isEmpty()) return QString();
  QString text = QDir::toNativeSeparators(folder_);
  if (!text.endsWith(QDir::separator())) text += QDir::separator();
  return text;
}

QString MapFileList::entryText(int index) const {
  if (index < 0 || index >= model_->rowCount()) return QString();
  return model_->entry(index).name;
}

int MapFileList::entryCount() const {
  return model_->rowCount();
}

void MapFileList::setCurrentFolder(const QString& folder) {
  selectAfterOpen_.clear();
  startRead(folder, ReadReason::Open);
}

void MapFileList::setNameFilter(const QString& pattern) {
  if (pattern == nameFilter_) return;
  nameFilter_ = pattern;
  startRead(loading_ ? requestedFolder_ : folder_, ReadReason::Open);
}

void MapFileList::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) applySelectionPalette();
  QWidget::changeEvent(event);
}

bool MapFileList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      activateSelected();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MapFileList::applySelectionPalette() {
  // The selection stays as visible while the list has no focus as while it has.
  QPalette palette = this->palette();
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  }
  view_->setPalette(palette);
}

void MapFileList::activateSelected() {
  const int row = selectedIndex();
  if (row < 0) return;
  const Entry& entry = model_->entry(row);
  switch (entry.kind) {
    case Kind::File:
      emit entryActivated();
      return;
    case Kind::Parent: {
      // From a drive's root or from the documents folder, ".." leads back to the top level.
      const bool toTopLevel = QDir(folder_).isRoot() || samePath(folder_, documents_);
      const QString target = toTopLevel ? QString() : QFileInfo(folder_).path();
      selectAfterOpen_ = folder_;
      startRead(target, ReadReason::Open);
      return;
    }
    case Kind::Drive:
    case Kind::Documents:
    case Kind::Folder:
      selectAfterOpen_.clear();
      startRead(entry.path, ReadReason::Open);
      return;
  }
}

void MapFileList::startRead(const QString& folder, ReadReason reason) {
  const ReadRequest request{folder, documentsFolder(), nameFilter_, sortColumn_, sortOrder_};
  const quint64 generation = ++generation_;
  loading_ = true;
  loadingReason_ = reason;
  requestedFolder_ = folder;
  refreshAgain_ = false;
  auto* watcher = new QFutureWatcher<MapFileListing>(this);
  connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation, reason] {
    watcher->deleteLater();
    if (generation != generation_) return;  // a later request superseded this one
    loading_ = false;
    const bool again = refreshAgain_;
    refreshAgain_ = false;
    showListing(watcher->result(), reason);
    if (again) requestRefresh();
  });
  watcher->setFuture(QtConcurrent::run(readListing, request));
}

void MapFileList::requestRefresh() {
  if (loading_) {
    // An open under way reads fresh content anyway; a refresh under way may have read too early.
    if (loadingReason_ == ReadReason::Refresh) refreshAgain_ = true;
    return;
  }
  startRead(folder_, ReadReason::Refresh);
}

void MapFileList::pollDisk() {
  if (loading_ || !shownOnce_) return;
  const bool stale = folder_.isEmpty() ? topLevelSignature(documentsFolder()) != topLevelSignature_
                                       : !QFileInfo(folder_).isDir();
  if (stale) requestRefresh();
}

void MapFileList::showListing(const MapFileListing& listing, ReadReason reason) {
  QList<Entry> entries = listing.entries;
  // The user may have clicked a heading while the folder was being read.
  if (listing.sortColumn != sortColumn_ || listing.sortOrder != sortOrder_) {
    entries = reordered(entries, sortedOrder(entries, sortColumn_, sortOrder_));
  }
  const bool sameFolder = shownOnce_ && samePath(listing.folder, folder_);
  documents_ = listing.documents;
  topLevelSignature_ = listing.topLevelSignature;
  if (reason == ReadReason::Refresh && sameFolder && entries == model_->entries()) {
    watchShownFolder();
    return;  // the change touched nothing the list shows
  }

  QString keepSelected;
  int keepTopRow = -1;
  if (sameFolder) {
    keepSelected = entryText(selectedIndex());
    keepTopRow = view_->indexAt(QPoint(0, 0)).row();
  }
  folder_ = listing.folder;
  shownOnce_ = true;
  model_->setEntries(std::move(entries));

  if (keepTopRow >= 0 && keepTopRow < model_->rowCount()) {
    view_->scrollTo(model_->index(keepTopRow, 0), QAbstractItemView::PositionAtTop);
  }
  if (!keepSelected.isEmpty()) {
    const int row = model_->rowOfName(keepSelected);
    if (row >= 0) selectRow(row);
  } else if (!selectAfterOpen_.isEmpty()) {
    // Coming up with "..", the folder just left is selected.
    const int row = model_->rowOfPath(selectAfterOpen_);
    if (row >= 0) selectRow(row);
  }
  selectAfterOpen_.clear();
  watchShownFolder();

  if (reason == ReadReason::Refresh) emit refreshed();
  if (!sameFolder || reason == ReadReason::Open) emit contentChanged();
}

void MapFileList::selectRow(int row) {
  const QModelIndex index = model_->index(row, kNameColumn);
  view_->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  view_->scrollTo(index);
}

void MapFileList::watchShownFolder() {
  QSet<QString> wanted;
  if (!folder_.isEmpty()) {
    wanted.insert(folder_);
    int files = 0;
    for (const Entry& entry : model_->entries()) {
      if (entry.kind != Kind::File) continue;
      if (++files > kMaxWatchedFiles) break;
      wanted.insert(entry.path);
    }
  }
  QSet<QString> watched;
  QStringList stale;
  for (const QStringList& paths : {watcher_->directories(), watcher_->files()}) {
    for (const QString& path : paths) {
      watched.insert(path);
      if (!wanted.contains(path)) stale << path;
    }
  }
  if (!stale.isEmpty()) watcher_->removePaths(stale);
  QStringList fresh;
  for (const QString& path : std::as_const(wanted)) {
    if (!watched.contains(path)) fresh << path;
  }
  // Paths that cannot be watched (the system's watch limit reached) are simply not followed.
  if (!fresh.isEmpty()) watcher_->addPaths(fresh);
}

void MapFileList::sortBy(int column, Qt::SortOrder order) {
  if (column < 0 || column >= kColumnCount) return;
  sortColumn_ = column;
  sortOrder_ = order;
  model_->sort(column, order);
  const int row = selectedIndex();
  if (row >= 0) view_->scrollTo(model_->index(row, kNameColumn));
}
