#include "dialogs/socket_error_words.h"

#include "relay/winsock_errors.h"

namespace {

struct CErrorWords {
  int error;
  const char* words;
};

// The errors a listener, a connect or a relayed connection can meet.
constexpr CErrorWords kWords[] = {
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

}  // namespace

const char* socketErrorWords(int wsaError) {
  for (const CErrorWords& entry : kWords)
    if (entry.error == wsaError) return entry.words;
  return "ソケットエラー";
}
