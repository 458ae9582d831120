#include "resources/home_page.h"

#include <QDesktopServices>
#include <QUrl>

namespace {

CUrlOpener urlOpener;  // empty: the desktop services

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
