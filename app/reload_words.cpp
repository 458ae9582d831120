#include "app/reload_words.h"

#include <string_view>

#include "relay/platform/signals.h"

namespace {

struct CReloadWords {
  const char* cause;
  const char* askAgain;
  const char* howTo;  // "{pid}" stands for the process id
};

constexpr CReloadWords kHangUp{"SIGHUP", "send SIGHUP again", "send SIGHUP (kill -HUP {pid})"};
constexpr CReloadWords kFileChange{"the profile changed", "save it again",
                                   "save the profile (Quillex reads it again whenever it changes)"};

const CReloadWords& words() { return platform::hasHangUpSignal() ? kHangUp : kFileChange; }

}  // namespace

std::string reloadCause() { return words().cause; }

std::string reloadAskAgain() { return words().askAgain; }

std::string reloadHowTo(int processId) {
  std::string text = words().howTo;
  constexpr std::string_view kPid = "{pid}";
  if (const size_t at = text.find(kPid); at != std::string::npos) text.replace(at, kPid.size(), std::to_string(processId));
  return text;
}
