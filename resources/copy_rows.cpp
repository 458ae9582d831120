#include "resources/copy_rows.h"

#include <QAbstractItemView>
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QTableView>
#include <map>

#include "resources/dialog_texts.h"

QString selectedRowsText(const QAbstractItemView* view) {
  // Row, then column, whatever order the selection was made in.
  std::map<int, std::map<int, QString>> cells;
  for (const QModelIndex& index : view->selectionModel()->selectedIndexes())
    cells[index.row()][index.column()] = index.data(Qt::DisplayRole).toString();
  QStringList rows;
  // A table's rows come below its headings, so the copy says what each column is.
  if (qobject_cast<const QTableView*>(view) && !cells.empty()) {
    QStringList headings;
    for (const auto& [column, text] : cells.begin()->second)
      headings << view->model()->headerData(column, Qt::Horizontal).toString();
    rows << headings.join(QLatin1Char('\t'));
  }
  for (const auto& [row, columns] : cells) {
    QStringList texts;
    for (const auto& [column, text] : columns) texts << text;
    rows << texts.join(QLatin1Char('\t'));
  }
  return rows.join(QLatin1Char('\n'));
}

void addCopyAction(QAbstractItemView* view) {
  auto* copy = new QAction(QString::fromUtf8(kCopy), view);
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);  // before the view's own copy of one cell
  QObject::connect(copy, &QAction::triggered, view, [view] {
    const QString text = selectedRowsText(view);
    if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
  });
  view->addAction(copy);
  view->setContextMenuPolicy(Qt::ActionsContextMenu);
}
