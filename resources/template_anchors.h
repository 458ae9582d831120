#pragma once
// Keeps the controls of a resizable window where its template anchors them
// as the user resizes it: a control anchored right or bottom keeps its
// distance to that edge, a stretching one grows with the window. The
// anchors belong to the window and go with it.

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

class CTemplateAnchors : public QObject {
 public:
  // size: the window's template size in pixels, where every control sits
  // at its template rectangle.
  CTemplateAnchors(QWidget* window, QSize size);
  // A control with its template rectangle and its anchor flags.
  void add(QWidget* control, uint32_t style);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct CAnchored {
    QPointer<QWidget> control;
    QRect rect;
    uint32_t style;
  };
  void place(QSize size);

  QSize base_;
  std::vector<CAnchored> anchored_;
};
