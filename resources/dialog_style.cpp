#include "resources/dialog_style.h"

#include <QIcon>
#include <QPainter>
#include <QStyleOption>
#include <QTableView>
#include <qdrawutil.h>

#include <algorithm>

namespace {

constexpr int kCaptionIndent = 4;  // from the frame's left edge to the caption
constexpr int kCaptionGap = 1;     // the line stops this short of the caption text
// Beside the text of a report list's cells and headings, from the grid line.
constexpr int kCellPadding = 5;
constexpr int kHeadingTrail = 2;  // beside a heading, away from its alignment
constexpr int kFocusInset = 3;    // a latched button's focus frame, inside its bevel

// A group box without a check box; the others keep the base style's look.
const QStyleOptionGroupBox* plainGroupBox(const QStyleOptionComplex* option) {
  const auto* group = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
  return group && !(group->subControls & QStyle::SC_GroupBoxCheckBox) ? group : nullptr;
}

// The frame's top line runs through the middle of the caption.
QRect groupFrame(const QStyleOptionGroupBox& group) {
  return group.rect.adjusted(0, group.fontMetrics.height() / 2, 0, 0);
}

QRect groupCaption(const QStyleOptionGroupBox& group) {
  if (group.text.isEmpty()) return {};
  const int room = std::max(0, group.rect.width() - kCaptionIndent);
  const int width = std::min(group.fontMetrics.horizontalAdvance(group.text) + 2 * kCaptionGap, room);
  return QRect(group.rect.left() + kCaptionIndent, group.rect.top(), width, group.fontMetrics.height());
}

const char* themeIconName(QStyle::StandardPixmap icon) {
  switch (icon) {
    case QStyle::SP_MessageBoxWarning: return "dialog-warning";
    case QStyle::SP_MessageBoxQuestion: return "dialog-question";
    case QStyle::SP_MessageBoxInformation: return "dialog-information";
    case QStyle::SP_MessageBoxCritical: return "dialog-error";
    default: return nullptr;
  }
}

}  // namespace

CDialogStyle::CDialogStyle() : QProxyStyle() {}

void CDialogStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                      QPainter* painter, const QWidget* widget) const {
  if (control == CC_GroupBox && plainGroupBox(option)) {
    drawGroupBox(option, painter);
    return;
  }
  QProxyStyle::drawComplexControl(control, option, painter, widget);
}

// An etched frame, its caption on the top line over the group's own
// window colour (a port panel's caption has a colour of its own).
void CDialogStyle::drawGroupBox(const QStyleOptionComplex* option, QPainter* painter) const {
  const QStyleOptionGroupBox& group = *plainGroupBox(option);
  painter->save();
  qDrawShadeRect(painter, groupFrame(group), group.palette, true, 1, 0);
  const QRect caption = groupCaption(group);
  if (caption.isValid()) {
    painter->fillRect(caption, group.palette.window());
    proxy()->drawItemText(painter, caption.adjusted(kCaptionGap, 0, -kCaptionGap, 0),
                          Qt::AlignLeft | Qt::AlignVCenter, group.palette,
                          group.state & State_Enabled, group.text, QPalette::WindowText);
  }
  painter->restore();
}

QRect CDialogStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                   SubControl subControl, const QWidget* widget) const {
  const QStyleOptionGroupBox* group = control == CC_GroupBox ? plainGroupBox(option) : nullptr;
  if (!group) return QProxyStyle::subControlRect(control, option, subControl, widget);
  switch (subControl) {
    case SC_GroupBoxFrame: return groupFrame(*group);
    case SC_GroupBoxLabel: return groupCaption(*group);
    case SC_GroupBoxContents: {
      const int margin = group->fontMetrics.height() / 2;
      return groupFrame(*group).adjusted(margin, margin, -margin, -margin);
    }
    default: return QProxyStyle::subControlRect(control, option, subControl, widget);
  }
}

void CDialogStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                 QPainter* painter, const QWidget* widget) const {
  if (element == PE_PanelButtonCommand && (option->state & State_On)) {
    drawPushedIn(option, painter, widget);
    return;
  }
  QProxyStyle::drawPrimitive(element, option, painter, widget);
}

// A latched button: a sunken bevel around a face stippled with the light
// colour, so ON never reads as a disabled button. The keyboard focus shows
// inside it as on any other button.
void CDialogStyle::drawPushedIn(const QStyleOption* option, QPainter* painter, const QWidget* widget) const {
  const QPalette& palette = option->palette;
  painter->save();
  painter->fillRect(option->rect, palette.button());
  painter->fillRect(option->rect, QBrush(palette.light().color(), Qt::Dense4Pattern));
  qDrawWinPanel(painter, option->rect, palette, true);
  painter->restore();
  if ((option->state & State_HasFocus) && (option->state & State_KeyboardFocusChange)) {
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(*option);
    focus.rect = option->rect.adjusted(kFocusInset, kFocusInset, -kFocusInset, -kFocusInset);
    focus.backgroundColor = palette.button().color();
    proxy()->drawPrimitive(PE_FrameFocusRect, &focus, painter, widget);
  }
}

namespace {

// The padding a report list's cell keeps beyond the base style's own margin
// beside its text; 0 elsewhere.
int extraCellPadding(const QStyle& base, const QStyleOption* option, const QWidget* widget) {
  if (!qobject_cast<const QTableView*>(widget)) return 0;
  const int own = base.pixelMetric(QStyle::PM_FocusFrameHMargin, option, widget) + 1;
  return std::max(0, kCellPadding - own);
}

}  // namespace

QRect CDialogStyle::subElementRect(SubElement element, const QStyleOption* option,
                                   const QWidget* widget) const {
  const QRect rect = QProxyStyle::subElementRect(element, option, widget);
  if (element != SE_ItemViewItemText) return rect;
  const int extra = extraCellPadding(*baseStyle(), option, widget);
  return rect.adjusted(extra, 0, -extra, 0);
}

// A cell asks for its padding too, so a column sized to its text shows it whole.
QSize CDialogStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contentsSize,
                                     const QWidget* widget) const {
  const QSize size = QProxyStyle::sizeFromContents(type, option, contentsSize, widget);
  if (type != CT_ItemViewItem) return size;
  return size + QSize(2 * extraCellPadding(*baseStyle(), option, widget), 0);
}

void CDialogStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                               const QWidget* widget) const {
  const auto* heading = qstyleoption_cast<const QStyleOptionHeader*>(option);
  if (element != CE_HeaderLabel || !heading) {
    QProxyStyle::drawControl(element, option, painter, widget);
    return;
  }
  // The label arrives inside the header's own margin. Its text keeps the
  // padding on the side it is aligned to; the other side may come closer
  // to the grid line, so the widest heading fits its column.
  const int own = QProxyStyle::pixelMetric(PM_HeaderMargin, option, widget);
  const int lead = kCellPadding - own;
  const int trail = own - kHeadingTrail;
  QStyleOptionHeader padded = *heading;
  if (heading->textAlignment & Qt::AlignRight) {
    padded.rect.adjust(-trail, 0, -lead, 0);
  } else {
    padded.rect.adjust(lead, 0, trail, 0);
  }
  QProxyStyle::drawControl(element, &padded, painter, widget);
}

int CDialogStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
  // A pressed or latched button's text moves with its face.
  if (metric == PM_ButtonShiftHorizontal || metric == PM_ButtonShiftVertical) return 1;
  return QProxyStyle::pixelMetric(metric, option, widget);
}

int CDialogStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                            QStyleHintReturn* returnData) const {
  if (hint == SH_DialogButtonBox_ButtonsHaveIcons) return 0;
  return QProxyStyle::styleHint(hint, option, widget, returnData);
}

QIcon CDialogStyle::standardIcon(StandardPixmap icon, const QStyleOption* option,
                                 const QWidget* widget) const {
  if (const char* name = themeIconName(icon)) {
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(name));
    if (!themed.isNull()) return themed;
  }
  return QProxyStyle::standardIcon(icon, option, widget);
}
