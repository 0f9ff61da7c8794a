#ifndef PLANTSCATTER_APP_MAP_FILE_LIST_H_
#define PLANTSCATTER_APP_MAP_FILE_LIST_H_

#include <QString>
#include <QTimer>
#include <QWidget>

class QFileSystemWatcher;
class QTreeView;
class MapFileListModel;
struct MapFileListing;

// A file browser in report style through which the user reaches a plant map.
//
// At the top level it lists one entry per drive or filesystem root, then the user's documents
// folder when it exists. Inside a folder it lists "..", then the sub-folders, then the files
// whose names match the name filter ("*.png" unless changed), each group in the order in which
// the file system enumerates it until the user clicks a column heading.
//
// Clicking a heading sorts by that column, ascending, then descending on the next click; the
// order holds for every folder shown afterwards. Sorting keeps the groups: ".." stays first,
// drives, folders and the documents entry come before files, and only the entries within each
// group are reordered. Names compare without regard to case and with digit runs by value.
//
// Folders are read on a worker thread, so a huge or slow folder never blocks the window; the
// list keeps showing the previous content until the new one replaces it in one step. All
// queries describe what is shown.
//
// Signals:
//  - entryActivated(): a file entry was activated (double-click, or Enter on the selected
//    entry); the list stays where it is.
//  - contentChanged(): the list now shows another folder (or the top level), because an entry
//    was activated, setCurrentFolder() was called, or the folder shown vanished.
//  - refreshed(): the folder shown changed on disk and the list was refilled.
class MapFileList : public QWidget {
  Q_OBJECT

 public:
  explicit MapFileList(QWidget* parent = nullptr);
  ~MapFileList() override;

  // Index of the selected entry in display order, -1 when none is selected.
  int selectedIndex() const;
  // The folder shown in native separators, ending with QDir::separator(); empty at the top level.
  QString currentFolderText() const;
  // First-column text of the entry at `index` (the name); empty for an index out of range.
  QString entryText(int index) const;
  int entryCount() const;

  // The folder shown as an absolute path with '/' separators; empty at the top level.
  QString currentFolder() const { return folder_; }
  // Shows `folder` (empty: the top level). A folder that does not exist is replaced by its
  // nearest existing parent. The read is asynchronous: contentChanged() tells when it is shown.
  void setCurrentFolder(const QString& folder);
  // True while a folder read is under way.
  bool isLoading() const { return loading_; }

  // Wildcard pattern for file names: '*' matches any run of characters, '?' one character,
  // letters match regardless of case. Folders are never filtered.
  QString nameFilter() const { return nameFilter_; }
  void setNameFilter(const QString& pattern);

  QTreeView* view() const { return view_; }

 signals:
  void entryActivated();
  void contentChanged();
  void refreshed();

 protected:
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  enum class ReadReason { Open, Refresh };

  void activateSelected();
  void startRead(const QString& folder, ReadReason reason);
  void showListing(const MapFileListing& listing, ReadReason reason);
  void requestRefresh();
  void pollDisk();
  void watchShownFolder();
  void selectRow(int row);
  void sortBy(int column, Qt::SortOrder order);
  void applySelectionPalette();

  QTreeView* view_ = nullptr;
  MapFileListModel* model_ = nullptr;
  QFileSystemWatcher* watcher_ = nullptr;
  QTimer refreshTimer_;
  QTimer pollTimer_;

  QString nameFilter_;
  QString folder_;
  QString documents_;
  QString topLevelSignature_;
  bool shownOnce_ = false;

  quint64 generation_ = 0;
  bool loading_ = false;
  ReadReason loadingReason_ = ReadReason::Open;
  bool refreshAgain_ = false;
  QString requestedFolder_;
  QString selectAfterOpen_;

  int sortColumn_ = -1;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

#endif  // PLANTSCATTER_APP_MAP_FILE_LIST_H_
