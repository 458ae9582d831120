#include "app/command_line.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "relay/event_loop.h"
#include "relay/platform/paths.h"

namespace {

// Every option this program defines, in the order the usage lists them.
struct COption {
  const char* name;
  const char* argument;  // nullptr: takes none
  const char* help;
};

constexpr COption kOptions[] = {
    {"-D563", nullptr, "show the debug trace of every connection"},
    {"--headless", nullptr, "relay every port that is ON in the profile, without a window"},
    {"--service", nullptr, "with --headless, on Windows: run as a service (sc create, sc start); its\n"
                           "                  lines go to Quillex.log beside the profile"},
    {"--profile", "PATH", "read and write this profile instead of Quillex.ini beside the program\n"
                          "                  (or in ~/.config/quillex/ when that directory is read-only)"},
    {"--quiet", nullptr, "headless: no connection log on standard error"},
    {"--help", nullptr, "show this text and exit"},
};

bool isDefined(std::string_view argument) {
  for (const COption& option : kOptions)
    if (argument == option.name) return true;
  return false;
}

void printUsage(std::FILE* out) {
  std::fprintf(out, "Usage: quillex [options]\n\n");
  for (const COption& option : kOptions) {
    std::string head = option.name;
    if (option.argument) head += std::string(" ") + option.argument;
    std::fprintf(out, "  %-15s %s\n", head.c_str(), option.help);
  }
  std::fprintf(out, "\nIn window mode Qt's own options (for example -platform) are accepted too.\n");
}

// The value of --profile, from "--profile PATH" (i moves past PATH) or
// "--profile=PATH".
void takeProfile(CCommandLine& line, int argc, char** argv, int& i, const char* inlineValue) {
  const char* value = inlineValue;
  if (!value && i + 1 < argc) value = argv[++i];
  // A value that looks like an option is almost always a forgotten path.
  if (!value || !*value || *value == '-') {
    line.error = "--profile needs the path of a profile file";
    return;
  }
  line.profilePath = platform::absolutePath(value);
}

}  // namespace

CUtf8Arguments::CUtf8Arguments(int argc, char** argv) : text_(platform::programArguments(argc, argv)) {
  for (std::string& argument : text_) pointers_.push_back(argument.data());
  pointers_.push_back(nullptr);
}

CCommandLine parseCommandLine(int argc, char** argv) {
  CCommandLine line;
  for (int i = 1; i < argc && line.error.empty(); ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--headless") {
      line.headless = true;
    } else if (argument == "--help") {
      line.help = true;
    } else if (argument == "--quiet") {
      line.quiet = true;
    } else if (argument == "--service") {
      line.service = true;
    } else if (argument == "--profile" || argument.starts_with("--profile=")) {
      takeProfile(line, argc, argv, i, argument == "--profile" ? nullptr : argv[i] + std::strlen("--profile="));
    } else if (argument.starts_with("--") && !isDefined(argument) && line.unknownOption.empty()) {
      line.unknownOption = argv[i];
    }
  }
  return line;
}

int commandLineExitCode(const CCommandLine& line, bool refuseUnknown) {
  if (line.help) {
    printUsage(stdout);
    return 0;
  }
  std::string error = line.error;
  if (error.empty() && refuseUnknown && !line.unknownOption.empty())
    error = "unknown option " + line.unknownOption;
  if (error.empty()) return -1;
  std::fprintf(stderr, "quillex: %s\n\n", error.c_str());
  printUsage(stderr);
  return 2;
}

int checkChosenBackend(bool refuse) {
  const char* chosen = CEventLoop::unknownBackendChosen();
  if (!chosen) return -1;
  if (refuse) {
    std::fprintf(stderr, "quillex: QUILLEX_POLLER=\"%s\" names no event loop backend: choose %s\n", chosen,
                 CPoller::backendNames());
    return 2;
  }
  std::fprintf(stderr, "quillex: warning: QUILLEX_POLLER=\"%s\" names no event loop backend (%s); using %s\n",
               chosen, CPoller::backendNames(), CPoller::backends().front().name);
  return -1;
}

void warnUnknownOption(const CCommandLine& line) {
  if (!line.unknownOption.empty())
    std::fprintf(stderr, "quillex: warning: unknown option %s ignored\n", line.unknownOption.c_str());
}
