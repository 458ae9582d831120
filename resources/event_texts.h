#pragma once
// The words of the event log and of socket errors, as the event log, the
// panel's reasons and its messages show them. UTF-8 constants without Qt,
// used exactly as written; %1, %2 ... are Qt's arguments.

#include "relay/winsock_errors.h"

// A socket error in words: "%1 (エラー %2)" with the words and the number.
constexpr const char* kSocketErrorText = "%1 (エラー %2)";

// How a connection ended.
constexpr const char* kClosedByCaller = "接続元が閉じました";
constexpr const char* kClosedByDestination = "転送先が閉じました";
constexpr const char* kResetByCaller = "接続元でエラー: ";          // then the error's text
constexpr const char* kResetByDestination = "転送先でエラー: ";     // then the error's text
constexpr const char* kConnectFailed = "転送先に接続できません: ";  // then the error's text
constexpr const char* kNameUnresolved = "転送先に接続できません: 名前を解決できません (エラー %1)";
constexpr const char* kStopped = "ポートの停止で切断しました";
constexpr const char* kIdleTimeout = "無通信タイムアウトで切断しました";
constexpr const char* kRefusedByFilter = "フィルタで拒否しました";
constexpr const char* kRefusedAsLoop = "拒否しました: この中継自身からの接続です";

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

// The words for the socket errors a listener, a connect or a relayed
// connection can meet; any other number reads as a plain socket error.
struct CSocketErrorWords {
  int error;
  const char* words;
};
constexpr CSocketErrorWords kSocketErrorWords[] = {
    {ws::WSAEACCES, "ポートを使う権限がありません"},
    {ws::WSAEINVAL, "アドレスまたはポートが無効です"},
    {ws::WSAEMFILE, "開いているファイルが多すぎます"},
    {ws::WSAEADDRINUSE, "アドレスは既に使用されています"},
    {ws::WSAEADDRNOTAVAIL, "このホストのアドレスではありません"},
    {ws::WSAENETDOWN, "ネットワークが停止しています"},
    {ws::WSAENETUNREACH, "ネットワークに到達できません"},
    {ws::WSAENETRESET, "ネットワークで接続がリセットされました"},
    {ws::WSAECONNABORTED, "接続が中断されました"},
    {ws::WSAECONNRESET, "接続がリセットされました"},
    {ws::WSAENOBUFS, "メモリが不足しています"},
    {ws::WSAENOTCONN, "接続されていません"},
    {ws::WSAESHUTDOWN, "接続は既に閉じられています"},
    {ws::WSAETIMEDOUT, "時間内に応答がありません"},
    {ws::WSAECONNREFUSED, "接続を拒否されました"},
    {ws::WSAEHOSTDOWN, "ホストが停止しています"},
    {ws::WSAEHOSTUNREACH, "ホストに到達できません"},
    {ws::WSAEAFNOSUPPORT, "このアドレスの種類は使えません"},
};
constexpr const char* kPlainSocketError = "ソケットエラー";
