#include "dialogs/status_dlg.h"

#include <QEvent>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>
#include <array>

#include "relay/tcp_repeater.h"
#include "resources/copy_rows.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"

namespace {

struct CColumn {
  const char* heading;
  Qt::Alignment alignment;
  int width;  // pixels
  bool address = false;
};

// The ten columns of the table, then the bytes relayed each way; every
// number as "%d" writes it, so a copied row reads the same in every column.
constexpr std::array<CColumn, 12> kColumns = {{
    {"AcceptPeer", Qt::AlignLeft, 80, true},
    {"Port", Qt::AlignRight, 50},
    {"BindIp", Qt::AlignLeft, 80, true},
    {"Port", Qt::AlignRight, 50},
    {"UsedBuff", Qt::AlignRight, 70},
    {"BindIp", Qt::AlignLeft, 80, true},
    {"Port", Qt::AlignRight, 50},
    {"ConnectPeer", Qt::AlignLeft, 80, true},
    {"Port", Qt::AlignRight, 50},
    {"UsedBuff", Qt::AlignRight, 70},
    {"UpBytes", Qt::AlignRight, 90},
    {"DownBytes", Qt::AlignRight, 90},
}};

// The cells of one pair, in column order.
std::array<QString, kColumns.size()> cellsOf(const CTcpStreamPair& pair) {
  const CTcpSockStream& in = *pair.acceptStream;
  const CTcpSockStream& out = *pair.connectStream;
  return {QString::fromStdString(in.getPeerAddress()), QString::number(in.peerPort),
          QString::fromStdString(in.getBindIp()),      QString::number(in.bindPort),
          QString::number(in.usedBuffPeak),            QString::fromStdString(out.getBindIp()),
          QString::number(out.bindPort),               QString::fromStdString(out.getPeerAddress()),
          QString::number(out.peerPort),               QString::number(out.usedBuffPeak),
          QString::number(out.sentBytes),              QString::number(in.sentBytes)};
}

}  // namespace

CStatusDlg::CStatusDlg(QWidget* parent) : CTemplateDialog(IDD_STATUS, parent) {
  for (const CColumn& column : kColumns) columnWidths.push_back(column.width);
  connectionList = control<QTableWidget>(this, IDC_CONNECTION_LIST);
  // "閉じる" is the OK command; it only closes.
  connect(control<QPushButton>(this, IDOK), &QPushButton::clicked, this, &QDialog::accept);
  addCopyAction(connectionList);
  connectionList->viewport()->installEventFilter(this);
  setSizeGripEnabled(true);
}

bool CStatusDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == connectionList->viewport() && event->type() == QEvent::Resize) fitColumns();
  return CTemplateDialog::eventFilter(watched, event);
}

// Every column keeps at least its own width, so a narrow table scrolls; a
// wider one shares the extra room out in proportion, so the table fills it.
void CStatusDlg::fitColumns() {
  int total = 0;
  for (int width : columnWidths) total += width;
  const int room = std::max(connectionList->viewport()->width(), total);
  int used = 0;
  for (int i = 0; i < int(columnWidths.size()); ++i) {
    const bool last = i + 1 == int(columnWidths.size());
    const int width = last ? room - used : columnWidths[i] * room / total;
    connectionList->setColumnWidth(i, width);
    used += width;
  }
}

void CStatusDlg::OnInitDialog() {
  connectionList->setShowGrid(true);
  connectionList->setSelectionBehavior(QAbstractItemView::SelectRows);
  connectionList->setSelectionMode(QAbstractItemView::SingleSelection);
  // Rows as tight as a report list's, not Qt's roomier default.
  connectionList->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  insertColumns();
  if (repeater) insertRows();
}

void CStatusDlg::insertColumns() {
  QHeaderView* header = connectionList->horizontalHeader();
  header->setHighlightSections(false);
  connectionList->setColumnCount(int(kColumns.size()));
  for (int i = 0; i < int(kColumns.size()); ++i) {
    auto* heading = new QTableWidgetItem(QString::fromLatin1(kColumns[i].heading));
    heading->setTextAlignment(kColumns[i].alignment | Qt::AlignVCenter);
    connectionList->setHorizontalHeaderItem(i, heading);
  }
  fitColumns();
}

void CStatusDlg::insertRows() {
  int position = 0;
  int row = 0;  // counts rows, not table slots
  while (CTcpStreamPair* pair = repeater->getNextConnection(position)) {
    // A pair always holds both streams while it sits in the table; be safe anyway.
    if (!pair->acceptStream || !pair->connectStream) continue;
    connectionList->insertRow(row);
    const auto cells = cellsOf(*pair);
    for (int column = 0; column < int(cells.size()); ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      item->setTextAlignment(kColumns[column].alignment | Qt::AlignVCenter);
      connectionList->setItem(row, column, item);
      widenForIPv6(*item);
    }
    ++row;
  }
  fitColumns();
}

// An IPv6 address is shown whole: its column grows to the width its cell
// asks for. IPv4 rows keep the list's own widths, as they always have, even
// where they cut a long dotted address: kept.
void CStatusDlg::widenForIPv6(const QTableWidgetItem& item) {
  const int column = item.column();
  if (!kColumns[size_t(column)].address || !item.text().contains(QLatin1Char(':'))) return;
  const int width = connectionList->sizeHintForIndex(connectionList->model()->index(item.row(), column)).width();
  // The grid line takes a pixel of the cell's width.
  columnWidths[column] = std::max(columnWidths[column], width + (connectionList->showGrid() ? 1 : 0));
}
