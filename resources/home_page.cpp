#include "resources/home_page.h"

#include <QDesktopServices>
#include <QUrl>

namespace {

// The desktop's one browser, or what stands in for it; empty: the desktop services.
CUrlOpener urlOpener;

}  // namespace

void openHomePage() {
  const QUrl url(QString::fromLatin1(kHomePageUrl));
  if (urlOpener) {
    urlOpener(url);
  } else {
    QDesktopServices::openUrl(url);
  }
}

void setUrlOpener(CUrlOpener opener) { urlOpener = std::move(opener); }
