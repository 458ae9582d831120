// Draws the program's icon into PNG files, one per size: two hosts with a
// stream running each way between them. Run by hand when the design changes;
// the PNGs it writes are committed beside the resource file.
//   quillex_icon_generator <output directory>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int kSizes[] = {16, 32, 48, 64, 128, 256};

// One stream: a shaft with its head at the "to" end, in unit coordinates.
void drawArrow(QPainter& p, double size, double fromX, double toX, double y, const QColor& colour) {
  // Small sizes keep whole-pixel shafts and heads that do not touch.
  const bool small = size <= 16;
  const double thickness = small ? 2.0 : size * 0.085;
  const double headLength = small ? 3.0 : size * 0.16;
  const double headHalf = small ? 2.5 : size * 0.13;
  const double direction = toX > fromX ? 1.0 : -1.0;
  const double tip = toX * size;
  const double base = tip - direction * headLength;
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  const double left = std::min(fromX * size, base);
  const double right = std::max(fromX * size, base);
  p.drawRect(QRectF(left, y * size - thickness / 2, right - left, thickness));
  QPainterPath head;
  head.moveTo(tip, y * size);
  head.lineTo(base, y * size - headHalf);
  head.lineTo(base, y * size + headHalf);
  head.closeSubpath();
  p.drawPath(head);
}

QImage drawIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size;

  QLinearGradient background(0, 0, 0, s);
  background.setColorAt(0, QColor(0x2f, 0x80, 0xc8));
  background.setColorAt(1, QColor(0x1b, 0x4f, 0x8a));
  p.setPen(Qt::NoPen);
  p.setBrush(background);
  p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.2, s * 0.2);

  // The two hosts.
  p.setBrush(QColor(0xf4, 0xf7, 0xfb));
  const bool small = size <= 16;
  const double hostWidth = small ? 2.0 : s * 0.17;
  const double margin = small ? 2.0 : s * 0.1;
  const QRectF leftHost(margin, s * 0.22, hostWidth, s * 0.56);
  const QRectF rightHost(s - margin - hostWidth, s * 0.22, hostWidth, s * 0.56);
  p.drawRoundedRect(leftHost, s * 0.04, s * 0.04);
  p.drawRoundedRect(rightHost, s * 0.04, s * 0.04);

  // Out on top, back below, with a gap from each host.
  const double gap = std::max(1.0, s * 0.05) / s;
  const double inner = leftHost.right() / s + gap;
  const double outer = rightHost.left() / s - gap;
  const double upper = small ? 5.0 / 16 : 0.39;
  const double lower = small ? 11.0 / 16 : 0.63;
  drawArrow(p, s, inner, outer, upper, QColor(0xff, 0xc8, 0x3d));
  drawArrow(p, s, outer, inner, lower, QColor(0x7f, 0xe0, 0xc6));
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
    return 2;
  }
  for (int size : kSizes) {
    const QString path = QStringLiteral("%1/quillex_%2.png").arg(QString::fromLocal8Bit(argv[1])).arg(size);
    if (!drawIcon(size).save(path)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
