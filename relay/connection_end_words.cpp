#include "relay/connection_end_words.h"

namespace {

using End = CConnectionRecord::End;

constexpr CConnectionEndWords kEnds[] = {
    {End::ClosedByCaller, "closed-by-caller", "接続元が閉じました", false},
    {End::ClosedByDestination, "closed-by-destination", "転送先が閉じました", false},
    {End::ResetByCaller, "reset-by-caller", "接続元でエラー: ", true},
    {End::ResetByDestination, "reset-by-destination", "転送先でエラー: ", true},
    {End::RefusedByFilter, "refused-by-filter", "フィルタで拒否しました", false},
    {End::ConnectFailed, "connect-failed", "転送先に接続できません: ", true},
    {End::Stopped, "stopped", "ポートの停止で切断しました", false},
    {End::RefusedAsLoop, "refused-as-loop", "拒否しました: この中継自身からの接続です", false},
    {End::IdleTimeout, "idle-timeout", "無通信タイムアウトで切断しました", false},
};

}  // namespace

const CConnectionEndWords* connectionEndWords(CConnectionRecord::End end) {
  for (const CConnectionEndWords& words : kEnds)
    if (words.end == end) return &words;
  return nullptr;
}
