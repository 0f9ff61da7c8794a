#include "message_boxes.h"

#include <QMessageBox>
#include <QScreen>
#include <QShowEvent>

namespace {

// The window is taller than most screens, so a box centred on it would sit at the screen's
// bottom edge or below it. This one is centred on the part of the window that can be seen.
class MessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);  // the box takes its final size here
    const QWidget* owner = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
    if (owner == nullptr || owner->screen() == nullptr) return;
    const QRect seen = owner->frameGeometry() & owner->screen()->availableGeometry();
    if (seen.isEmpty()) return;
    QRect frame = frameGeometry();
    frame.moveCenter(seen.center());
    move(frame.topLeft());
  }
};

}  // namespace

void DialogMessageBoxes::showMessage(QWidget* parent, const QString& caption, const QString& text) {
  MessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}
