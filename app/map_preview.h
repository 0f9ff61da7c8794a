#ifndef PLANTSCATTER_APP_MAP_PREVIEW_H_
#define PLANTSCATTER_APP_MAP_PREVIEW_H_

#include <QWidget>

#include "plants/image.h"

// Shows a decoded map unscaled, one picture pixel per device pixel at any scale factor, with
// the picture's top-left pixel at the widget's top-left corner and its transparency blended
// over the window behind it.
//
// The widget reads the picture where it lies and paints only the part that is exposed, so a
// map of any size costs no copy and no conversion beyond what is on the screen. The picture
// must outlive the widget; call update() after changing its pixels.
class MapPreview : public QWidget {
  Q_OBJECT

 public:
  explicit MapPreview(const plantscatter::Image* picture, QWidget* parent = nullptr);

  const plantscatter::Image* picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const plantscatter::Image* picture_;
};

#endif  // PLANTSCATTER_APP_MAP_PREVIEW_H_
