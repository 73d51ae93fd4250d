// SPDX-License-Identifier: GPL-3.0-or-later
#include "operator/WindowIcon.h"

#include <QPainter>
#include <QPixmap>

namespace tavex::ui {
namespace {

// The same clock face as tavex.svg, for Qt installations without the SVG image plugin.
QPixmap PaintedFace(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 64.0, size / 64.0);
  painter.setPen(QPen(QColor(0x20, 0x20, 0x20), 3));
  painter.setBrush(Qt::black);
  painter.drawRoundedRect(QRectF(4, 12, 56, 40), 6, 6);
  painter.setPen(QPen(QColor(0x00, 0xFF, 0x00), 4, Qt::SolidLine, Qt::RoundCap));
  // "12:34" reduced to four bars and a colon.
  for (double x : {12.0, 22.0, 38.0, 48.0}) painter.drawLine(QPointF(x, 22), QPointF(x, 42));
  painter.drawPoint(QPointF(30, 27));
  painter.drawPoint(QPointF(30, 37));
  return pixmap;
}

}  // namespace

QIcon WindowIcon() {
  QIcon icon(QStringLiteral(":/tavex/tavex.svg"));
  if (!icon.pixmap(32, 32).isNull()) return icon;
  QIcon painted;
  for (int size : {16, 32, 48, 64}) painted.addPixmap(PaintedFace(size));
  return painted;
}

}  // namespace tavex::ui
