#ifndef PLANTSCATTER_APP_COUNT_FIELD_H_
#define PLANTSCATTER_APP_COUNT_FIELD_H_

#include <QClipboard>
#include <QLineEdit>

// A single-line field for a plant count. Only the digits 0 to 9 can be typed into it; other
// typed characters are refused, while editing keys and shortcuts work as in any line edit.
// Pasted or dropped text goes in as it is: what it counts for is decided when the fields are
// read, not here. That is why this is not a QValidator, which would filter pastes too.
//
// Text that comes in beyond the length limit is cut to the room left before it reaches the
// line edit: QLineEdit cuts it itself in time quadratic in the text's length, which freezes
// the window for minutes on a paste of a million characters.
class CountField : public QLineEdit {
  Q_OBJECT

 public:
  // The longest text the field holds, in characters.
  static constexpr int kMaxLength = 1'048'576;

  explicit CountField(const QString& text, QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Characters that can still go in, counting the selection that an insert replaces.
  int room() const;
  void pasteFrom(QClipboard::Mode mode);
};

#endif  // PLANTSCATTER_APP_COUNT_FIELD_H_
