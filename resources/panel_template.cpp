// Template of the port panel: one row per port in the main window. The
// switch and the filter mark sit inside the "TCP" frame, the two buttons and
// the connection count beside it, the destination in its own frame.
#include "resources/resource_ids.h"
#include "resources/templates.h"

namespace {

using K = ControlKind;

constexpr ControlTemplate kPortControls[] = {
    // The template's own caption, full-width colon and all, kept; initPort replaces it with "TCP:%d".
    {IDC_TCP_GROUP, K::GroupBox, "TCP ：65535", 2, 0, 43, 39},
    {IDC_ON_OFF, K::PushLikeCheckBox, "OFF", 5, 12, 23, 22},
    {IDC_FILTER_MARK, K::Static, "Ｆ", 31, 17, 11, 11, kSunken | kAlignCenter},
    {IDC_SETTING, K::PushButton, "設定", 47, 4, 25, 15},
    {IDC_STATUS, K::PushButton, "確認", 47, 22, 25, 15},
    {kNoId, K::Static, "接続数", 74, 7, 24, 9},
    {IDC_CONNECTION_COUNT, K::Static, "0000", 74, 22, 22, 11, kAlignRight},
    {kNoId, K::GroupBox, "転送先", 99, 0, 88, 39},
    {kNoId, K::Static, "Ip/Host", 102, 12, 24, 9},
    {IDC_FORWARD_HOST_TEXT, K::Static, "255.255.255.255", 126, 11, 59, 11, kAlignCenter},
    {kNoId, K::Static, "Port No.", 102, 25, 28, 9},
    {IDC_FORWARD_PORT_TEXT, K::Static, "65535", 149, 24, 36, 11, kAlignRight},
};

}  // namespace

extern const DialogTemplate kPortTemplate{IDD_PORT, "", 189, 41, true, kPortControls};
