#pragma once
// The words of the event log, as the event log, the panel's reasons and its
// messages show them. UTF-8 constants without Qt, used exactly as written;
// %1, %2 ... are Qt's arguments. How a connection ended and what a socket
// error means are in relay/ (connection_end_words, socket_error_words),
// beside the words the headless relay uses for them.

// A socket error in words: "%1 (エラー %2)" with the words and the number.
constexpr const char* kSocketErrorText = "%1 (エラー %2)";

// A connect that failed for want of an address: the name had none.
constexpr const char* kNameUnresolved = "転送先に接続できません: 名前を解決できません (エラー %1)";

// One connection: the caller, the arrow, the destination (and the address
// reached when it differs), how it ended, its duration and bytes each way.
constexpr const char* kPathArrow = " → ";
constexpr const char* kReachedAddress = " (%1)";
constexpr const char* kConnectionLine = "%1 %2  %3 秒  上り %4 バイト  下り %5 バイト";

// A port's listening.
constexpr const char* kListenStarted = "待ち受けを開始しました: %1 → %2";
constexpr const char* kListenStopped = "待ち受けを停止しました";

// The log's first line once it holds as many events as it keeps.
constexpr const char* kOlderEventsDropped = "これより前の %1 件は削除されました (最新の %2 件を保持しています)";

// A line of the log: its time, the port and the event.
constexpr const char* kEventTimeFormat = "yyyy-MM-dd HH:mm:ss.zzz";
constexpr const char* kEventLine = "%1  TCP:%2  %3";
