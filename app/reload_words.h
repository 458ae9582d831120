#pragma once
// What the headless relay's lines say about reading the profile again, for
// this system: SIGHUP where the system has it, a change of the profile's
// file where it has none (Windows). Both systems' words sit side by side in
// reload_words.cpp.

#include <string>

// "Quillex: <cause>: reading PATH again"
std::string reloadCause();
// "... every port goes on as it was (<askAgain> once it is written)"
std::string reloadAskAgain();
// "then <howToReload> or start Quillex again."
std::string reloadHowTo(int processId);
