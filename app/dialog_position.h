#ifndef PLANTSCATTER_APP_DIALOG_POSITION_H_
#define PLANTSCATTER_APP_DIALOG_POSITION_H_

class QWidget;

// Moves a dialog that is about to be shown to the centre of the part of its parent window
// that lies on the screen. The main window is taller than most screens, so Qt's own
// placement, centred on the whole window, puts dialogs at the screen's bottom edge. Call it
// from the dialog's showEvent(), once the dialog has its size.
void centreOnVisibleParent(QWidget* dialog);

#endif  // PLANTSCATTER_APP_DIALOG_POSITION_H_
