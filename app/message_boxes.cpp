#include "message_boxes.h"

#include <QMessageBox>
#include <QShowEvent>

#include "dialog_position.h"

namespace {

class MessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);  // the box takes its final size here
    centreOnVisibleParent(this);
  }
};

}  // namespace

void DialogMessageBoxes::showMessage(QWidget* parent, const QString& caption, const QString& text) {
  MessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}
