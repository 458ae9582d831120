#pragma once
// The main window's texts live in resources/app_texts.h; this name stays
// only until app/main.cpp includes that header itself.
#include "resources/app_texts.h"
