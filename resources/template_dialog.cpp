#include "resources/template_dialog.h"

#include "resources/template_builder.h"

CTemplateDialog::CTemplateDialog(int templateId, QWidget* parent) : QDialog(parent) {
  buildDialog(this, templateId);
}

void CTemplateDialog::setVisible(bool visible) {
  if (visible && !initialised_) {
    initialised_ = true;
    OnInitDialog();
  }
  QDialog::setVisible(visible);
}
