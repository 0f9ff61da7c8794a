#ifndef PLANTSCATTER_APP_MESSAGE_BOXES_H_
#define PLANTSCATTER_APP_MESSAGE_BOXES_H_

#include <QString>

class QWidget;

// Every message the window gives the user goes through here: a modal box with a caption,
// a text, no icon and a single OK button, which returns once the user has closed it.
// Tests put a recorder in its place.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual void showMessage(QWidget* parent, const QString& caption, const QString& text) = 0;
};

// The real boxes, shown with QMessageBox.
class DialogMessageBoxes : public MessageBoxes {
 public:
  void showMessage(QWidget* parent, const QString& caption, const QString& text) override;
};

#endif  // PLANTSCATTER_APP_MESSAGE_BOXES_H_
