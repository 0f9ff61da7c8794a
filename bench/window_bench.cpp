// Times the window's two long jobs, driven through its real controls on the offscreen
// platform: loading a map (Enter on it in the file list, until the preview has been drawn),
// and processing (the process button, until the export file is written).
//
//   window_bench MAP.png TYPE=N [TYPE=N ...]
//
// Prints "load_seconds S" and "process_seconds S". The export is written beside the map
// and removed afterwards.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include <cstdio>
#include <filesystem>

#include "export/export_paths.h"
#include "main_window.h"
#include "map_file_list.h"
#include "message_boxes.h"

namespace {

class SilentMessages : public MessageBoxes {
 public:
  void showMessage(QWidget*, const QString&, const QString& text) override { last = text; }
  QString last;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s MAP.png TYPE=N [TYPE=N ...]\n", argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QFileInfo map(QString::fromLocal8Bit(argv[1]));

  plantscatter::Random random(1);
  SilentMessages messages;
  MainWindow window(random, messages);
  window.show();

  auto* list = static_cast<MapFileList*>(window.control(MainWindow::MapFileListNumber));
  list->setCurrentFolder(map.absolutePath());
  while (list->isLoading()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  int row = -1;
  for (int i = 0; i < list->entryCount(); ++i) {
    if (list->entryText(i) == map.fileName()) row = i;
  }
  if (row < 0) {
    std::fprintf(stderr, "%s is not listed\n", argv[1]);
    return 1;
  }
  list->view()->setCurrentIndex(list->view()->model()->index(row, 0));

  QElapsedTimer timer;
  timer.start();
  QTest::keyClick(list->view(), Qt::Key_Return);
  QWidget* preview = window.control(MainWindow::MapPreviewNumber);
  if (!preview) {
    std::fprintf(stderr, "the map did not load\n");
    return 1;
  }
  preview->repaint();
  const double load_seconds = timer.nsecsElapsed() / 1e9;

  for (int i = 2; i < argc; ++i) {
    const QString count = QString::fromLocal8Bit(argv[i]);
    const int type = count.section(QLatin1Char('='), 0, 0).toInt();
    auto* field = static_cast<QLineEdit*>(window.control(MainWindow::CountField1Number + type - 1));
    field->setText(count.section(QLatin1Char('='), 1));
  }
  auto* process = static_cast<QPushButton*>(window.control(MainWindow::ProcessButtonNumber));
  timer.restart();
  process->click();
  const double process_seconds = timer.nsecsElapsed() / 1e9;

  const std::string export_path =
      plantscatter::derive_export_paths(window.mapPath().toStdString()).export_path;
  if (!window.isProcessed() || !std::filesystem::exists(export_path)) {
    std::fprintf(stderr, "nothing was written: %s\n", qPrintable(messages.last));
    return 1;
  }
  std::filesystem::remove(export_path);
  std::printf("load_seconds %.6f\nprocess_seconds %.6f\n", load_seconds, process_seconds);
  return 0;
}
