#pragma once
// The maker's home page and the one way the program opens it, shared by the
// About dialog's link and the main window's. The opener can be replaced, so
// tests see the request without starting a browser.

#include <functional>

class QUrl;

constexpr const char* kHomePageUrl = "https://bellmoth.example/";

using CUrlOpener = std::function<void(const QUrl&)>;

// Opens the home page with the current opener; the result is not examined.
void openHomePage();
// An empty opener restores the default, the desktop's own browser.
void setUrlOpener(CUrlOpener opener);
