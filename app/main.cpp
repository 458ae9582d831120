// Program entry: start-up and the main window, or the headless relay.
#include <QApplication>
#include <cstdio>
#include <optional>
#include <vector>

#include "app/command_line.h"
#include "app/debug_console.h"
#include "app/headless_start.h"
#include "app/qt_loop_adapter.h"
#include "app/quillex_dlg.h"
#include "app/startup.h"
#include "port/profile_file.h"
#include "port/profile_location.h"
#include "relay/async_socket.h"
#include "relay/event_loop.h"
#include "relay/line_output.h"
#include "relay/memory_reserve.h"
#include "relay/platform/descriptor.h"
#include "relay/platform/errors.h"
#include "relay/platform/paths.h"
#include "relay/platform/signals.h"
#include "relay/signal_events.h"
#include "relay/trace.h"
#include "resources/app_icon.h"
#include "resources/app_texts.h"
#include "resources/dialog_look.h"
#include "resources/message_box.h"

namespace {

// How long the end of the program waits for the trace's reader.
constexpr int kTraceDrainAtExitMs = 200;

// In debug mode an interrupt is ignored and a termination is a close
// request (the window hides, the relay goes on); otherwise a termination
// ends the program as "終了" does, every port saved and stopped.
void onSignal(CQuillexDlg& window, bool debugMode, CSignalEvents::Signal signal) {
  if (debugMode && signal == CSignalEvents::Signal::Interrupt) return;
  if (debugMode) {
    window.close();
    return;
  }
  endMessages();  // no box the ending meets waits for a click
  window.OnTrayExit();
}

// A profile named with --profile that exists but cannot be read would be
// replaced by the defaults at exit: refuse to start instead.
bool refuseUnreadableProfile(const std::string& path) {
  CProfile profile;
  int error = 0;
  if (path.empty() || readProfileFile(path, profile, &error)) return true;
  const std::string problem = path + ": " + platform::systemErrorText(error);
  std::fprintf(stderr, "Quillex: cannot read the profile %s\n", problem.c_str());
  showMessage(nullptr, QString::fromUtf8(MSG_PROFILE_UNREADABLE).arg(QString::fromLocal8Bit(problem.c_str())));
  return false;
}

void changeToProgramDirectory() {
  const std::string dir = platform::executableDirectory();
  // A failed change leaves the directory as it was; the line names the
  // program's directory either way.
  if (!dir.empty()) platform::changeDirectory(dir);
  QTRACE("CurrentDir=%s", dir.c_str());  // no line break, kept as the trace has it
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that goes away (a closed pipe on the trace) must never end the
  // relay; a failed write is enough.
  platform::ignoreBrokenPipe();
  platform::passStandardStreamsUnchanged();
  CUtf8Arguments utf8(argc, argv);
  const CCommandLine command = parseCommandLine(utf8.argc(), utf8.argv());
  if (const int code = refuseBeforeStart(command); code >= 0) return code;
  // Memory that runs short ends no connection for it.
  CMemoryReserve memoryReserve;
  if (command.headless) return runHeadlessFromArguments(utf8.argc(), utf8.argv(), command, memoryReserve);

  std::vector<char*> arguments(argv, argv + argc);  // Qt takes its own options out of argv
  platform::blockProcessSignals();
  QApplication app(argc, argv);
  // Only now are Qt's own options out of argv: what is left unknown is listed
  // below like any other argument, and the program starts.
  warnUnknownOption(parseCommandLine(argc, argv));
  app.setQuitOnLastWindowClosed(false);
  installDialogLook();
  QApplication::setWindowIcon(quillexIcon());
  QGuiApplication::setDesktopFileName(QStringLiteral("example.bellmoth.Quillex"));  // the installed entry

  if (!refuseUnreadableProfile(command.profilePath)) return 1;

  CEventLoop loop;
  if (!loop.ok()) {
    showMessage(nullptr, QString::fromUtf8(IDS_SOCKETS_FAILED));
    return 1;
  }
  loop.setMemoryReserve(&memoryReserve);
  CQtLoopAdapter adapter(loop);

  CStartupOptions options = listArguments(int(arguments.size()), arguments.data(), stdout);
  std::unique_ptr<CTraceWindow> traceWindow = bindStandardStreams(options.debugMode);
  // A terminal that stops scrolling or a trace window that falls behind
  // costs trace lines, never relaying.
  CLineOutput traceOutput(platform::standardOutput(), &trace::droppedLine);
  traceOutput.attach(&loop);
  trace::setOutput(&traceOutput);
  if (options.debugMode) platform::ignoreQuitKey();
  traceStartBanner(options.debugMode);
  changeToProgramDirectory();

  int code = 0;
  {
    // Heard inside the relay's dispatch and acted on once that is done. It
    // is heard from the start: the window's start-up may show a message,
    // which then closes, and the ending follows once the window is made.
    CQuillexDlg* window = nullptr;
    std::optional<CSignalEvents::Signal> heardWhileMaking;
    CSignalEvents signalEvents(loop, [&](CSignalEvents::Signal signal) {
      QMetaObject::invokeMethod(
          &app,
          [&, signal] {
            if (window) return onSignal(*window, options.debugMode, signal);
            if (options.debugMode && signal == CSignalEvents::Signal::Interrupt) return;
            heardWhileMaking = signal;
            if (options.debugMode) return;
            endMessages();
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
          },
          Qt::QueuedConnection);
    });
    CQuillexDlg made(command.profilePath.empty() ? locateProfile() : command.profilePath, loop);
    window = &made;
    bool ended = false;
    QObject::connect(window, &CQuillexDlg::exitRequested, &app, [&](int exitCode) {
      ended = true;
      code = exitCode;
      QCoreApplication::exit(exitCode);
    });
    if (heardWhileMaking) onSignal(made, options.debugMode, *heardWhileMaking);
    if (!ended) code = app.exec();
    window = nullptr;
  }
  // The last trace lines get a short while, as the headless relay gives them.
  traceOutput.drain(kTraceDrainAtExitMs);
  trace::setOutput(nullptr);
  return code;
}
