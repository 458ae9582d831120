#include "app/version_text.h"

#include "resources/app_texts.h"

#ifndef QUILLEX_PRODUCT_VERSION
#error "QUILLEX_PRODUCT_VERSION comes from the project version in CMake"
#endif

namespace {

// Built on first use so the text is made once however often the About
// dialog opens.
std::string versionText;
int buildCount = 0;

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

const std::string& getVersionText() {
  if (buildCount == 0) {
    versionText = formatVersionText(QUILLEX_PRODUCT_VERSION);
    ++buildCount;
  }
  return versionText;
}

int versionTextBuildCount() { return buildCount; }

std::string formatVersionText(const std::string& productVersion) { return kVersionTextPrefix + productVersion; }

std::string replaceVersionSeparators(std::string versionText) {
  replaceAll(versionText, ",", "-");
  replaceAll(versionText, ";", ".");
  return versionText;
}
