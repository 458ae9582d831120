#pragma once
// The texts of a port: the panel's messages, captions and marks, and why a
// port that is ON does not listen. UTF-8 constants, used exactly as written;
// %1, %2 ... are Qt's arguments. What the checks before a start refuse is in
// port/port_check_texts.h, beside the checks.

// The panel.
constexpr const char* kPortInUse = "PORTを使用中です。OFF状態で設定して下さい";
constexpr const char* kSettingBusy = "現在PORTの設定中です";
// The half-width full stop is the message's own, kept.
constexpr const char* kNoConnection = "現在接続はありません.";
constexpr const char* kSwitchOn = "ON";
constexpr const char* kSwitchOff = "OFF";
constexpr const char* kPortCaption = "TCP:%1";
// %2 is one of the listen reasons below. The port stays ON, so it is tried
// again at the next start: the last line says so where that can succeed.
constexpr const char* kNotListening = "TCP:%1 は ON ですが、待ち受けていません。\n%2";
constexpr const char* kRetryAtNextStart = "\n次回の起動時にもう一度試みます。";
// The tooltip of a port that does not listen, and its event log line.
constexpr const char* kNotListeningTip = "待ち受けていません: %1";
// The mark in the count of a port that is ON but does not listen.
constexpr const char* kFailMark = "！";
// The filter mark's tooltip: the mode's caption, or for an unknown mode its number.
constexpr const char* kFilterTip = "フィルタ: %1";
constexpr const char* kIndividualCounts = " (拒否 %1 件、許可 %2 件)";
constexpr const char* kUnknownMode = "モード %1 (全て許可として動作)";

// Why a port that is ON does not listen; short enough that a message box
// shows each on one line.
constexpr const char* kNoHost = "転送先ホストが設定されていません";
constexpr const char* kLoopsToItself = "転送先がこのポート自身です (%1): 中継がループします";
constexpr const char* kLoopsToPort = "転送先が TCP:%1 の待ち受けです (%2): 中継がループします";
// Where it tried to listen, then the socket error in words with its number.
constexpr const char* kCannotListen = "%1: %2";
