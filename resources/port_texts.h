#pragma once
// The texts of a port: the panel's messages, captions and marks, why a port
// that is ON does not listen, and what the checks before a start refuse.
// UTF-8 constants without Qt, so the engine's port checks include them too;
// used exactly as written. %1, %2 ... are Qt's arguments, %d and %s printf's.

// The panel.
constexpr const char* kPortInUse = "PORTを使用中です。OFF状態で設定して下さい";
constexpr const char* kSettingBusy = "現在PORTの設定中です";
// The half-width full stop is the message's own, kept.
constexpr const char* kNoConnection = "現在接続はありません.";
constexpr const char* kSwitchOn = "ON";
constexpr const char* kSwitchOff = "OFF";
constexpr const char* kPortCaption = "TCP:%1";
// %2 is one of the listen reasons below; it stays ON, so the port is tried
// again at the next start.
constexpr const char* kNotListening = "TCP:%1 は ON ですが、待ち受けていません。\n%2\n次回の起動時にもう一度試みます。";
// The mark in the count of a port that is ON but does not listen.
constexpr const char* kFailMark = "！";
// The filter mark's tooltip: the mode's caption, or for an unknown mode its number.
constexpr const char* kFilterTip = "フィルタ: %1";
constexpr const char* kIndividualCounts = " (拒否 %1 件、許可 %2 件)";
constexpr const char* kUnknownMode = "モード %1 (全て許可として動作)";

// Why a port that is ON does not listen.
constexpr const char* kNoHost = "待ち受けていません: 転送先ホストが設定されていません";
constexpr const char* kLoopsToItself = "転送先がこのポート自身です (%1): 中継がループするため待ち受けません";
constexpr const char* kLoopsToPort = "転送先が TCP:%1 の待ち受けです (%2): 中継がループするため待ち受けません";
// The no-break space keeps the number with its word where a message box wraps the line.
constexpr const char* kCannotListen = "%1 で待ち受けできません: %2 (エラー\u00a0%3)";

// Switching a port on: the panel's message boxes, and the headless runner's
// lines for the same settings.
constexpr const char* kListenPortInvalid = "Listenポートが無効な設定です";
constexpr const char* kForwardPortInvalid = "転送先ポート番号が無効な設定です";

// What the headless runner also refuses, being a server, one line each.
constexpr const char* kNoDestinationHost = "ON, but no destination host is set";
constexpr const char* kHostTooLong = "FORWARDHOST is %zu bytes long; a host name has at most %zu";
constexpr const char* kNotAnAddress = "%s=\"%s\" is not a dotted IPv4 address";
constexpr const char* kNotAFilterMode = "FILTERMODE=%d is not a filter mode (0 to 3)";
constexpr const char* kNotStarted = "%s: not started";
constexpr const char* kConnectBindMissing =
    "IPCONNECTBIND=%s is not an address of this machine now; connections will fail until it is";
constexpr const char* kTimeoutNotANumber = "%s=%s is not a whole number of seconds; read as %d%s";
constexpr const char* kTimeoutTooLong = "%s=%s is more than %d seconds; read as %d";
constexpr const char* kLoopToItself = "relays to its own listening port (%s:%d), a loop: not started";
constexpr const char* kLoopToPort = "relays to the listening port of %s (%s:%d), a loop: not started";
