#include "port/panel_marks.h"

#include <QLabel>
#include <QPalette>

#include "filter/ip_filter.h"
#include "resources/dialog_texts.h"
#include "resources/port_texts.h"
#include "settings/limits.h"

namespace {

const QColor kWarningRed{200, 30, 30};

}  // namespace

QString filterTip(const CIpFilter& filter) {
  QString mode = filter.mode >= 0 && filter.mode < int(kFilterCaptions.size())
                     ? QString::fromUtf8(kFilterCaptions[size_t(filter.mode)])
                     : QString::fromUtf8(kUnknownMode).arg(filter.mode);
  if (filter.mode == CIpFilter::FILTER_INDIVIDUAL)
    mode += QString::fromUtf8(kIndividualCounts)
                .arg(boundedEntryCount(filter.refuseIpCount))
                .arg(boundedEntryCount(filter.enableIpCount));
  return QString::fromUtf8(kFilterTip).arg(mode);
}

QLabel* makeFailMark(QLabel* count) {
  auto* mark = new QLabel(QString::fromUtf8(kFailMark), count);
  QFont bold = mark->font();
  bold.setBold(true);
  mark->setFont(bold);
  mark->setAlignment(Qt::AlignCenter);
  QPalette palette = mark->palette();
  palette.setColor(QPalette::Window, kWarningRed);
  palette.setColor(QPalette::WindowText, Qt::white);
  mark->setPalette(palette);
  mark->setAutoFillBackground(true);
  const int side = count->height() - 2;
  mark->setGeometry(1, 1, side, side);
  mark->hide();
  return mark;
}
