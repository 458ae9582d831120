// Templates of the settings dialogs: port settings, connection status, filter
// condition and the address list panel.
#include "resources/resource_ids.h"
#include "resources/templates.h"

namespace {

using K = ControlKind;

constexpr ControlTemplate kSettingControls[] = {
    {kNoId, K::GroupBox, "基本設定", 2, 4, 185, 44},
    {kNoId, K::Static, "Port No.", 17, 15, 26, 13},
    {IDC_LISTEN_PORT, K::Edit, "", 13, 29, 33, 12, kAlignRight},
    {IDC_LISTEN_PORT_SPIN, K::Spin, "", 47, 29, 10, 11, kNoThousands, IDC_LISTEN_PORT},
    {kNoId, K::Static, ">>>>", 60, 29, 17, 11},
    {kNoId, K::Static, "Ip/Host", 83, 15, 24, 9},
    {IDC_LOCALHOST, K::CheckBox, "localhost", 108, 14, 40, 11},
    {IDC_FORWARD_HOST, K::Edit, "", 81, 29, 61, 12},
    {kNoId, K::Static, "Port No.", 155, 14, 26, 13},
    {IDC_FORWARD_PORT, K::Edit, "", 144, 29, 32, 12, kAlignRight},
    {IDC_FORWARD_PORT_SPIN, K::Spin, "", 171, 29, 11, 12, kNoThousands | kArrowKeys,
     IDC_FORWARD_PORT},
    {kNoId, K::GroupBox, "バッファサイズ", 2, 51, 185, 35},
    {IDC_BUFFER_SIZE, K::Edit, "", 13, 67, 44, 12, kAlignRight},
    {IDC_BUFFER_SIZE_SPIN, K::Spin, "", 54, 68, 6, 12, kArrowKeys, IDC_BUFFER_SIZE},
    {kNoId, K::Static, "× KByte", 64, 69, 48, 11},
    {IDC_DEFAULT, K::PushButton, "デフォルトに戻す", 120, 63, 59, 13},
    {kNoId, K::GroupBox, "Listen IP Bind 設定", 2, 91, 88, 43},
    {IDC_LISTEN_BIND, K::CheckBox, "有効にする", 9, 101, 59, 13},
    // "IPv6" sits in the room the check box's text leaves free; its text
    // field takes the address control's place, as wide as the group allows.
    {IDC_LISTEN_BIND_IPV6, K::CheckBox, "IPv6", 58, 101, 30, 13},
    {IDC_LISTEN_BIND_ADDRESS, K::IpAddress, "", 9, 118, 64, 12},
    {IDC_LISTEN_BIND_TEXT, K::Edit, "", 9, 118, 77, 12, kHidden},
    {kNoId, K::GroupBox, "Connect IP Bind 設定", 94, 91, 93, 43},
    {IDC_CONNECT_BIND, K::CheckBox, "有効にする", 100, 101, 59, 13},
    {IDC_CONNECT_BIND_IPV6, K::CheckBox, "IPv6", 154, 101, 30, 13},
    {IDC_CONNECT_BIND_ADDRESS, K::IpAddress, "", 100, 118, 75, 12},
    {IDC_CONNECT_BIND_TEXT, K::Edit, "", 100, 118, 83, 12, kHidden},
    {IDC_FILTER, K::PushButton, "フィルタ条件設定", 4, 141, 87, 15},
    {IDC_FILTER_CAPTION, K::Static, "", 96, 142, 85, 13, kSunken | kAlignCenter},
    // For the listener without a bind address; in the free row above OK.
    {IDC_LISTEN_DUAL, K::CheckBox, "IPv4とIPv6の両方で待ち受ける", 9, 157, 130, 10},
    {IDOK, K::PushButton, "OK", 17, 168, 50, 14, kDefaultButton},
    {IDCANCEL, K::PushButton, "ｷｬﾝｾﾙ", 118, 168, 50, 14},
};

constexpr ControlTemplate kStatusControls[] = {
    {IDOK, K::PushButton, "閉じる", 337, 4, 50, 14, kDefaultButton | kAnchorRight},
    {IDC_CONNECTION_LIST, K::ListView, "", 3, 19, 384, 72, kStretchWidth | kStretchHeight},
};

// The event log: only the lines, filling the window.
constexpr ControlTemplate kEventLogControls[] = {
    {IDC_EVENT_LIST, K::ModelList, "", 3, 3, 474, 154, kStretchWidth | kStretchHeight},
};

constexpr ControlTemplate kFilterConditionControls[] = {
    {kNoId, K::GroupBox, "フィルタリング条件", 7, 7, 209, 39},
    {IDC_MODE_ALL, K::RadioButton, "全て許可", 29, 18, 43, 10, kGroupStart},
    {IDC_MODE_LOCALHOST, K::RadioButton, "localhost限定", 123, 20, 56, 10},
    {IDC_MODE_LAN, K::RadioButton, "ＬＡＮ限定", 29, 31, 56, 10},
    {IDC_MODE_INDIVIDUAL, K::RadioButton, "個別設定", 123, 32, 43, 10},
    {IDOK, K::PushButton, "OK", 30, 124, 50, 14, kDefaultButton},
    {IDCANCEL, K::PushButton, "ｷｬﾝｾﾙ", 141, 124, 50, 14},
};

constexpr ControlTemplate kIpConditionControls[] = {
    {IDC_TITLE, K::GroupBox, "タイトル", 3, 7, 102, 63},
    {IDC_ENTRY_TEXT, K::Edit, "", 8, 18, 64, 12},
    {IDC_ENTRY_LIST, K::ListBox, "", 8, 32, 64, 34, kVScroll},
    {IDC_ADD, K::PushButton, "追加", 78, 19, 19, 14},
    {IDC_DELETE, K::PushButton, "削除", 78, 36, 19, 14},
};

}  // namespace

extern const DialogTemplate kSettingTemplate{
    IDD_SETTING, "QUILLEX設定", 191, 186, false, kSettingControls};
extern const DialogTemplate kStatusTemplate{
    IDD_STATUS, "接続状況", 391, 96, false, kStatusControls, true};
extern const DialogTemplate kEventLogTemplate{
    IDD_EVENT_LOG, "通信ログ", 480, 160, false, kEventLogControls, true};
extern const DialogTemplate kFilterConditionTemplate{
    IDD_FILTER_CONDITION, "フィルタリング条件", 223, 145, false, kFilterConditionControls};
extern const DialogTemplate kIpConditionTemplate{
    IDD_IP_CONDITION, "", 109, 77, true, kIpConditionControls};
