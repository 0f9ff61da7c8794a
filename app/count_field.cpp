#include "count_field.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

namespace {

bool isDigit(QChar c) {
  return c >= u'0' && c <= u'9';
}

// True when typing `text` would insert a character other than 0 to 9. Control characters
// come with editing keys and shortcuts (Backspace, Ctrl+V, ...), which are not refused.
bool insertsNonDigit(const QString& text) {
  for (QChar c : text) {
    if (c.isPrint() && !isDigit(c)) return true;
  }
  return false;
}

// Keys that a line edit turns into an editing action, never into inserted text, even when
// they carry a printable character (Ctrl+V carries "v" on some platforms).
bool isEditingShortcut(const QKeyEvent* event) {
  static constexpr QKeySequence::StandardKey kEditingKeys[] = {
      QKeySequence::Undo,
      QKeySequence::Redo,
      QKeySequence::Cut,
      QKeySequence::Copy,
      QKeySequence::Paste,
      QKeySequence::SelectAll,
      QKeySequence::Deselect,
      QKeySequence::Delete,
      QKeySequence::Backspace,
      QKeySequence::DeleteStartOfWord,
      QKeySequence::DeleteEndOfWord,
      QKeySequence::DeleteEndOfLine,
      QKeySequence::DeleteCompleteLine,
      QKeySequence::MoveToStartOfLine,
      QKeySequence::MoveToEndOfLine,
      QKeySequence::MoveToStartOfBlock,
      QKeySequence::MoveToEndOfBlock,
      QKeySequence::MoveToNextChar,
      QKeySequence::MoveToPreviousChar,
      QKeySequence::MoveToNextWord,
      QKeySequence::MoveToPreviousWord,
      QKeySequence::SelectStartOfLine,
      QKeySequence::SelectEndOfLine,
      QKeySequence::SelectStartOfBlock,
      QKeySequence::SelectEndOfBlock,
      QKeySequence::SelectNextChar,
      QKeySequence::SelectPreviousChar,
      QKeySequence::SelectNextWord,
      QKeySequence::SelectPreviousWord,
  };
  for (QKeySequence::StandardKey key : kEditingKeys) {
    if (event->matches(key)) return true;
  }
  // Other Ctrl combinations insert nothing in a line edit either; Alt and AltGr ones may.
  const Qt::KeyboardModifiers modifiers =
      event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
  return modifiers == Qt::ControlModifier;
}

}  // namespace

CountField::CountField(const QString& text, QWidget* parent) : QLineEdit(text, parent) {
  setMaxLength(kMaxLength);
}

int CountField::room() const {
  return maxLength() - int(text().size()) + int(selectedText().size());
}

void CountField::pasteFrom(QClipboard::Mode mode) {
  if (isReadOnly()) return;
  const QString pasted = QGuiApplication::clipboard()->text(mode);
  if (pasted.isEmpty() && !hasSelectedText()) return;
  insert(pasted.left(room()));
}

void CountField::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Paste)) {
    pasteFrom(QClipboard::Clipboard);
    event->accept();
    return;
  }
  if (!isEditingShortcut(event) && insertsNonDigit(event->text())) {
    event->accept();  // refused: the text stays as it is
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void CountField::inputMethodEvent(QInputMethodEvent* event) {
  // Text composed with an input method is typed text too.
  const QString commit = event->commitString();
  if (!insertsNonDigit(commit)) {
    QLineEdit::inputMethodEvent(event);
    return;
  }
  QString digits;
  for (QChar c : commit) {
    if (isDigit(c)) digits += c;
  }
  QInputMethodEvent filtered(event->preeditString(), event->attributes());
  filtered.setCommitString(digits, event->replacementStart(), event->replacementLength());
  QLineEdit::inputMethodEvent(&filtered);
}

void CountField::mouseReleaseEvent(QMouseEvent* event) {
  // The middle button pastes the X11 selection.
  if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection() &&
      !isReadOnly()) {
    deselect();
    pasteFrom(QClipboard::Selection);
    event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}

void CountField::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createStandardContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  if (QAction* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste"))) {
    paste->disconnect();
    connect(paste, &QAction::triggered, this, [this] { pasteFrom(QClipboard::Clipboard); });
  }
  menu->popup(event->globalPos());
}

void CountField::dropEvent(QDropEvent* event) {
  const QMimeData* data = event->mimeData();
  const QString dropped = data->text();
  // A drop goes in beside the text, not over the selection. Text dragged within the field
  // is moved, so it always fits.
  const int dropRoom = maxLength() - int(text().size());
  if (event->source() == this || dropped.size() <= dropRoom) {
    QLineEdit::dropEvent(event);
    return;
  }
  QMimeData cut;
  cut.setText(dropped.left(dropRoom));
  QDropEvent copy(event->position(), event->possibleActions(), &cut, event->buttons(),
                  event->modifiers(), event->type());
  copy.setDropAction(event->proposedAction());
  QLineEdit::dropEvent(&copy);
  event->setDropAction(copy.dropAction());
  event->setAccepted(copy.isAccepted());
}
