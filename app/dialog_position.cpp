#include "dialog_position.h"

#include <QScreen>
#include <QWidget>

void centreOnVisibleParent(QWidget* dialog) {
  const QWidget* parent = dialog->parentWidget();
  const QWidget* owner = parent != nullptr ? parent->window() : nullptr;
  if (owner == nullptr || owner->screen() == nullptr) return;
  const QRect seen = owner->frameGeometry() & owner->screen()->availableGeometry();
  if (seen.isEmpty()) return;
  QRect frame = dialog->frameGeometry();
  frame.moveCenter(seen.center());
  dialog->move(frame.topLeft());
}
