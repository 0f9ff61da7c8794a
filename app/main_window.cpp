#include "main_window.h"

#include <QCloseEvent>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QPixmap>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <utility>

#include "count_field.h"
#include "dialog_position.h"
#include "export/export_paths.h"
#include "export/export_writer.h"
#include "map_file_list.h"
#include "map_preview.h"
#include "message_boxes.h"
#include "plants/plant_types.h"
#include "plants/png_decode.h"
#include "plants/utf8_path.h"

extern const unsigned char plantscatter_legend_png[];
extern const std::size_t plantscatter_legend_png_size;

std::span<const uint8_t> embeddedLegendPng() {
  return {plantscatter_legend_png, plantscatter_legend_png_size};
}

namespace {

using plantscatter::Image;
using plantscatter::PlantRecord;
using plantscatter::ProgressFn;

// Layout, in logical units.
constexpr int kClientWidth = 1500;
constexpr int kClientHeight = 2200;
constexpr int kRowTop = 350;
constexpr int kRowPitch = 30;
constexpr QPoint kLegendPosition(110, 350);
constexpr QPoint kMapPreviewPosition(320, 10);

const QString kProcessText = QStringLiteral(" p r o c e s s ");
const QString kQuitText = QStringLiteral(" q u i t  ");
const QString kMapInfoText = QStringLiteral(" ^  load .png map");
const QString kWarningText = QStringLiteral(
    "WARNING: Processing an image that don't contain the appropate color pixel for that "
    "plant will crash the app ");

QLabel* newTextLabel(const QString& text, const QRect& geometry, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setGeometry(geometry);
  return label;
}

// Shows how far long work has come. It has no close button and cannot be cancelled: the
// work always runs to its end.
class ProgressDialog : public QProgressDialog {
 public:
  ProgressDialog(const QString& label, QWidget* parent)
      : QProgressDialog(label, QString(), 0, 0, parent,
                        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setCancelButton(nullptr);
    setAutoClose(false);
    setAutoReset(false);
  }

 protected:
  void showEvent(QShowEvent* event) override {
    QProgressDialog::showEvent(event);
    centreOnVisibleParent(this);
  }
  void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

QString fromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The smallest whole number of logical units that holds `pixels` device pixels.
int logicalSize(uint32_t pixels, qreal ratio) {
  return int(std::ceil(pixels / ratio));
}

}  // namespace

MainWindow::MainWindow(plantscatter::Random& random, MessageBoxes& messages,
                       std::span<const uint8_t> legendPng, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      random_(random),
      messages_(messages) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QStringLiteral("Open Plant Map"));
  setFixedSize(kClientWidth, kClientHeight);
  createControls();
  centreOnScreen();
  showLegend(legendPng);

  // Alt+F4 closes the window even where no window manager turns it into a close request.
  auto* closeShortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F4), this);
  connect(closeShortcut, &QShortcut::activated, this, &QWidget::close);
}

MainWindow::~MainWindow() {
  // The preview reads the map picture; it goes first.
  delete mapPreview_;
}

void MainWindow::createControls() {
  // Creation order is Tab order: the list, the two buttons, then the ten count fields.
  mapFileList_ = new MapFileList(this);
  mapFileList_->setObjectName(QStringLiteral("MapFileList"));
  mapFileList_->setGeometry(10, 10, 300, 300);
  connect(mapFileList_, &MapFileList::entryActivated, this, &MainWindow::loadMap);

  processButton_ = new QPushButton(kProcessText, this);
  processButton_->setObjectName(QStringLiteral("ProcessButton"));
  processButton_->setGeometry(10, 700, 100, 25);
  connect(processButton_, &QPushButton::clicked, this, &MainWindow::process);

  quitButton_ = new QPushButton(kQuitText, this);
  quitButton_->setObjectName(QStringLiteral("QuitButton"));
  quitButton_->setGeometry(200, 700, 100, 25);
  connect(quitButton_, &QPushButton::clicked, this, &QWidget::close);

  mapInfoLabel_ = newTextLabel(kMapInfoText, QRect(10, 315, 300, 35), this);
  mapInfoLabel_->setObjectName(QStringLiteral("MapInfoLabel"));

  for (const plantscatter::PlantType& type : plantscatter::kPlantTypes) {
    const int top = kRowTop + kRowPitch * (type.id - 1);
    QLabel* label =
        newTextLabel(QString::fromLatin1(type.label.data(), qsizetype(type.label.size())),
                     QRect(10, top, 50, 25), this);
    label->setObjectName(QStringLiteral("PlantLabel%1").arg(type.id));
  }

  totalLabel_ = newTextLabel(QStringLiteral("total 0"), QRect(10, 660, 100, 25), this);
  totalLabel_->setObjectName(QStringLiteral("TotalLabel"));

  warningLabel_ = newTextLabel(kWarningText, QRect(10, 750, 300, 45), this);
  warningLabel_->setObjectName(QStringLiteral("WarningLabel"));
  // Opaque, so that the legend reaching under it (below a scale of 2) leaves it readable.
  warningLabel_->setAutoFillBackground(true);

  for (const plantscatter::PlantType& type : plantscatter::kPlantTypes) {
    const int top = kRowTop + kRowPitch * (type.id - 1);
    auto* field = new CountField(QStringLiteral("0"), this);
    field->setObjectName(QStringLiteral("CountField%1").arg(type.id));
    field->setGeometry(60, top, 40, 20);
    // Connected after the initial text is set: only the user's changes recount.
    connect(field, &QLineEdit::textChanged, this, &MainWindow::recount);
    countFields_.push_back(field);
  }
}

void MainWindow::showLegend(std::span<const uint8_t> legendPng) {
  Image picture;
  std::string error;
  if (!plantscatter::decode_png_memory(legendPng, &picture, &error)) {
    showMessage(QStringLiteral("Error"), QStringLiteral("Could not load embedded image."));
    return;
  }
  const QImage view(picture.rgba.data(), int(picture.width), int(picture.height),
                    qsizetype(picture.stride()), QImage::Format_RGBA8888);
  QPixmap pixmap = QPixmap::fromImage(view);
  // One picture pixel per device pixel, and transparent rows show the window behind.
  const qreal ratio = devicePixelRatioF();
  pixmap.setDevicePixelRatio(ratio);

  legendImage_ = new QLabel(this);
  legendImage_->setObjectName(QStringLiteral("LegendImage"));
  legendImage_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  legendImage_->setPixmap(pixmap);
  legendImage_->setGeometry(QRect(kLegendPosition, QSize(logicalSize(picture.width, ratio),
                                                         logicalSize(picture.height, ratio))));
  // Below a scale of 2 the picture reaches over the quit button and the warning; they stay
  // whole above it, and a click on them reaches them.
  legendImage_->lower();
}

QPoint MainWindow::centredPosition(const QSize& screen, const QSize& outer) {
  return {(screen.width() - std::min(screen.width(), outer.width())) / 2,
          (screen.height() - std::min(screen.height(), outer.height())) / 2};
}

void MainWindow::centreOnScreen() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  // The rule works on whole device pixels; Qt positions windows in logical units.
  const qreal ratio = screen->devicePixelRatio();
  const QRect area = screen->geometry();
  const QSize screenPixels = (QSizeF(area.size()) * ratio).toSize();
  const QSize outerPixels = (QSizeF(frameGeometry().size()) * ratio).toSize();
  const QPoint pixels = centredPosition(screenPixels, outerPixels);
  move(area.topLeft() + (QPointF(pixels) / ratio).toPoint());
}

QWidget* MainWindow::control(int number) const {
  if (number >= CountField1Number && number < CountField1Number + plantscatter::kPlantTypeCount) {
    return countFields_[size_t(number - CountField1Number)];
  }
  switch (number) {
    case WindowNumber:
      return const_cast<MainWindow*>(this);
    case MapFileListNumber:
      return mapFileList_;
    case MapPreviewNumber:
      return mapPreview_;
    case LegendImageNumber:
      return legendImage_;
    case TotalLabelNumber:
      return totalLabel_;
    case WarningLabelNumber:
      return warningLabel_;
    case MapInfoLabelNumber:
      return mapInfoLabel_;
    case ProcessButtonNumber:
      return processButton_;
    case QuitButtonNumber:
      return quitButton_;
    default:
      return nullptr;
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Nothing is asked and nothing is written on the way out. Work under way is finished
  // first: a half-written export file would be worse than a short wait.
  if (busy_) {
    closeRequested_ = true;
    event->ignore();
    return;
  }
  event->accept();
}

void MainWindow::loadMap() {
  const int index = mapFileList_->selectedIndex();
  if (index < 0) return;
  const QString path = mapFileList_->currentFolderText() + mapFileList_->entryText(index);
  // Case-sensitive and anywhere in the path, not a test of the ending.
  if (!path.contains(QStringLiteral(".png"))) return;

  auto picture = std::make_unique<Image>();
  const std::filesystem::path file = plantscatter::path_from_utf8(path.toStdString());
  std::string error;
  const bool decoded = runLongWork(tr("Loading the map..."), [&](const ProgressFn& progress) {
    plantscatter::DecodeOptions options;
    options.progress = [&progress](uint64_t done, uint64_t total) {
      return progress(total == 0 ? 1.0 : double(done) / double(total));
    };
    return plantscatter::decode_png_file(file, picture.get(), &error, options);
  });
  if (closeRequested_) {
    close();
    return;
  }
  // A map that cannot be read or decoded changes nothing, and says nothing.
  if (!decoded) return;

  // The old preview goes before the old picture it shows is released.
  delete mapPreview_;
  mapPreview_ = nullptr;
  map_ = std::move(picture);
  mapPath_ = path;

  mapPreview_ = new MapPreview(map_.get(), this);
  mapPreview_->setObjectName(QStringLiteral("MapPreview"));
  mapPreview_->move(kMapPreviewPosition);
  mapPreview_->show();

  mapInfoLabel_->setText(mapPath_ + QStringLiteral("    ") + QString::number(map_->width) +
                         QStringLiteral(" x ") + QString::number(map_->height));
}

void MainWindow::recount() {
  // Every field is read again, whichever one changed.
  for (const plantscatter::PlantType& type : plantscatter::kPlantTypes) {
    const QString text = countFields_[size_t(type.id - 1)]->text();
    counts_[type.id] = plantscatter::count_from_text(text.toStdString());
  }
  totalLabel_->setText(QStringLiteral("plant count: ") + QString::number(counts_.total()));
}

void MainWindow::process() {
  const int64_t total = counts_.total();
  if (total == 0) showMessage(QString(), QStringLiteral("no plants to process"));
  if (!map_) showMessage(QString(), QStringLiteral("no image map loaded"));
  if (total == 0 || !map_) return;

  // Plants are placed once per run. Only an export that failed to write is tried again.
  if (processed_) {
    if (!exported_) exportPlants();
    return;
  }

  std::string error;
  const std::string mapPath = mapPath_.toStdString();
  if (!plantscatter::check_counts(counts_, &error) ||
      !plantscatter::check_local_map_path(mapPath, &error)) {
    showMessage(QString(), fromUtf8(error));
    return;
  }

  std::vector<PlantRecord> plants;
  const plantscatter::PlantCounts counts = counts_;
  const Image& map = *map_;
  const bool placed = runLongWork(tr("Placing plants..."), [&](const ProgressFn& progress) {
    return plantscatter::scatter_image(map, counts, random_, &plants, &error, progress);
  });
  if (closeRequested_) {
    close();
    return;
  }
  if (!placed) {
    showMessage(QString(), fromUtf8(error));
    return;
  }

  plantscatter::mark_plants(map_.get(), plants);
  mapPreview_->update();
  processed_ = true;
  plants_ = std::move(plants);
  processedPath_ = mapPath;
  processedWidth_ = map_->width;
  processedHeight_ = map_->height;
  exportPlants();
}

void MainWindow::exportPlants() {
  const plantscatter::ExportPaths paths = plantscatter::derive_export_paths(processedPath_);
  showMessage(QString(), fromUtf8(paths.export_path));

  plantscatter::ExportInput input;
  input.map_path = processedPath_;
  input.width = processedWidth_;
  input.height = processedHeight_;
  input.plants = plants_;
  const std::filesystem::path file = plantscatter::path_from_utf8(paths.export_path);
  std::string error;
  const bool written = runLongWork(tr("Writing the export file..."), [&](const ProgressFn&) {
    return plantscatter::write_export_file(input, random_, file, &error);
  });
  exported_ = written;
  if (closeRequested_) {
    close();
    return;
  }
  if (!written) showMessage(QString(), fromUtf8(error));
}

bool MainWindow::runLongWork(const QString& label,
                             const std::function<bool(const ProgressFn&)>& work) {
  // Progress in thousandths, or -1 until the work first reports.
  std::atomic<int> permille{-1};
  const ProgressFn progress = [&permille](double fraction) {
    permille.store(int(std::lround(std::clamp(fraction, 0.0, 1.0) * 1000)));
    return true;
  };

  // Shown only when the work takes longer than about a second. It is not modal: input to
  // the window is held back by the event loop below instead, and there is nothing to cancel.
  ProgressDialog dialog(label, this);
  dialog.setMinimumDuration(1000);
  dialog.setValue(0);

  QTimer ticker;
  ticker.setInterval(100);
  connect(&ticker, &QTimer::timeout, &dialog, [&dialog, &permille] {
    const int value = permille.load();
    if (value < 0) return;
    if (dialog.maximum() == 0) dialog.setRange(0, 1000);
    dialog.setValue(value);
  });

  QFutureWatcher<bool> watcher;
  QEventLoop loop;
  connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);

  busy_ = true;
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  watcher.setFuture(QtConcurrent::run([&work, &progress] { return work(progress); }));
  ticker.start();
  // The window is drawn and timers run, but mouse and keyboard input stays queued until
  // the work is done, as if the work ran here.
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  ticker.stop();
  QGuiApplication::restoreOverrideCursor();
  busy_ = false;
  return watcher.result();
}

void MainWindow::showMessage(const QString& caption, const QString& text) {
  messages_.showMessage(this, caption, text);
}
