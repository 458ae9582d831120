#include "resources/templates.h"

namespace {

const DialogTemplate* const kAllTemplates[] = {
    &kAboutTemplate,          &kMainTemplate,        &kPortTemplate,
    &kSettingTemplate,
    &kStatusTemplate,         &kFilterConditionTemplate,
    &kIpConditionTemplate,    &kPropertyTemplate,     &kEventLogTemplate,
};

}  // namespace

const DialogTemplate* findDialogTemplate(int id) {
  for (const DialogTemplate* t : kAllTemplates) {
    if (t->id == id) return t;
  }
  return nullptr;
}

std::span<const DialogTemplate* const> allDialogTemplates() { return kAllTemplates; }
