#pragma once
// Texts the dialogs and their controls show beyond their templates, kept
// together so the font check can walk all of them. UTF-8 constants without
// Qt, used exactly as written.

#include <array>

// Address list panel.
constexpr const char* kEntryFormatMessage =
    "書式誤り。255.255.255.255[/32] の形式で入力してください";
// The same for an entry with a colon, which is taken as IPv6.
constexpr const char* kEntryFormatMessage6 = "書式誤り。2001:db8::1[/128] の形式で入力してください";
constexpr const char* kEntryLimitFormat = "登録は%d件までです";  // printf format
constexpr const char* kRefusePanelTitle = "接続拒否";
constexpr const char* kEnablePanelTitle = "接続可能";

// Port settings.
constexpr const char* kLocalhostQuestion = "localhost(同じPC内)への転送に変更しますか？";
// An IPv6 bind address that is none, worded as the entries' messages.
constexpr const char* kBindFormatMessage6 = "書式誤り。2001:db8::1[%eth0] の形式で入力してください";
// The IPv6 field's hint while it is empty.
constexpr const char* kBindHint6 = "2001:db8::1";
// Filter mode captions by mode 0..3; the second's spelling, "locahost", is kept.
constexpr std::array<const char*, 4> kFilterCaptions = {
    "全て許可", "locahost限定", "LAN内限定", "個別設定"};

// Address control: %1 is the value typed.
constexpr const char* kRangeMessage = "%1 は無効な値です。0 から 255 までの値を指定してください。";
// Lists and tables whose rows can be copied: their menu entry.
constexpr const char* kCopy = "コピー";
