// Templates of the application shell: About, main window, system properties.
#include "resources/resource_ids.h"
#include "resources/templates.h"

namespace {

using K = ControlKind;

constexpr ControlTemplate kAboutControls[] = {
    {kNoId, K::StaticIcon, "", 11, 17, 20, 20},
    {IDC_VERSION, K::Static, "Quillex Version 1.0", 40, 10, 135, 8, kNoPrefix | kGroupStart},
    {kNoId, K::Static, "Copyright (C) Bellmoth", 40, 25, 119, 8},
    {IDOK, K::PushButton, "OK", 178, 7, 50, 14, kDefaultButton},
    {IDC_HOME_LINK, K::Link, "<a>Bellmothホームページ</a>", 40, 60, 84, 12},
};

constexpr ControlTemplate kMainControls[] = {
    {IDC_POWERED_LINK, K::Link, "<a>Powered By Bellmoth</a>", 114, 0, 78, 10},
};

constexpr ControlTemplate kPropertyControls[] = {
    {kNoId, K::GroupBox, "起動時ウィンドウ", 7, 6, 140, 30},
    {IDC_START_CLOSE, K::RadioButton, "閉じる", 18, 18, 34, 10, kGroupStart},
    {IDC_START_OPEN, K::RadioButton, "開く", 58, 18, 27, 10},
    {kNoId, K::GroupBox, "ポート数", 7, 41, 140, 30},
    {IDC_PORTS_1, K::RadioButton, "１ポート", 15, 55, 38, 10, kGroupStart},
    {IDC_PORTS_5, K::RadioButton, "５ポート", 58, 55, 38, 10},
    {IDC_PORTS_10, K::RadioButton, "１０ポート", 98, 55, 43, 10},
    {IDOK, K::PushButton, "OK", 7, 92, 50, 14, kDefaultButton | kGroupStart},
    {IDCANCEL, K::PushButton, "ｷｬﾝｾﾙ", 97, 92, 50, 14},
};

}  // namespace

extern const DialogTemplate kAboutTemplate{
    IDD_ABOUTBOX, "Quillexのﾊﾞｰｼﾞｮﾝ情報", 235, 80, false, kAboutControls};
extern const DialogTemplate kMainTemplate{
    IDD_QUILLEX_DIALOG, "クイレクス", 195, 36, false, kMainControls};
extern const DialogTemplate kPropertyTemplate{
    IDD_PROPERTY, "システムプロパティ", 154, 113, false, kPropertyControls};
