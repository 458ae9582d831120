#pragma once
// Builds a dialog template into widgets. Every control becomes a direct child
// of the window, named by its numeric id (objectName "1046"), placed at its
// rectangle converted from dialog units, so code and tests find controls by
// id with control<T>(window, id).
//
// Kinds map to: group box QGroupBox, push button QPushButton, check box
// QCheckBox, push-like check box checkable QPushButton, radio button
// QRadioButton (each group in a QButtonGroup with a radio group's keyboard,
// see radioGroup() and radio_group_keys.h), static and
// icon QLabel, edit QLineEdit, spin CSpinButton, IPv4 address CIpAddressEdit,
// list box QListWidget, list view QTableWidget, link QLabel (linkActivated),
// model list QListView. A resizable template opens at its size, which is
// also its smallest, and its controls follow their anchors.

#include <QFont>
#include <QRect>
#include <QSize>

#include "resources/dialog_template.h"

class QButtonGroup;
class QWidget;

// Dialog units of a font: a horizontal unit is a quarter of the font's
// average character width, a vertical unit an eighth of its height.
class CDialogUnits {
 public:
  explicit CDialogUnits(const QFont& font);
  int x(int units) const;
  int y(int units) const;
  QRect map(int x, int y, int width, int height) const;
  QSize size(int width, int height) const;
  int baseWidth() const { return cx_; }
  int baseHeight() const { return cy_; }

 private:
  int cx_;
  int cy_;
};

// Gives the window the dialog font, its caption and size, and creates
// every control of the template. Child templates stay hidden until their
// owner shows them.
void buildDialog(QWidget* window, const DialogTemplate& dialogTemplate);
// The template with that number; it must exist.
void buildDialog(QWidget* window, int templateId);

// The window's own control with that id, or nullptr.
QWidget* findControl(const QWidget* window, int id);
template <class T>
T* control(const QWidget* window, int id) {
  return qobject_cast<T*>(findControl(window, id));
}

// The button group of the radio buttons that starts with firstId; a button's
// id within the group is its index in template order.
QButtonGroup* radioGroup(const QWidget* window, int firstId);
// Index of the checked button, -1 when none is checked.
int checkedRadioIndex(const QButtonGroup* group);
// Checks the button at index; any other index leaves none checked.
void setCheckedRadioIndex(QButtonGroup* group, int index);
