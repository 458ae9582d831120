#pragma once
// The style of every window: the platform's own style, with what a native
// dialog does differently drawn here. Group-box captions sit on the frame's
// top line (the templates place their contents for that), buttons carry no
// stock icons, a checked push button looks pushed in, report lists pad
// their cells and headings, and message icons come from the platform's icon
// theme when it has them.

#include <QProxyStyle>

class CDialogStyle : public QProxyStyle {
  Q_OBJECT

 public:
  CDialogStyle();

  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget = nullptr) const override;
  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                       SubControl subControl, const QWidget* widget = nullptr) const override;
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget = nullptr) const override;
  QRect subElementRect(SubElement element, const QStyleOption* option,
                       const QWidget* widget = nullptr) const override;
  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contentsSize,
                         const QWidget* widget = nullptr) const override;
  int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr) const override;
  int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                QStyleHintReturn* returnData = nullptr) const override;
  QIcon standardIcon(StandardPixmap icon, const QStyleOption* option = nullptr,
                     const QWidget* widget = nullptr) const override;

 private:
  void drawGroupBox(const QStyleOptionComplex* option, QPainter* painter) const;
  void drawPushedIn(const QStyleOption* option, QPainter* painter, const QWidget* widget) const;
};
