#include "relay/socket_error_words.h"

#include "relay/winsock_errors.h"

namespace {

struct CSocketErrorWords {
  int error;
  const char* english;  // null: the English lines name it "socket error"
  const char* japanese;
};

// The errors a listener, a connect or a relayed connection can meet. The
// English lines have only ever named thirteen of them; the other five stay
// "socket error" there, as log readers have seen them.
constexpr CSocketErrorWords kWords[] = {
    {ws::kWSAEACCES, "permission denied", "ポートを使う権限がありません"},
    {ws::kWSAEINVAL, "invalid address or port", "アドレスまたはポートが無効です"},
    {ws::kWSAEMFILE, "too many open files", "開いているファイルが多すぎます"},
    {ws::kWSAEADDRINUSE, "address already in use", "アドレスは既に使用されています"},
    {ws::kWSAEADDRNOTAVAIL, "address not available on this host", "このホストのアドレスではありません"},
    {ws::kWSAENETDOWN, nullptr, "ネットワークが停止しています"},
    {ws::kWSAENETUNREACH, "network unreachable", "ネットワークに到達できません"},
    {ws::kWSAENETRESET, nullptr, "ネットワークで接続がリセットされました"},
    {ws::kWSAECONNABORTED, "connection aborted", "接続が中断されました"},
    {ws::kWSAECONNRESET, "connection reset", "接続がリセットされました"},
    {ws::kWSAENOBUFS, "out of memory", "メモリが不足しています"},
    {ws::kWSAENOTCONN, nullptr, "接続されていません"},
    {ws::kWSAESHUTDOWN, nullptr, "接続は既に閉じられています"},
    {ws::kWSAETIMEDOUT, "timed out", "時間内に応答がありません"},
    {ws::kWSAECONNREFUSED, "connection refused", "接続を拒否されました"},
    {ws::kWSAEHOSTDOWN, nullptr, "ホストが停止しています"},
    {ws::kWSAEHOSTUNREACH, "host unreachable", "ホストに到達できません"},
    {ws::kWSAEAFNOSUPPORT, "address family not supported", "このアドレスの種類は使えません"},
};

const CSocketErrorWords* findWords(int wsaError) {
  for (const CSocketErrorWords& words : kWords)
    if (words.error == wsaError) return &words;
  return nullptr;
}

}  // namespace

namespace ws {

const char* describeError(int wsaError) {
  const CSocketErrorWords* words = findWords(wsaError);
  return words && words->english ? words->english : "socket error";
}

}  // namespace ws

const char* socketErrorWords(int wsaError) {
  const CSocketErrorWords* words = findWords(wsaError);
  return words ? words->japanese : "ソケットエラー";
}
