#ifndef PLANTSCATTER_APP_MAIN_WINDOW_H_
#define PLANTSCATTER_APP_MAIN_WINDOW_H_

#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "plants/count_text.h"
#include "plants/image.h"
#include "scatter/random.h"
#include "scatter/scatter.h"

class CountField;
class MapFileList;
class MapPreview;
class MessageBoxes;
class QLabel;
class QPushButton;

// The legend picture compiled into the program (a PNG file).
std::span<const uint8_t> embeddedLegendPng();

// The program's one window: the file list through which a map is chosen, one row per plant
// type with its count field and legend band, the total, the warning, the two buttons and,
// once a map is loaded, the map preview.
//
// Geometry is in logical units that Qt's high-DPI scaling turns into device pixels; pictures
// are never scaled. Controls are reached by their fixed numbers (see ControlNumber); the
// object names are the controls' names ("MapFileList", "CountField1", ...).
//
// The window holds the state of one session: the current map, the counts, and the result of
// the one processing run. Decoding, placing plants and writing the export run on a worker
// thread while the window stays drawn; user input waits meanwhile and is handled afterwards,
// in order, so every action still sees the state that the one before it left.
class MainWindow : public QWidget {
  Q_OBJECT

 public:
  enum ControlNumber {
    WindowNumber = 0,
    MapFileListNumber = 3,
    MapPreviewNumber = 4,
    LegendImageNumber = 5,
    CountField1Number = 7,  // CountField1 to CountField10 are 7 to 16
    TotalLabelNumber = 17,
    WarningLabelNumber = 18,
    MapInfoLabelNumber = 19,
    ProcessButtonNumber = 20,
    QuitButtonNumber = 21,
  };

  // `random` is the source that the scatter and the export share; `messages` shows every
  // message. Both must outlive the window. A legend that does not decode is reported and
  // left out.
  MainWindow(plantscatter::Random& random, MessageBoxes& messages,
             std::span<const uint8_t> legendPng = embeddedLegendPng(), QWidget* parent = nullptr);
  ~MainWindow() override;

  // The control with that number, the window itself for 0, or nullptr for a number no
  // control has now (the preview before a map is loaded, the legend when it failed).
  QWidget* control(int number) const;

  // Where a window of `outer` pixels (frame included) goes on a screen of `screen` pixels:
  // centred, or at the top or left edge where it is larger than the screen.
  static QPoint centredPosition(const QSize& screen, const QSize& outer);

  // The session's state, for tests and for what the window shows.
  QString mapPath() const { return mapPath_; }
  const plantscatter::Image* map() const { return map_.get(); }
  const plantscatter::PlantCounts& counts() const { return counts_; }
  bool isProcessed() const { return processed_; }
  // The plants placed by the processing run; empty before it.
  const std::vector<plantscatter::PlantRecord>& plants() const { return plants_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void createControls();
  void showLegend(std::span<const uint8_t> legendPng);
  void centreOnScreen();

  void loadMap();
  void recount();
  void process();
  void exportPlants();
  bool runLongWork(const QString& label,
                   const std::function<bool(const plantscatter::ProgressFn&)>& work);
  void showMessage(const QString& caption, const QString& text);

  plantscatter::Random& random_;
  MessageBoxes& messages_;

  MapFileList* mapFileList_ = nullptr;
  QPushButton* processButton_ = nullptr;
  QPushButton* quitButton_ = nullptr;
  QLabel* mapInfoLabel_ = nullptr;
  QLabel* totalLabel_ = nullptr;
  QLabel* warningLabel_ = nullptr;
  std::vector<CountField*> countFields_;
  QLabel* legendImage_ = nullptr;
  MapPreview* mapPreview_ = nullptr;

  // The current map: replaced only by a successful load.
  QString mapPath_;
  std::unique_ptr<plantscatter::Image> map_;

  plantscatter::PlantCounts counts_;

  // The one processing run: its plants, the map they were placed on, and whether its
  // export file has been written. A failed write leaves `exported_` false, so a later press
  // writes the same plants again.
  bool processed_ = false;
  bool exported_ = false;
  std::vector<plantscatter::PlantRecord> plants_;
  std::string processedPath_;
  uint32_t processedWidth_ = 0;
  uint32_t processedHeight_ = 0;

  // While long work runs on a worker thread, a close request waits for it to end.
  bool busy_ = false;
  bool closeRequested_ = false;
};

#endif  // PLANTSCATTER_APP_MAIN_WINDOW_H_
