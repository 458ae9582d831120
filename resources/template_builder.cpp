#include "resources/template_builder.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>

#include "resources/dialog_font.h"
#include "resources/ip_address_edit.h"
#include "resources/radio_group_keys.h"
#include "resources/spin_button.h"
#include "resources/template_anchors.h"
#include "resources/templates.h"

namespace {

// The sample whose width gives the average character width, rounded.
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

QString textOf(const ControlTemplate& c) { return QString::fromUtf8(c.text); }

Qt::Alignment horizontalAlignment(uint32_t style) {
  if (style & kAlignRight) return Qt::AlignRight;
  if (style & kAlignCenter) return Qt::AlignHCenter;
  return Qt::AlignLeft;
}

QLabel* makeStatic(const ControlTemplate& c, QWidget* window) {
  auto* label = new QLabel(textOf(c), window);
  label->setTextFormat(Qt::PlainText);
  if (c.style & kSunken) {
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(horizontalAlignment(c.style) | Qt::AlignVCenter);
  } else {
    label->setAlignment(horizontalAlignment(c.style) | Qt::AlignTop);
  }
  return label;
}

QLabel* makeLink(const ControlTemplate& c, QWidget* window) {
  // The template marks the link with a bare <a>; give it a target so the
  // label reports activation through linkActivated.
  QString text = textOf(c);
  text.replace(QStringLiteral("<a>"), QStringLiteral("<a href=\"link\">"));
  auto* label = new QLabel(text, window);
  label->setTextFormat(Qt::RichText);
  label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  label->setOpenExternalLinks(false);
  return label;
}

QPushButton* makePushButton(const ControlTemplate& c, QWidget* window, bool checkable) {
  auto* button = new QPushButton(textOf(c), window);
  button->setCheckable(checkable);
  if (c.style & kDefaultButton) button->setDefault(true);
  return button;
}

QLineEdit* makeEdit(const ControlTemplate& c, QWidget* window) {
  auto* edit = new QLineEdit(window);
  edit->setAlignment(horizontalAlignment(c.style) | Qt::AlignVCenter);
  return edit;
}

CSpinButton* makeSpin(const ControlTemplate& c, QWidget* window) {
  auto* spin = new CSpinButton(window);
  spin->setBuddy(control<QLineEdit>(window, c.buddy));
  spin->setThousands(!(c.style & kNoThousands));
  spin->setArrowKeys(c.style & kArrowKeys);
  return spin;
}

QListWidget* makeListBox(const ControlTemplate& c, QWidget* window) {
  auto* list = new QListWidget(window);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setVerticalScrollBarPolicy((c.style & kVScroll) ? Qt::ScrollBarAsNeeded
                                                        : Qt::ScrollBarAlwaysOff);
  // A list box scrolls only vertically; a long entry is cut at the edge.
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  return list;
}

QListView* makeModelList(QWidget* window) {
  auto* list = new QListView(window);
  list->setUniformItemSizes(true);  // only the lines in sight are measured and formatted
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  return list;
}

QTableWidget* makeListView(QWidget* window) {
  auto* table = new QTableWidget(window);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->hide();
  return table;
}

QWidget* createControl(const ControlTemplate& c, QWidget* window) {
  switch (c.kind) {
    case ControlKind::GroupBox: return new QGroupBox(textOf(c), window);
    case ControlKind::PushButton: return makePushButton(c, window, false);
    case ControlKind::PushLikeCheckBox: return makePushButton(c, window, true);
    case ControlKind::CheckBox: return new QCheckBox(textOf(c), window);
    case ControlKind::RadioButton: return new QRadioButton(textOf(c), window);
    case ControlKind::Static: return makeStatic(c, window);
    case ControlKind::StaticIcon: return new QLabel(window);
    case ControlKind::Edit: return makeEdit(c, window);
    case ControlKind::Spin: return makeSpin(c, window);
    case ControlKind::IpAddress: return new CIpAddressEdit(window);
    case ControlKind::ListBox: return makeListBox(c, window);
    case ControlKind::ListView: return makeListView(window);
    case ControlKind::Link: return makeLink(c, window);
    case ControlKind::ModelList: return makeModelList(window);
  }
  return new QWidget(window);
}

// Radio buttons join the group of the last group start; any other control
// ends the group, as a dialog's tab groups do.
class CRadioGrouper {
 public:
  explicit CRadioGrouper(QWidget* window) : window_(window) {}
  void add(const ControlTemplate& c, QWidget* widget) {
    auto* radio = qobject_cast<QRadioButton*>(widget);
    if (!radio) {
      group_ = nullptr;
      return;
    }
    if (!group_ || (c.style & kGroupStart)) {
      group_ = new QButtonGroup(window_);
      group_->setObjectName(QString::number(c.id));
      index_ = 0;
    }
    group_->addButton(radio, index_++);
  }

 private:
  QWidget* window_;
  QButtonGroup* group_ = nullptr;
  int index_ = 0;
};

// Arrows that overlap their buddy's right end take that part from it, so
// the last digits are not hidden beneath them.
void fitBuddy(QWidget* widget) {
  auto* spin = qobject_cast<CSpinButton*>(widget);
  QLineEdit* buddy = spin ? spin->buddy() : nullptr;
  if (!buddy) return;
  QRect area = buddy->geometry();
  if (spin->x() > area.left() && spin->x() <= area.right()) {
    area.setRight(spin->x() - 1);
    buddy->setGeometry(area);
  }
}

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet));
  cx_ = (width / 26 + 1) / 2;
  cy_ = metrics.height();
}

int CDialogUnits::x(int units) const { return (units * cx_ + 2) / 4; }
int CDialogUnits::y(int units) const { return (units * cy_ + 4) / 8; }

QRect CDialogUnits::map(int x0, int y0, int width, int height) const {
  return QRect(QPoint(x(x0), y(y0)), size(width, height));
}

QSize CDialogUnits::size(int width, int height) const { return QSize(x(width), y(height)); }

void buildDialog(QWidget* window, const DialogTemplate& t) {
  window->setFont(dialogFont());
  const CDialogUnits units(window->font());
  if (!t.child) window->setWindowTitle(QString::fromUtf8(t.caption));
  const QSize size = units.size(t.width, t.height);
  CTemplateAnchors* anchors = nullptr;
  if (t.resizable) {
    window->resize(size);
    window->setMinimumSize(size);
    anchors = new CTemplateAnchors(window, size);
  } else {
    window->setFixedSize(size);
  }
  CRadioGrouper grouper(window);
  for (const ControlTemplate& c : t.controls) {
    QWidget* widget = createControl(c, window);
    if (c.id != kNoId) widget->setObjectName(QString::number(c.id));
    widget->setGeometry(units.map(c.x, c.y, c.width, c.height));
    fitBuddy(widget);
    if (c.style & kHidden) widget->hide();
    if (anchors) anchors->add(widget, c.style);
    grouper.add(c, widget);
  }
  for (QButtonGroup* group : window->findChildren<QButtonGroup*>(Qt::FindDirectChildrenOnly)) {
    new CRadioGroupKeys(group);
  }
  if (t.child) window->hide();
}

void buildDialog(QWidget* window, int templateId) {
  const DialogTemplate* t = findDialogTemplate(templateId);
  Q_ASSERT(t);
  if (t) buildDialog(window, *t);
}

QWidget* findControl(const QWidget* window, int id) {
  return window->findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

QButtonGroup* radioGroup(const QWidget* window, int firstId) {
  return window->findChild<QButtonGroup*>(QString::number(firstId), Qt::FindDirectChildrenOnly);
}

int checkedRadioIndex(const QButtonGroup* group) { return group->checkedId(); }

void setCheckedRadioIndex(QButtonGroup* group, int index) {
  // An exclusive group never lets its last checked button go; lift the rule
  // while clearing so "no choice" can be shown.
  group->setExclusive(false);
  for (QAbstractButton* button : group->buttons()) button->setChecked(group->id(button) == index);
  group->setExclusive(true);
}
