#include "gui/side_picture.h"

#include <QFont>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace lumivor::gui {

namespace {

constexpr int kWidth = 100;
constexpr int kHeight = 400;

// One small landscape photo: sky, sun, two hills. The hue varies from frame to frame.
void DrawPhoto(QPainter& painter, const QRectF& area, int hue) {
  QLinearGradient sky(area.topLeft(), area.bottomLeft());
  sky.setColorAt(0, QColor::fromHsv(hue, 120, 250));
  sky.setColorAt(1, QColor::fromHsv((hue + 30) % 360, 60, 255));
  painter.fillRect(area, sky);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 236, 160));
  painter.drawEllipse(QPointF(area.left() + area.width() * 0.7, area.top() + area.height() * 0.35),
                      area.height() * 0.12, area.height() * 0.12);
  QPainterPath far;
  far.moveTo(area.bottomLeft());
  far.lineTo(area.left(), area.top() + area.height() * 0.65);
  far.quadTo(area.left() + area.width() * 0.35, area.top() + area.height() * 0.35,
             area.left() + area.width() * 0.7, area.top() + area.height() * 0.7);
  far.lineTo(area.right(), area.top() + area.height() * 0.6);
  far.lineTo(area.bottomRight());
  far.closeSubpath();
  painter.setBrush(QColor::fromHsv((hue + 150) % 360, 110, 150));
  painter.drawPath(far);
  QPainterPath near;
  near.moveTo(area.bottomLeft());
  near.quadTo(area.left() + area.width() * 0.6, area.top() + area.height() * 0.6, area.right(),
              area.top() + area.height() * 0.85);
  near.lineTo(area.bottomRight());
  near.closeSubpath();
  painter.setBrush(QColor::fromHsv((hue + 160) % 360, 140, 100));
  painter.drawPath(near);
}

}  // namespace

QPixmap DrawSidePicture() {
  QPixmap pixmap(kWidth, kHeight);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);

  QLinearGradient evening(0, 0, 0, kHeight);
  evening.setColorAt(0.0, QColor(22, 34, 72));
  evening.setColorAt(0.55, QColor(58, 58, 120));
  evening.setColorAt(1.0, QColor(150, 84, 112));
  painter.fillRect(pixmap.rect(), evening);
  QRadialGradient glow(QPointF(kWidth * 0.5, kHeight * 0.95), kHeight * 0.45);
  glow.setColorAt(0, QColor(255, 190, 120, 110));
  glow.setColorAt(1, QColor(255, 190, 120, 0));
  painter.fillRect(pixmap.rect(), glow);

  // The film strip, slightly tilted, with its sprocket holes and three frames.
  painter.save();
  painter.translate(kWidth / 2.0, 134);
  painter.rotate(-6);
  const QRectF strip(-34, -121, 68, 242);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(18, 18, 22));
  painter.drawRoundedRect(strip, 3, 3);
  painter.setBrush(QColor(235, 235, 240));
  for (qreal y = strip.top() + 5; y < strip.bottom() - 6; y += 11) {
    painter.drawRoundedRect(QRectF(strip.left() + 3, y, 5, 6), 1, 1);
    painter.drawRoundedRect(QRectF(strip.right() - 8, y, 5, 6), 1, 1);
  }
  const int hues[] = {200, 20, 280};
  for (int i = 0; i < 3; ++i) {
    DrawPhoto(painter, QRectF(strip.left() + 12, strip.top() + 8 + i * 78, strip.width() - 24, 70), hues[i]);
  }
  painter.restore();

  // The name, written upwards along the bottom.
  painter.save();
  painter.translate(kWidth / 2.0 + 9, kHeight - 12);
  painter.rotate(-90);
  QFont font = painter.font();
  font.setPixelSize(24);
  font.setBold(true);
  font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
  painter.setFont(font);
  painter.setPen(QColor(255, 255, 255, 230));
  painter.drawText(QPointF(0, 0), QStringLiteral("Lumivor"));
  painter.restore();
  return pixmap;
}

SidePicture::SidePicture(QWidget* parent) : QWidget(parent), picture_(DrawSidePicture()) {
  setCursor(Qt::PointingHandCursor);
}

void SidePicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(rect(), picture_);
}

void SidePicture::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick) OnClick();
}

}  // namespace lumivor::gui
