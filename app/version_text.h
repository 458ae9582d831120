#pragma once
// The version text of the About dialog, from the product version compiled
// into the program ("1, 1, 1, 115"). Built once, on first use, and kept for
// the life of the process.

#include <string>

// "Ver.:" followed by the compiled-in product version.
const std::string& getVersionText();

// How many times the process has built the version text: 1 after any number
// of calls to getVersionText, 0 before the first.
int versionTextBuildCount();

// "Ver.:%s" filled with any product version.
std::string formatVersionText(const std::string& productVersion);

// The version as the About dialog shows it: every "," becomes "-", then
// every ";" becomes "." (plain substring replacements, in that order).
std::string replaceVersionSeparators(std::string versionText);
