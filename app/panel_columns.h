#pragma once
// Where the main window's port panels go: the first five in the first
// column, the rest in the second, below a strip at the top. Up to ten panels
// both columns belong to the window itself; beyond ten the second column is
// a scroll area, so the window keeps the height of five panels and a panel
// far down is reached by the scroll bar, the wheel or Tab. The scroll bar
// stands beside the column and widens the window by its own width: laid over
// the panels it would hide their destination ports.
//
// Owns nothing: the scroll area, made only beyond ten panels, is a child of
// the window, and each panel a child of the window or of the area's content.

#include <vector>

class QScrollArea;
class QWidget;

class CPanelColumns {
 public:
  static constexpr int kPanelsPerColumn = 5;

  // top: the pixels above the panels.
  CPanelColumns(QWidget* window, int top) : window_(window), top_(top) {}

  // The parent of panel `index` of `count`, so every panel is made where it
  // stays and Tab visits the panels in their order.
  QWidget* parentFor(int index, int count);
  // Places and shows the panels, all of the first one's size, and fixes the
  // window's size around them.
  void place(const std::vector<QWidget*>& panels);
  // Scrolls a panel of the second column that holds `widget` whole into view.
  void reveal(QWidget* widget);
  // Once the panels are gone: their scroll area goes too.
  void clear();

 private:
  void makeScrollArea();

  QWidget* window_;
  int top_;
  QScrollArea* scroll_ = nullptr;
};
