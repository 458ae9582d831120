#pragma once
// The keyboard of a dialog's radio group: the group is one Tab stop, on its
// checked button (the first when none is checked); Up and Left, Down and
// Right move to the previous and next button in template order, wrapping,
// and select it as a click does. Qt on its own moves by screen position and
// leaves every button a Tab stop.
//
// A child of the button group it serves.

#include <QObject>

class QAbstractButton;
class QButtonGroup;

class CRadioGroupKeys : public QObject {
  Q_OBJECT

 public:
  explicit CRadioGroupKeys(QButtonGroup* group);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void updateTabStop();
  void moveFrom(QAbstractButton* from, int step);

  QButtonGroup* group_;
};
