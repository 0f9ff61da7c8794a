// plantscatter: the desktop application. It reads no arguments of its own and always ends
// with exit code 0.
#include <QApplication>

#include "main_window.h"
#include "message_boxes.h"
#include "scatter/random.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("plantscatter"));
  // Lets desktops match the window to its menu entry, plantscatter.desktop.
  QGuiApplication::setDesktopFileName(QStringLiteral("plantscatter"));

  // One source per process: the scatter and the export draw from the same sequence.
  plantscatter::Random random = plantscatter::Random::from_entropy();
  DialogMessageBoxes messages;
  MainWindow window(random, messages);
  window.show();
  QApplication::exec();
  return 0;
}
