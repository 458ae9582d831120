#pragma once
// The template tables, one per window, and the index of them. Defined with
// constant initialisers, so they are ready before any code runs.

#include "resources/dialog_template.h"

extern const DialogTemplate kAboutTemplate;           // 100
extern const DialogTemplate kMainTemplate;            // 102
extern const DialogTemplate kPortTemplate;            // 130
extern const DialogTemplate kSettingTemplate;         // 131
extern const DialogTemplate kStatusTemplate;          // 132
extern const DialogTemplate kFilterConditionTemplate; // 134
extern const DialogTemplate kIpConditionTemplate;     // 135
extern const DialogTemplate kPropertyTemplate;        // 136
extern const DialogTemplate kEventLogTemplate;        // 138

// The template with the given resource number, or nullptr.
const DialogTemplate* findDialogTemplate(int id);
// Every template, for checks that walk all of them.
std::span<const DialogTemplate* const> allDialogTemplates();
