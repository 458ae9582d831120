#pragma once
// The two marks of a port panel beyond the original's colours: the words of
// its filter mark, and the mark of a port that is ON but does not listen.

#include <QString>

class CIpFilter;
class QLabel;

// The filter mode in the settings dialog's words, with the list sizes.
QString filterTip(const CIpFilter& filter);
// A white mark on red at the left of the count box, hidden until shown.
QLabel* makeFailMark(QLabel* count);
