#pragma once
// A dialog built from its template that initialises itself once, just
// before it is first shown, as a dialog's initialisation step runs between
// creation and display: a caller may set members after construction, and
// OnInitDialog() sees them.

#include <QDialog>

class CTemplateDialog : public QDialog {
  Q_OBJECT

 public:
  CTemplateDialog(int templateId, QWidget* parent);

  // Runs OnInitDialog() before the first showing.
  void setVisible(bool visible) override;

 protected:
  virtual void OnInitDialog() {}
  bool initialised() const { return initialised_; }

 private:
  bool initialised_ = false;
};
