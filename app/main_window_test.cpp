#include "main_window.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QWindow>
#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "count_field.h"
#include "map_file_list.h"
#include "map_preview.h"
#include "message_boxes.h"
#include "plants/image.h"
#include "plants/plant_types.h"
#include "plants/png_decode.h"
#include "plants/png_encode.h"
#include "plants/utf8_path.h"

namespace {

using plantscatter::Image;
using plantscatter::Rgb;

constexpr int kWaitMs = 10000;
constexpr uint64_t kSeed = 20240611;

const QString kWarning = QStringLiteral(
    "WARNING: Processing an image that don't contain the appropate color pixel for that plant "
    "will crash the app ");

struct Message {
  QString caption;
  QString text;
};

// Answers every box at once and keeps what it said; `onShow` looks at the window while a
// box is open.
class RecordingMessages : public MessageBoxes {
 public:
  void showMessage(QWidget* /*parent*/, const QString& caption, const QString& text) override {
    shown.push_back({caption, text});
    if (onShow) onShow(shown.back());
  }

  QStringList texts() const {
    QStringList result;
    for (const Message& m : shown) result << m.text;
    return result;
  }
  // Caption and text of each box, as "[caption] text".
  QStringList log() const {
    QStringList result;
    for (const Message& m : shown) result << QStringLiteral("[%1] %2").arg(m.caption, m.text);
    return result;
  }

  std::vector<Message> shown;
  std::function<void(const Message&)> onShow;
};

// One program run: its random source, its message boxes and its window, shown.
struct Session {
  explicit Session(std::span<const uint8_t> legend = embeddedLegendPng()) : random(kSeed) {
    window = std::make_unique<MainWindow>(random, messages, legend);
    window->show();
  }

  bool ready() {
    return QTest::qWaitForWindowExposed(window.get()) &&
           QTest::qWaitFor([this] { return !list()->isLoading(); }, kWaitMs);
  }

  MapFileList* list() const { return qobject_cast<MapFileList*>(window->control(3)); }
  CountField* field(int typeId) const {
    return qobject_cast<CountField*>(window->control(6 + typeId));
  }
  QString labelText(int number) const {
    return qobject_cast<QLabel*>(window->control(number))->text();
  }
  qreal ratio() const { return window->devicePixelRatioF(); }
  void press(int number) const { QTest::mouseClick(window->control(number), Qt::LeftButton); }

  plantscatter::Random random;
  RecordingMessages messages;
  std::unique_ptr<MainWindow> window;
};

Image filledImage(uint32_t width, uint32_t height, Rgb colour, uint8_t alpha = 255) {
  Image image;
  image.width = width;
  image.height = height;
  image.rgba.resize(size_t{width} * height * 4);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      image.set_pixel(x, y, colour);
      image.row(y)[x * 4 + 3] = alpha;
    }
  }
  return image;
}

bool writePng(const Image& image, const QString& path) {
  std::string error;
  return plantscatter::encode_png_file(image, plantscatter::path_from_utf8(path.toStdString()),
                                       &error);
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList readLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
}

bool openFolder(MapFileList* list, const QString& folder) {
  QSignalSpy shown(list, &MapFileList::contentChanged);
  list->setCurrentFolder(folder);
  return shown.wait(kWaitMs) && !list->isLoading();
}

enum class Activation { DoubleClick, Enter };

// Selects the entry and activates it as the user would.
bool activate(MapFileList* list, const QString& name, Activation how) {
  int row = -1;
  for (int i = 0; i < list->entryCount(); ++i) {
    if (list->entryText(i) == name) row = i;
  }
  if (row < 0) return false;
  QTreeView* view = list->view();
  const QModelIndex index = view->model()->index(row, 0);
  view->scrollTo(index);
  const QPoint centre = view->visualRect(index).center();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, centre);
  if (how == Activation::DoubleClick) {
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, centre);
  } else {
    QTest::keyClick(view, Qt::Key_Return);
  }
  return true;
}

// The window's pixels under a logical rectangle, one image pixel per device pixel.
QImage grabDevicePixels(QWidget* window, const QRect& logical) {
  return window->grab(logical).toImage().convertToFormat(QImage::Format_RGB32);
}

QRgb rgbOf(Rgb c) {
  return qRgb(c.r, c.g, c.b);
}

int countPixels(const Image& image, Rgb colour) {
  int n = 0;
  for (uint32_t y = 0; y < image.height; ++y) {
    for (uint32_t x = 0; x < image.width; ++x) n += image.pixel(x, y) == colour;
  }
  return n;
}

// The legend's bands as the program's legend picture must hold them.
struct Band {
  int firstRow;
  int lastRow;
  Rgb colour;
};
constexpr Band kLegendBands[] = {
    {0, 38, {0, 255, 255}},      {60, 98, {0, 0, 255}},     {121, 158, {255, 0, 255}},
    {181, 218, {255, 0, 0}},     {241, 278, {255, 132, 0}}, {301, 339, {255, 255, 0}},
    {361, 399, {0, 255, 0}},     {421, 458, {0, 0, 0}},     {481, 519, {64, 64, 64}},
    {541, 578, {128, 128, 128}},
};

const Band* bandAt(int row) {
  for (const Band& band : kLegendBands) {
    if (row >= band.firstRow && row <= band.lastRow) return &band;
  }
  return nullptr;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void controls_data();
  void controls();
  void geometry_data();
  void geometry();
  void windowFeatures();
  void centredPosition_data();
  void centredPosition();
  void tabOrder();

  void legendPictureRows();
  void legendShownUnscaled();
  void legendFailure_data();
  void legendFailure();

  void countFieldEditing_data();
  void countFieldEditing();
  void totalOfAllTenFields();
  void countFieldLengthLimit();

  void loadsMapThroughList();

  void processRefusals_data();
  void processRefusals();
  void processWritesExportBesideMap();
  void processOnlyOnce();
  void failedWriteIsReportedAndTriedAgain();
  void writeFaultsLeaveTheWindowWorking_data();
  void writeFaultsLeaveTheWindowWorking();
  void awkwardMapPaths_data();
  void awkwardMapPaths();

  void quitEndsProgram_data();
  void quitEndsProgram();

  void messageBoxHasOneOkButtonAndNoIcon();

 private:
  QTemporaryDir dir_;
};

void MainWindowTest::controls_data() {
  QTest::addColumn<int>("number");
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("className");
  QTest::addColumn<QString>("text");

  QTest::newRow("3") << 3 << "MapFileList"
                     << "MapFileList"
                     << "";
  QTest::newRow("5") << 5 << "LegendImage"
                     << "QLabel"
                     << "";
  for (int id = 1; id <= 10; ++id) {
    QTest::addRow("%d", 6 + id) << 6 + id << QStringLiteral("CountField%1").arg(id) << "CountField"
                                << "0";
  }
  QTest::newRow("17") << 17 << "TotalLabel"
                      << "QLabel"
                      << "total 0";
  QTest::newRow("18") << 18 << "WarningLabel"
                      << "QLabel" << kWarning;
  QTest::newRow("19") << 19 << "MapInfoLabel"
                      << "QLabel"
                      << " ^  load .png map";
  QTest::newRow("20") << 20 << "ProcessButton"
                      << "QPushButton"
                      << " p r o c e s s ";
  QTest::newRow("21") << 21 << "QuitButton"
                      << "QPushButton"
                      << " q u i t  ";
}

void MainWindowTest::controls() {
  QFETCH(int, number);
  QFETCH(QString, name);
  QFETCH(QString, className);
  QFETCH(QString, text);

  Session s;
  QWidget* control = s.window->control(number);
  QVERIFY(control != nullptr);
  QCOMPARE(control->objectName(), name);
  QCOMPARE(QString::fromLatin1(control->metaObject()->className()), className);
  QCOMPARE(control->parentWidget(), s.window.get());
  if (auto* label = qobject_cast<QLabel*>(control); label && number != 5) {
    QCOMPARE(label->text(), text);
    QCOMPARE(label->textFormat(), Qt::PlainText);  // "&" shows as itself
    QVERIFY(label->wordWrap());
  } else if (auto* button = qobject_cast<QPushButton*>(control)) {
    QCOMPARE(button->text(), text);
  } else if (auto* field = qobject_cast<CountField*>(control)) {
    QCOMPARE(field->text(), text);
  }
  // Numbers that no control has, and the preview before any map is loaded.
  QCOMPARE(s.window->control(0), s.window.get());
  for (int free : {1, 2, 4, 6, 22}) QCOMPARE(s.window->control(free), nullptr);
}

void MainWindowTest::geometry_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QRect>("logical");

  QTest::newRow("MapFileList") << "MapFileList" << QRect(10, 10, 300, 300);
  QTest::newRow("ProcessButton") << "ProcessButton" << QRect(10, 700, 100, 25);
  QTest::newRow("QuitButton") << "QuitButton" << QRect(200, 700, 100, 25);
  QTest::newRow("MapInfoLabel") << "MapInfoLabel" << QRect(10, 315, 300, 35);
  for (int k = 1; k <= 10; ++k) {
    const int y = 350 + 30 * (k - 1);
    QTest::addRow("PlantLabel%d", k)
        << QStringLiteral("PlantLabel%1").arg(k) << QRect(10, y, 50, 25);
    QTest::addRow("CountField%d", k)
        << QStringLiteral("CountField%1").arg(k) << QRect(60, y, 40, 20);
  }
  QTest::newRow("TotalLabel") << "TotalLabel" << QRect(10, 660, 100, 25);
  QTest::newRow("WarningLabel") << "WarningLabel" << QRect(10, 750, 300, 45);
}

void MainWindowTest::geometry() {
  QFETCH(QString, name);
  QFETCH(QRect, logical);

  Session s;
  QVERIFY(s.ready());
  QWidget* control = s.window->findChild<QWidget*>(name);
  QVERIFY(control != nullptr);
  QCOMPARE(control->geometry(), logical);

  // Qt scales logical units by the device pixel ratio; the known case at 1.5 in pixels.
  const qreal ratio = s.ratio();
  if (name == QLatin1String("CountField2") && qFuzzyCompare(ratio, 1.5)) {
    const QRectF device(QPointF(control->mapTo(s.window.get(), QPoint(0, 0))) * ratio,
                        QSizeF(control->size()) * ratio);
    QCOMPARE(device, QRectF(90, 570, 60, 30));
  }
}

void MainWindowTest::windowFeatures() {
  Session s;
  MainWindow* w = s.window.get();
  QCOMPARE(w->windowTitle(), QStringLiteral("Open Plant Map"));
  QCOMPARE(w->size(), QSize(1500, 2200));
  QCOMPARE(w->minimumSize(), QSize(1500, 2200));
  QCOMPARE(w->maximumSize(), QSize(1500, 2200));
  const Qt::WindowFlags flags = w->windowFlags();
  QVERIFY(flags & Qt::WindowCloseButtonHint);
  QVERIFY(flags & Qt::WindowTitleHint);
  QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
  QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
  QVERIFY(!w->testAttribute(Qt::WA_SetWindowIcon));
  QVERIFY(!w->testAttribute(Qt::WA_SetPalette));
  QCOMPARE(w->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Window));
  // The scale the run was started with is the one the window works at.
  QCOMPARE(w->devicePixelRatioF(), qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble());
}

void MainWindowTest::centredPosition_data() {
  QTest::addColumn<QSize>("screen");
  QTest::addColumn<QSize>("outer");
  QTest::addColumn<QPoint>("position");

  QTest::newRow("taller than the screen")
      << QSize(1920, 1200) << QSize(1502, 2231) << QPoint(209, 0);
  QTest::newRow("halves round down") << QSize(2000, 3000) << QSize(1501, 2231) << QPoint(249, 384);
  QTest::newRow("larger both ways") << QSize(800, 600) << QSize(1500, 2200) << QPoint(0, 0);
  QTest::newRow("exact fit") << QSize(1500, 2200) << QSize(1500, 2200) << QPoint(0, 0);
}

void MainWindowTest::centredPosition() {
  QFETCH(QSize, screen);
  QFETCH(QSize, outer);
  QFETCH(QPoint, position);
  QCOMPARE(MainWindow::centredPosition(screen, outer), position);
}

void MainWindowTest::tabOrder() {
  Session s;
  QVERIFY(s.ready());
  QApplication::setActiveWindow(s.window.get());
  QVERIFY(QTest::qWaitForWindowActive(s.window.get()));

  MapFileList* list = s.list();
  list->setFocus(Qt::OtherFocusReason);
  QVERIFY(list->hasFocus());

  const auto focusedName = [&s]() -> QString {
    for (int number = 0; number <= 21; ++number) {
      QWidget* control = s.window->control(number);
      if (number != 0 && control && control->hasFocus()) return control->objectName();
    }
    QWidget* focus = QApplication::focusWidget();
    return focus ? QStringLiteral("other: ") + focus->objectName() : QStringLiteral("none");
  };
  QStringList visited;
  for (int i = 0; i < 13; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited << focusedName();
  }
  QStringList expected{QStringLiteral("ProcessButton"), QStringLiteral("QuitButton")};
  for (int id = 1; id <= 10; ++id) expected << QStringLiteral("CountField%1").arg(id);
  expected << QStringLiteral("MapFileList");
  QCOMPARE(visited, expected);

  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
  QCOMPARE(focusedName(), QStringLiteral("CountField10"));
}

void MainWindowTest::legendPictureRows() {
  QFile file(QStringLiteral(PLANTSCATTER_LEGEND_PNG));
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  const std::span<const uint8_t> embedded = embeddedLegendPng();
  QCOMPARE(QByteArray(reinterpret_cast<const char*>(embedded.data()), qsizetype(embedded.size())),
           bytes);

  Image legend;
  std::string error;
  QVERIFY2(plantscatter::decode_png_memory(embedded, &legend, &error), error.c_str());
  QCOMPARE(legend.width, 103u);
  QCOMPARE(legend.height, 579u);
  for (uint32_t y = 0; y < legend.height; ++y) {
    const Band* band = bandAt(int(y));
    const Rgb colour = band ? band->colour : Rgb{255, 255, 255};
    const uint8_t alpha = band ? 255 : 0;
    for (uint32_t x = 0; x < legend.width; ++x) {
      if (legend.pixel(x, y) != colour || legend.alpha(x, y) != alpha) {
        QFAIL(
            qPrintable(QStringLiteral("legend pixel %1,%2 is not the band table's").arg(x).arg(y)));
      }
    }
  }
}

void MainWindowTest::legendShownUnscaled() {
  Session s;
  QVERIFY(s.ready());
  QVERIFY(s.messages.shown.empty());
  auto* legend = qobject_cast<QLabel*>(s.window->control(5));
  QVERIFY(legend != nullptr);
  const qreal ratio = s.ratio();
  const QPixmap pixmap = legend->pixmap();
  QCOMPARE(pixmap.size(), QSize(103, 579));
  QCOMPARE(pixmap.devicePixelRatio(), ratio);
  QCOMPARE(legend->pos(), QPoint(110, 350));
  QCOMPARE(legend->size(), QSize(int(std::ceil(103 / ratio)), int(std::ceil(579 / ratio))));

  // Device pixels from the legend's corner: the bands one for one, and in the transparent
  // rows whatever lies beneath (where nothing does, the window's face colour). Below a
  // scale of 2 the legend reaches under the quit button and the warning, which stay on top.
  const QRect area(110, 350, int(std::ceil(110 / ratio)), int(std::ceil(590 / ratio)));
  const QImage shown = grabDevicePixels(s.window.get(), area);
  legend->hide();
  const QImage beneath = grabDevicePixels(s.window.get(), area);
  legend->show();
  QVERIFY(shown.width() >= 104 && shown.height() >= 580);
  QRegion above;
  for (int number : {18, 21}) {
    const QRect r = s.window->control(number)->geometry().translated(-area.topLeft());
    above += QRectF(QPointF(r.topLeft()) * ratio, QSizeF(r.size()) * ratio).toAlignedRect();
  }
  QCOMPARE(s.window->childAt(205, 712), s.window->control(21));
  QCOMPARE(s.window->childAt(150, 760), s.window->control(18));
  const QRgb face = s.window->palette().color(QPalette::Window).rgb();
  for (int y = 0; y < 580; ++y) {
    const Band* band = bandAt(y);
    for (int x = 0; x < 104; ++x) {
      if (above.contains(QPoint(x, y))) continue;
      const QRgb expected = band && x < 103 ? rgbOf(band->colour) : beneath.pixel(x, y);
      if (shown.pixel(x, y) != expected) {
        QFAIL(qPrintable(QStringLiteral("device pixel %1,%2 of the legend is %3, not %4")
                             .arg(x)
                             .arg(y)
                             .arg(shown.pixel(x, y), 0, 16)
                             .arg(expected, 0, 16)));
      }
    }
  }
  QCOMPARE(shown.pixel(50, 45), face);  // the first gap, with nothing beneath
}

void MainWindowTest::legendFailure_data() {
  QTest::addColumn<QByteArray>("legend");
  const std::span<const uint8_t> real = embeddedLegendPng();
  QTest::newRow("empty") << QByteArray();
  QTest::newRow("not a picture") << QByteArray("legend");
  QTest::newRow("truncated") << QByteArray(reinterpret_cast<const char*>(real.data()),
                                           qsizetype(real.size() / 2));
}

void MainWindowTest::legendFailure() {
  QFETCH(QByteArray, legend);
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(legend.constData()),
                                       size_t(legend.size()));
  Session s(bytes);
  QVERIFY(s.ready());
  QCOMPARE(s.messages.log(), QStringList{"[Error] Could not load embedded image."});
  QCOMPARE(s.window->control(5), nullptr);
  // The rest of the window works as usual.
  s.field(4)->setText(QStringLiteral("6"));
  QCOMPARE(s.labelText(17), QStringLiteral("plant count: 6"));
}

void MainWindowTest::countFieldEditing_data() {
  QTest::addColumn<QString>("clipboard");
  QTest::addColumn<QTestEventList>("events");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("total");

  // Typing, into a field that shows "0" with the cursor at its end.
  QTestEventList digits;
  digits.addKeyClicks(QStringLiteral("12"));
  QTest::newRow("digits") << "" << digits << "012"
                          << "plant count: 12";
  QTestEventList letter;
  letter.addKeyClick(Qt::Key_A);
  QTest::newRow("letter refused") << "" << letter << "0"
                                  << "total 0";
  QTestEventList minus;
  minus.addKeyClick(Qt::Key_Minus);
  QTest::newRow("minus refused") << "" << minus << "0"
                                 << "total 0";
  QTestEventList mixed;
  mixed.addKeyClicks(QStringLiteral("4x 5.+6"));
  QTest::newRow("only digits go in") << "" << mixed << "0456"
                                     << "plant count: 456";
  QTestEventList altLetter;
  altLetter.addKeyClick(Qt::Key_B, Qt::AltModifier);
  QTest::newRow("alt letter refused") << "" << altLetter << "0"
                                      << "total 0";
  QTestEventList backspace;
  backspace.addKeyClick(Qt::Key_Backspace);
  QTest::newRow("backspace empties") << "" << backspace << ""
                                     << "plant count: 0";
  QTestEventList homeDelete;
  homeDelete.addKeyClicks(QStringLiteral("9"));
  homeDelete.addKeyClick(Qt::Key_Home);
  homeDelete.addKeyClick(Qt::Key_Delete);
  QTest::newRow("home and delete") << "" << homeDelete << "9"
                                   << "plant count: 9";
  QTestEventList arrows;
  arrows.addKeyClicks(QStringLiteral("5"));
  arrows.addKeyClick(Qt::Key_Left);
  arrows.addKeyClick(Qt::Key_Left);
  arrows.addKeyClicks(QStringLiteral("3"));
  QTest::newRow("arrows move the cursor") << "" << arrows << "305"
                                          << "plant count: 305";
  QTestEventList selectAll;
  selectAll.addKeyClick(Qt::Key_A, Qt::ControlModifier);
  selectAll.addKeyClicks(QStringLiteral("7"));
  QTest::newRow("select all and type") << "" << selectAll << "7"
                                       << "plant count: 7";
  QTestEventList undo;
  undo.addKeyClicks(QStringLiteral("8"));
  undo.addKeyClick(Qt::Key_Z, Qt::ControlModifier);
  QTest::newRow("undo") << "" << undo << "0"
                        << "plant count: 0";

  // Pasting over the whole text; the text goes in as it is and counts by the text rule.
  const auto paste = [] {
    QTestEventList events;
    events.addKeyClick(Qt::Key_A, Qt::ControlModifier);
    events.addKeyClick(Qt::Key_V, Qt::ControlModifier);
    return events;
  };
  QTest::newRow("paste 12a") << "12a" << paste() << "12a"
                             << "plant count: 12";
  QTest::newRow("paste empty") << "" << paste() << ""
                               << "plant count: 0";
  QTest::newRow("paste blanks") << " \t " << paste() << " \t "
                                << "plant count: 0";
  QTest::newRow("paste 007") << "007" << paste() << "007"
                             << "plant count: 7";
  QTest::newRow("paste 12 5") << "12 5" << paste() << "12 5"
                              << "plant count: 12";
  QTest::newRow("paste -3") << "-3" << paste() << "-3"
                            << "plant count: -3";
  QTest::newRow("paste $1F") << "$1F" << paste() << "$1F"
                             << "plant count: 31";
  QTest::newRow("paste %101") << "%101" << paste() << "%101"
                              << "plant count: 5";
  QTest::newRow("paste + 5") << "+ 5" << paste() << "+ 5"
                             << "plant count: 0";
  QTest::newRow("paste - 5") << "- 5" << paste() << "- 5"
                             << "plant count: 0";
  QTest::newRow("paste tab 42") << "\t42" << paste() << "\t42"
                                << "plant count: 42";
  QTest::newRow("paste 2^64") << "18446744073709551616" << paste() << "18446744073709551616"
                              << "plant count: 0";
  QTest::newRow("paste 2^63") << "9223372036854775808" << paste() << "9223372036854775808"
                              << "plant count: -9223372036854775808";
}

void MainWindowTest::countFieldEditing() {
  QFETCH(QString, clipboard);
  QFETCH(QTestEventList, events);
  QFETCH(QString, text);
  QFETCH(QString, total);

  Session s;
  QVERIFY(s.ready());
  QApplication::clipboard()->setText(clipboard);
  CountField* field = s.field(3);
  field->setFocus(Qt::OtherFocusReason);
  events.simulate(field);
  QCOMPARE(field->text(), text);
  QCOMPARE(s.labelText(17), total);
  // Every field but this one still counts 0.
  QCOMPARE(s.window->counts()[3], plantscatter::count_from_text(text.toStdString()));
}

void MainWindowTest::totalOfAllTenFields() {
  Session s;
  QVERIFY(s.ready());
  for (int id = 1; id <= 10; ++id) s.field(id)->setText(QString::number(id));
  QCOMPARE(s.labelText(17), QStringLiteral("plant count: 55"));
  for (int id = 1; id <= 10; ++id) QCOMPARE(s.window->counts()[id], int64_t{id});

  // The sum wraps around in 64 bits; fields that were not touched last still count.
  s.field(1)->setText(QStringLiteral("9223372036854775807"));
  QCOMPARE(s.labelText(17),
           QStringLiteral("plant count: -9223372036854775755"));  // 2^63 - 1 + 54, wrapped
  s.field(10)->setText(QStringLiteral("abc"));
  QCOMPARE(s.labelText(17), QStringLiteral("plant count: -9223372036854775765"));
}

void MainWindowTest::countFieldLengthLimit() {
  Session s;
  QVERIFY(s.ready());
  CountField* field = s.field(1);
  QCOMPARE(field->maxLength(), 1'048'576);
  QApplication::clipboard()->setText(QString(1'048'577, u'1'));
  field->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
  QCOMPARE(field->text().size(), 1'048'576);
}

void MainWindowTest::loadsMapThroughList() {
  QTemporaryDir temp;
  QVERIFY(temp.isValid());
  const QString root = QDir(temp.path()).canonicalPath();
  // forest.png: 5 x 4, type 1 everywhere but a red pixel and a transparent one.
  Image forest = filledImage(5, 4, {0, 255, 255});
  forest.set_pixel(2, 1, {255, 0, 0});
  forest.row(3)[4 * 4 + 3] = 0;
  QVERIFY(writePng(forest, root + "/forest.png"));
  QVERIFY(writePng(filledImage(2, 2, {0, 0, 255}), root + "/SHOUT.PNG"));
  QVERIFY(writeBytes(root + "/broken.png", "not a picture"));
  QVERIFY(QDir(root).mkdir(QStringLiteral("old.png")));
  QVERIFY(writePng(filledImage(3, 2, {0, 255, 0}), root + "/old.png/INNER.PNG"));

  Session s;
  QVERIFY(s.ready());
  s.field(1)->setText(QStringLiteral("3"));
  MapFileList* list = s.list();
  QVERIFY(openFolder(list, root));

  // Undecodable content, and a name without the lower-case ".png": nothing happens.
  QVERIFY(activate(list, QStringLiteral("broken.png"), Activation::DoubleClick));
  QVERIFY(activate(list, QStringLiteral("SHOUT.PNG"), Activation::Enter));
  QCOMPARE(s.window->control(4), nullptr);
  QCOMPARE(s.window->map(), nullptr);
  QCOMPARE(s.labelText(19), QStringLiteral(" ^  load .png map"));

  QVERIFY(activate(list, QStringLiteral("forest.png"), Activation::DoubleClick));
  const QString forestPath = root + "/forest.png";
  QCOMPARE(s.window->mapPath(), forestPath);
  QCOMPARE(s.labelText(19), forestPath + "    5 x 4");
  QPointer<QWidget> preview = s.window->control(4);
  QVERIFY(preview);
  QCOMPARE(preview->objectName(), QStringLiteral("MapPreview"));
  const qreal ratio = s.ratio();
  QCOMPARE(preview->geometry(),
           QRect(320, 10, int(std::ceil(5 / ratio)), int(std::ceil(4 / ratio))));

  // One map pixel per device pixel from (320, 10); the transparent pixel shows the window.
  const QImage shown = grabDevicePixels(s.window.get(), QRect(320, 10, 10, 10));
  const QRgb face = s.window->palette().color(QPalette::Window).rgb();
  for (uint32_t y = 0; y < 4; ++y) {
    for (uint32_t x = 0; x < 5; ++x) {
      const QRgb expected = forest.alpha(x, y) == 0 ? face : rgbOf(forest.pixel(x, y));
      QCOMPARE(shown.pixel(int(x), int(y)), expected);
    }
  }
  QCOMPARE(shown.pixel(5, 0), face);
  QCOMPARE(shown.pixel(0, 4), face);

  // Failures after a load leave the loaded map as it is.
  QVERIFY(activate(list, QStringLiteral("broken.png"), Activation::Enter));
  QCOMPARE(s.window->mapPath(), forestPath);
  QCOMPARE(s.window->control(4), preview.data());
  QCOMPARE(s.labelText(19), forestPath + "    5 x 4");

  // A folder named like a map opens; a file inside it passes the test through the folder's
  // name and replaces the map, the preview and the label, but not the counts.
  QSignalSpy opened(list, &MapFileList::contentChanged);
  QVERIFY(activate(list, QStringLiteral("old.png"), Activation::DoubleClick));
  QVERIFY(opened.wait(kWaitMs));
  QCOMPARE(list->currentFolder(), root + "/old.png");
  QCOMPARE(s.window->mapPath(), forestPath);
  QVERIFY(activate(list, QStringLiteral("INNER.PNG"), Activation::Enter));
  const QString innerPath = root + "/old.png/INNER.PNG";
  QCOMPARE(s.window->mapPath(), innerPath);
  QCOMPARE(s.labelText(19), innerPath + "    3 x 2");
  QVERIFY(!preview);
  QVERIFY(s.window->control(4) != nullptr);
  QCOMPARE(s.window->control(4)->size(),
           QSize(int(std::ceil(3 / ratio)), int(std::ceil(2 / ratio))));
  QCOMPARE(s.labelText(17), QStringLiteral("plant count: 3"));
  QVERIFY(s.messages.shown.empty());
}

// A map whose type 2 pixels are few: two of them, at (0, 0) and (3, 1).
static QString writeScarceMap(const QString& folder) {
  Image map = filledImage(4, 3, {0, 255, 255});
  map.set_pixel(0, 0, {0, 0, 255});
  map.set_pixel(3, 1, {0, 0, 255});
  const QString path = folder + "/scarce.png";
  return writePng(map, path) ? path : QString();
}

void MainWindowTest::processRefusals_data() {
  QTest::addColumn<QStringList>("counts");
  QTest::addColumn<bool>("loadMap");
  QTest::addColumn<QStringList>("messages");

  QTest::newRow("total 0, no map")
      << QStringList{} << false << QStringList{"no plants to process", "no image map loaded"};
  QTest::newRow("total 0, map") << QStringList{} << true << QStringList{"no plants to process"};
  QTest::newRow("counts that cancel, map")
      << QStringList{"4", "-4"} << true << QStringList{"no plants to process"};
  QTest::newRow("total 5, no map")
      << QStringList{"5"} << false << QStringList{"no image map loaded"};
  QTest::newRow("negative count") << QStringList{"-3"} << true
                                  << QStringList{
                                         "The count of plant 1 is -3; a count cannot be negative."};
  QTest::newRow("negative count beside positive ones")
      << QStringList{"5", "1", "-2"} << true
      << QStringList{"The count of plant 3 is -2; a count cannot be negative."};
  QTest::newRow("too few pixels of a type")
      << QStringList{"1", "3"} << true
      << QStringList{
             "Not enough pixels of a plant's key colour; nothing was placed.\n"
             "plant 2: 3 requested, 2 pixels of its colour 0,0,255 in the map"};
  QTest::newRow("no pixels of a type")
      << QStringList{"0", "0", "0", "0", "0", "0", "0", "0", "0", "1"} << true
      << QStringList{
             "Not enough pixels of a plant's key colour; nothing was placed.\n"
             "plant 10: 1 requested, 0 pixels of its colour 128,128,128 in the map"};
}

void MainWindowTest::processRefusals() {
  QFETCH(QStringList, counts);
  QFETCH(bool, loadMap);
  QFETCH(QStringList, messages);

  QTemporaryDir temp;
  const QString folder = QDir(temp.path()).canonicalPath();
  QVERIFY(!writeScarceMap(folder).isEmpty());
  Session s;
  QVERIFY(s.ready());
  if (loadMap) {
    QVERIFY(openFolder(s.list(), folder));
    QVERIFY(activate(s.list(), QStringLiteral("scarce.png"), Activation::DoubleClick));
    QVERIFY(s.window->map() != nullptr);
  }
  for (int i = 0; i < counts.size(); ++i) s.field(i + 1)->setText(counts[i]);

  s.press(20);
  for (const Message& m : s.messages.shown) QCOMPARE(m.caption, QString());
  QCOMPARE(s.messages.texts(), messages);
  QVERIFY(!s.window->isProcessed());
  QVERIFY(s.window->plants().empty());
  QVERIFY(!QFile::exists(folder + "/scarce_export.inc"));
  if (loadMap) QCOMPARE(countPixels(*s.window->map(), plantscatter::kMarkerColour), 0);

  // A refusal is not the one run: the same press after mending the counts goes ahead.
  if (loadMap) {
    for (int id = 1; id <= 10; ++id) s.field(id)->setText(id == 2 ? "2" : "0");
    s.messages.shown.clear();
    s.press(20);
    QCOMPARE(s.messages.texts(), QStringList{folder + "/scarce_export.inc"});
    QVERIFY(s.window->isProcessed());
  }
}

void MainWindowTest::processWritesExportBesideMap() {
  QTemporaryDir temp;
  const QString folder = QDir(temp.path()).canonicalPath();
  // 6 x 5: type 1 on the top two rows, type 7 on the rest, one legend-orange pixel.
  Image original = filledImage(6, 5, {0, 255, 0});
  for (uint32_t y = 0; y < 2; ++y) {
    for (uint32_t x = 0; x < 6; ++x) original.set_pixel(x, y, {0, 255, 255});
  }
  original.set_pixel(5, 4, {255, 132, 0});
  QVERIFY(writePng(original, folder + "/map.png"));
  const QString exportPath = folder + "/map_export.inc";

  Session s;
  QVERIFY(s.ready());
  QVERIFY(openFolder(s.list(), folder));
  QVERIFY(activate(s.list(), QStringLiteral("map.png"), Activation::DoubleClick));
  s.field(1)->setText(QStringLiteral("2"));
  s.field(7)->setText(QStringLiteral("3"));

  // While the path is shown the marks are on screen and the file is not written yet.
  bool checkedWhileShown = false;
  s.messages.onShow = [&](const Message&) {
    QVERIFY(!QFile::exists(exportPath));
    const QImage shown = grabDevicePixels(s.window.get(), QRect(320, 10, 10, 10));
    int marks = 0;
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 6; ++x) marks += shown.pixel(x, y) == qRgb(30, 30, 30);
    }
    QCOMPARE(marks, 5);
    checkedWhileShown = true;
  };
  s.press(20);
  QVERIFY(checkedWhileShown);
  QCOMPARE(s.messages.log(), QStringList{"[] " + exportPath});
  QVERIFY(s.window->isProcessed());

  const QStringList lines = readLines(exportPath);
  QVERIFY(lines.size() > 21 + 5 * 6);
  QCOMPARE(lines[0], QStringLiteral("// pixel map data  v.06 - velbrin 07.21.26 "));
  QCOMPARE(lines[1], "// plant image: " + folder + "/map.png    6 x 5");
  QCOMPARE(lines[10], "#declare plant_map = \"" + folder + "/map.png\"");
  QCOMPARE(lines[11], QStringLiteral("#declare plant_count = 5 ;"));
  QCOMPARE(lines[12], QStringLiteral("#declare plant_map_scale = <6, 1, 5> ; "));
  QCOMPARE(lines[19], QStringLiteral("#declare array_plants = array mixed [6][5]  ;"));

  // Each row names a pixel of its type's key colour on the map as loaded, now marked.
  const Image& marked = *s.window->map();
  QCOMPARE(countPixels(marked, plantscatter::kMarkerColour), 5);
  QCOMPARE(countPixels(marked, {255, 132, 0}), 1);
  const QRegularExpression idLine(
      QStringLiteral(R"(^#declare array_plants \[(\d+)\]\[0\] = (\d+) ;$)"));
  const QRegularExpression posLine(
      QStringLiteral(R"(^#declare array_plants \[(\d+)\]\[1\] = <(\d+), 0, (\d+)> ;$)"));
  const std::vector<int> expectedIds{1, 1, 7, 7, 7};
  for (int row = 1; row <= 5; ++row) {
    const int first = 21 + (row - 1) * 6;
    const QRegularExpressionMatch id = idLine.match(lines[first]);
    const QRegularExpressionMatch pos = posLine.match(lines[first + 1]);
    QVERIFY2(id.hasMatch() && pos.hasMatch(), qPrintable(lines[first]));
    QCOMPARE(id.captured(1).toInt(), row);
    QCOMPARE(id.captured(2).toInt(), expectedIds[size_t(row - 1)]);
    const uint32_t x = pos.captured(2).toUInt();
    const uint32_t y = 5 - pos.captured(3).toUInt();
    QCOMPARE(original.pixel(x, y), plantscatter::plant_type(expectedIds[size_t(row - 1)]).key);
    QCOMPARE(marked.pixel(x, y), plantscatter::kMarkerColour);
    const plantscatter::PlantRecord& plant = s.window->plants()[size_t(row - 1)];
    QCOMPARE(plant.x, x);
    QCOMPARE(plant.y, y);
  }
  QCOMPARE(lines[21 + 4 * 6 + 5], QString());
}

void MainWindowTest::processOnlyOnce() {
  QTemporaryDir temp;
  const QString folder = QDir(temp.path()).canonicalPath();
  const QString mapPath = writeScarceMap(folder);
  QVERIFY(!mapPath.isEmpty());
  const QString exportPath = folder + "/scarce_export.inc";

  Session s;
  QVERIFY(s.ready());
  QVERIFY(openFolder(s.list(), folder));
  QVERIFY(activate(s.list(), QStringLiteral("scarce.png"), Activation::DoubleClick));
  s.field(1)->setText(QStringLiteral("4"));
  s.press(20);
  QCOMPARE(s.messages.texts(), QStringList{exportPath});
  const std::vector<plantscatter::PlantRecord> placed = s.window->plants();
  QCOMPARE(placed.size(), size_t{4});
  QVERIFY(QFile::remove(exportPath));

  // Same counts, other counts, the map loaded again: no second run, no file, no message.
  s.press(20);
  s.field(2)->setText(QStringLiteral("1"));
  s.press(20);
  QVERIFY(activate(s.list(), QStringLiteral("scarce.png"), Activation::Enter));
  QCOMPARE(countPixels(*s.window->map(), plantscatter::kMarkerColour), 0);
  s.press(20);
  QCOMPARE(s.messages.texts(), QStringList{exportPath});
  QVERIFY(!QFile::exists(exportPath));
  QVERIFY(s.window->plants() == placed);

  // The messages about the counts and the map still come.
  for (int id = 1; id <= 10; ++id) s.field(id)->setText(QStringLiteral("0"));
  s.press(20);
  QCOMPARE(s.messages.texts(), (QStringList{exportPath, "no plants to process"}));
}

void MainWindowTest::failedWriteIsReportedAndTriedAgain() {
  QTemporaryDir temp;
  const QString folder = QDir(temp.path()).canonicalPath();
  QVERIFY(!writeScarceMap(folder).isEmpty());
  const QString exportPath = folder + "/scarce_export.inc";
  QVERIFY(QDir(folder).mkdir(QStringLiteral("scarce_export.inc")));

  Session s;
  QVERIFY(s.ready());
  QVERIFY(openFolder(s.list(), folder));
  QVERIFY(activate(s.list(), QStringLiteral("scarce.png"), Activation::DoubleClick));
  s.field(2)->setText(QStringLiteral("2"));
  s.press(20);
  QCOMPARE(s.messages.texts(),
           (QStringList{exportPath, "cannot write " + exportPath + ": it is a folder"}));
  QVERIFY(s.window->isProcessed());
  QVERIFY(QFileInfo(exportPath).isDir());

  // The plants are kept; once the way is clear the next press writes them.
  const std::vector<plantscatter::PlantRecord> placed = s.window->plants();
  QVERIFY(QDir(folder).rmdir(QStringLiteral("scarce_export.inc")));
  s.messages.shown.clear();
  s.press(20);
  QCOMPARE(s.messages.texts(), QStringList{exportPath});
  QVERIFY(s.window->plants() == placed);
  const QStringList lines = readLines(exportPath);
  QVERIFY(lines.size() > 33);
  QCOMPARE(lines[11], QStringLiteral("#declare plant_count = 2 ;"));
  // Both type 2 pixels, in either order.
  QVERIFY(lines[22].startsWith(QStringLiteral("#declare array_plants [1][1] = <")));
  QVERIFY(lines[28].startsWith(QStringLiteral("#declare array_plants [2][1] = <")));
  QStringList positions{lines[22].section(QStringLiteral(" = "), 1),
                        lines[28].section(QStringLiteral(" = "), 1)};
  positions.sort();
  QCOMPARE(positions, (QStringList{"<0, 0, 3> ;", "<3, 0, 2> ;"}));

  // Written once, it is not written again.
  QVERIFY(QFile::remove(exportPath));
  s.press(20);
  QVERIFY(!QFile::exists(exportPath));
}

// Runs `mount` with the arguments; false when this system does not let the test mount.
static bool mount(const QStringList& arguments) {
  QProcess process;
  process.start(QStringLiteral("mount"), arguments);
  return process.waitForFinished(kWaitMs) && process.exitStatus() == QProcess::NormalExit &&
         process.exitCode() == 0;
}

// Unmounts whatever the test mounted at `path` when it goes.
struct MountGuard {
  QString path;
  ~MountGuard() {
    if (!path.isEmpty()) QProcess::execute(QStringLiteral("umount"), {path});
  }
};

void MainWindowTest::writeFaultsLeaveTheWindowWorking_data() {
  QTest::addColumn<QString>("fault");
  QTest::addColumn<QString>("reason");
  QTest::newRow("read-only export") << "read-only export" << "the file is read-only";
  QTest::newRow("folder gone") << "folder gone" << "No such file or directory";
  QTest::newRow("disk full") << "disk full" << "No space left on device";
  QTest::newRow("read-only folder") << "read-only folder" << "Read-only file system";
}

// Each fault gets its message box with the path and the reason; the earlier export stays as it
// was, no temporary file is left, and once the fault is gone the next press writes the file.
void MainWindowTest::writeFaultsLeaveTheWindowWorking() {
  QFETCH(QString, fault);
  QFETCH(QString, reason);

  QTemporaryDir temp;
  const QString folder = QDir(temp.path()).canonicalPath() + "/maps";
  QVERIFY(QDir().mkpath(folder));
  MountGuard mounted;
  if (fault == "disk full") {
    // Room for the map and a small earlier export, not for 1,000 plants (about 250 KB).
    if (!mount({"-t", "tmpfs", "-o", "size=64k", "tmpfs", folder})) {
      QSKIP("mounting a small tmpfs is not allowed here, so a full disk cannot be made");
    }
    mounted.path = folder;
  }
  const QString exportPath = folder + "/forest_export.inc";
  QVERIFY(writePng(filledImage(40, 30, {0, 0, 255}), folder + "/forest.png"));
  QVERIFY(writeBytes(exportPath, "earlier export\r\n"));
  if (fault == "read-only export") {
    QVERIFY(QFile::setPermissions(exportPath, QFile::ReadOwner | QFile::ReadGroup |
                                                  QFile::ReadOther));
  }
  if (fault == "read-only folder") {
    // A read-only mount stops root too, where permission bits would not.
    if (!mount({"--bind", folder, folder})) QSKIP("bind mounts are not allowed here");
    mounted.path = folder;
    if (!mount({"-o", "remount,ro,bind", folder})) QSKIP("read-only remounts are not allowed here");
  }

  Session s;
  QVERIFY(s.ready());
  QVERIFY(openFolder(s.list(), folder));
  QVERIFY(activate(s.list(), QStringLiteral("forest.png"), Activation::Enter));
  QVERIFY(s.window->map() != nullptr);
  s.field(2)->setText(QStringLiteral("1000"));
  if (fault == "folder gone") QVERIFY(QDir(folder).removeRecursively());

  s.press(20);
  QCOMPARE(s.messages.texts(),
           (QStringList{exportPath, "cannot write " + exportPath + ": " + reason}));
  QVERIFY(s.window->isProcessed());
  const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
  if (fault == "folder gone") {
    QVERIFY(!QFileInfo::exists(folder));
  } else {
    QCOMPARE(left, (QStringList{"forest.png", "forest_export.inc"}));
    QCOMPARE(readLines(exportPath), (QStringList{"earlier export", ""}));
  }

  // The window goes on: counts still add up, and with the fault gone the plants are written.
  s.field(3)->setText(QStringLiteral("5"));
  QCOMPARE(s.labelText(17), QStringLiteral("plant count: 1005"));
  if (fault == "read-only export") {
    QVERIFY(QFile::setPermissions(exportPath, QFile::ReadOwner | QFile::WriteOwner));
  } else if (fault == "folder gone") {
    QVERIFY(QDir().mkpath(folder));
  } else {
    QProcess::execute(QStringLiteral("umount"), {folder});
    mounted.path.clear();
  }
  s.messages.shown.clear();
  s.press(20);
  QCOMPARE(s.messages.texts(), QStringList{exportPath});
  const QStringList lines = readLines(exportPath);
  QVERIFY(lines.size() > 21);
  QCOMPARE(lines[11], QStringLiteral("#declare plant_count = 1000 ;"));
}

void MainWindowTest::awkwardMapPaths_data() {
  QTest::addColumn<QString>("folderName");
  QTest::addColumn<QString>("fileName");
  QTest::addColumn<QString>("exportName");  // empty: refused with `refusal`
  QTest::addColumn<QString>("refusal");

  QTest::newRow("non-ASCII") << QString::fromUtf8("w\xc3\xa4lder \xe6\x97\xa5") << "karte.png"
                             << "karte_export.inc" << QString();
  QTest::newRow("spaces") << "my maps" << "forest map.png" << "forest map_export.inc"
                          << QString();
  QTest::newRow("double quote") << "maps" << "say \"hi\".png" << "say \"hi\"_export.inc"
                                << QString();
  QTest::newRow("four characters") << "maps" << ".png" << "_export.inc" << QString();
  QTest::newRow("line break") << "maps" << "a\nb.png" << QString()
                              << "the map path holds a control character (byte 10)";
  QTest::newRow("backslash") << "maps" << "a\\b.png" << QString()
                             << "the map's path holds a backslash";
}

// Each name either gives a file whose map string reads back as the map's path, or a message
// box; the window works on either way.
void MainWindowTest::awkwardMapPaths() {
  QFETCH(QString, folderName);
  QFETCH(QString, fileName);
  QFETCH(QString, exportName);
  QFETCH(QString, refusal);

  QTemporaryDir temp;
  const QString folder = QDir(temp.path()).canonicalPath() + "/" + folderName;
  QVERIFY(QDir().mkpath(folder));
  const QString mapPath = folder + "/" + fileName;
  QVERIFY(writePng(filledImage(4, 3, {0, 0, 255}), mapPath));

  Session s;
  QVERIFY(s.ready());
  QVERIFY(openFolder(s.list(), folder));
  QVERIFY(activate(s.list(), fileName, Activation::DoubleClick));
  QCOMPARE(s.window->mapPath(), mapPath);
  s.field(2)->setText(QStringLiteral("2"));
  s.press(20);

  if (exportName.isEmpty()) {
    QCOMPARE(s.messages.texts().size(), 1);
    QVERIFY2(s.messages.texts()[0].contains(refusal), qPrintable(s.messages.texts()[0]));
    QVERIFY(!s.window->isProcessed());
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{fileName});
    // Still working: another map loads and is processed.
    QVERIFY(writePng(filledImage(4, 3, {0, 0, 255}), folder + "/plain.png"));
    QVERIFY(openFolder(s.list(), folder));
    QVERIFY(activate(s.list(), QStringLiteral("plain.png"), Activation::Enter));
    s.messages.shown.clear();
    s.press(20);
    QCOMPARE(s.messages.texts(), QStringList{folder + "/plain_export.inc"});
    return;
  }
  const QString exportPath = folder + "/" + exportName;
  QCOMPARE(s.messages.texts(), QStringList{exportPath});
  const QStringList lines = readLines(exportPath);
  QVERIFY(lines.size() > 21);
  QString quoted = mapPath;
  quoted.replace(QStringLiteral("\""), QStringLiteral("\\\""));
  QCOMPARE(lines[10], "#declare plant_map = \"" + quoted + "\"");
  QCOMPARE(lines[1], "// plant image: " + mapPath + "    4 x 3");
}

void MainWindowTest::quitEndsProgram_data() {
  QTest::addColumn<QString>("how");
  QTest::addColumn<bool>("loadAndProcess");
  for (const char* how : {"QuitButton", "close box", "Alt+F4"}) {
    QTest::addRow("%s, nothing loaded", how) << how << false;
    QTest::addRow("%s, after processing", how) << how << true;
  }
}

void MainWindowTest::quitEndsProgram() {
  QFETCH(QString, how);
  QFETCH(bool, loadAndProcess);

  QTemporaryDir temp;
  const QString folder = QDir(temp.path()).canonicalPath();
  QVERIFY(!writeScarceMap(folder).isEmpty());
  Session s;
  QVERIFY(s.ready());
  if (loadAndProcess) {
    QVERIFY(openFolder(s.list(), folder));
    QVERIFY(activate(s.list(), QStringLiteral("scarce.png"), Activation::DoubleClick));
    s.field(1)->setText(QStringLiteral("3"));
    s.press(20);
    QVERIFY(s.window->isProcessed());
    QVERIFY(QFile::remove(folder + "/scarce_export.inc"));
  }
  s.messages.shown.clear();
  const QStringList before = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

  MainWindow* window = s.window.get();
  QTimer::singleShot(0, window, [&] {
    if (how == QLatin1String("QuitButton")) {
      QTest::mouseClick(window->control(21), Qt::LeftButton);
    } else if (how == QLatin1String("close box")) {
      window->windowHandle()->close();  // the window system's close request
    } else {
      QApplication::setActiveWindow(window);
      QTest::keyClick(window, Qt::Key_F4, Qt::AltModifier);
    }
  });
  QTimer watchdog;
  watchdog.setSingleShot(true);
  connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
  watchdog.start(kWaitMs);
  QCOMPARE(QCoreApplication::exec(), 0);
  QVERIFY(!window->isVisible());
  QVERIFY(s.messages.shown.empty());
  QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
}

void MainWindowTest::messageBoxHasOneOkButtonAndNoIcon() {
  Session s;
  QVERIFY(s.ready());
  QString title = QStringLiteral("unset");
  QString text;
  QMessageBox::Icon icon = QMessageBox::Critical;
  QList<QAbstractButton*> buttons;
  QMessageBox::StandardButton okButton = QMessageBox::NoButton;
  QPoint centre;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    buttons = box->buttons();
    if (!buttons.isEmpty()) okButton = box->standardButton(buttons.first());
    centre = box->frameGeometry().center();
    QTest::keyClick(box, Qt::Key_Return);
  });
  DialogMessageBoxes boxes;
  boxes.showMessage(s.window.get(), QString(), QStringLiteral("no plants to process"));
  QCOMPARE(title, QString());
  QCOMPARE(text, QStringLiteral("no plants to process"));
  QCOMPARE(icon, QMessageBox::NoIcon);
  QCOMPARE(buttons.size(), 1);
  QCOMPARE(okButton, QMessageBox::Ok);
  // The window is taller than the screen: the box sits in the middle of what can be seen.
  const QRect seen = s.window->frameGeometry() & s.window->screen()->availableGeometry();
  QVERIFY2((centre - seen.center()).manhattanLength() <= 2,
           qPrintable(QStringLiteral("box centre %1,%2").arg(centre.x()).arg(centre.y())));
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
