#include "map_preview.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>

#include <cmath>

MapPreview::MapPreview(const plantscatter::Image* picture, QWidget* parent)
    : QWidget(parent), picture_(picture) {
  // The widget covers the picture's device pixels; at a fractional scale factor the last
  // logical unit may reach a little beyond it.
  const qreal ratio = devicePixelRatioF();
  resize(int(std::ceil(picture->width / ratio)), int(std::ceil(picture->height / ratio)));
}

void MapPreview::paintEvent(QPaintEvent* event) {
  const qreal ratio = devicePixelRatioF();
  const QRectF exposed = QRectF(event->rect());
  const QRect source = QRectF(exposed.topLeft() * ratio, exposed.size() * ratio).toAlignedRect() &
                       QRect(0, 0, int(picture_->width), int(picture_->height));
  if (source.isEmpty()) return;

  // A view of the exposed pixels where they lie: no copy of the picture is made.
  const uchar* first = picture_->row(uint32_t(source.y())) + size_t(source.x()) * 4;
  QImage view(first, source.width(), source.height(), qsizetype(picture_->stride()),
              QImage::Format_RGBA8888);
  view.setDevicePixelRatio(ratio);
  QPainter painter(this);
  painter.drawImage(QPointF(source.topLeft()) / ratio, view);
}
