#include "app/startup.h"

#include <cstring>

#include "relay/trace.h"

bool isDebugSwitch(const char* argument) { return std::strcmp(argument, "-D563") == 0; }

CStartupOptions listArguments(int argc, char** argv, std::FILE* out) {
  CStartupOptions options;
  for (int i = 1; i < argc; ++i) {
    char label[64];
    std::snprintf(label, sizeof label, "%d番目の引数", i);
    if (out) std::fprintf(out, "%s=%s\n", label, argv[i]);
    if (isDebugSwitch(argv[i])) {
      options.debugMode = true;
      if (out) std::fprintf(out, "DEBUGMODE ON\n");  // without the "_" of the trace's "DEBUG_MODE ON", kept
    }
    if (std::strcmp(argv[i], "--headless") == 0) options.headless = true;
  }
  if (out) std::fflush(out);
  return options;
}

void traceStartBanner(bool debugMode) {
  QTRACE("********** Start QUILLEX DEBUG MODE  *******\n");  // two blanks before the asterisks, kept
  if (debugMode) QTRACE("DEBUG_MODE ON\n");
}
