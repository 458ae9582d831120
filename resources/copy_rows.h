#pragma once
// Copying from a list or a table as a user expects: "コピー" in the view's
// context menu and Ctrl+C both put the selected rows on the clipboard, cells
// separated by tabs and rows by line breaks, in the order shown; a table's
// rows come below a row of its headings.

class QAbstractItemView;
class QString;

void addCopyAction(QAbstractItemView* view);
QString selectedRowsText(const QAbstractItemView* view);
