#pragma once
// Up-down arrows that step an integer position shown in a separate buddy
// edit. The position lives here; the buddy only shows it, and is read back
// whenever the position is asked for: a whole number within the range
// becomes the position, anything else leaves the previous one in force.

#include <QLineEdit>
#include <QPointer>
#include <QWidget>
#include <optional>

class QToolButton;

class CSpinButton : public QWidget {
  Q_OBJECT

 public:
  explicit CSpinButton(QWidget* parent = nullptr);

  // The buddy is not owned; it usually is a sibling from the same template.
  void setBuddy(QLineEdit* buddy);
  QLineEdit* buddy() const { return buddy_; }
  void setRange(int lower, int upper);
  int lower() const { return lower_; }
  int upper() const { return upper_; }
  // Thousands separators in the buddy ("65,536"), shown and accepted.
  void setThousands(bool on) { thousands_ = on; }
  // Up and Down typed in the buddy step the position.
  void setArrowKeys(bool on) { arrowKeys_ = on; }

  // Clamps into the range and writes the buddy.
  void setPosition(int position);
  // Reads the buddy back first (see above).
  int position();

  // The number a buddy text stands for, or nothing when it is not a whole
  // decimal number (surrounding blanks allowed).
  static std::optional<long long> parseNumber(const QString& text, bool thousands);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void step(int delta);
  QString format(int value) const;

  QToolButton* up_;
  QToolButton* down_;
  QPointer<QLineEdit> buddy_;
  int lower_ = 0;
  int upper_ = 100;
  int position_ = 0;
  bool thousands_ = true;
  bool arrowKeys_ = false;
};
