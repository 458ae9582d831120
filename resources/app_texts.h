#pragma once
// The string table, the menus and the texts of the main window, the tray,
// the version dialog and the trace window: UTF-8 constants without Qt, used
// exactly as written.

constexpr const char* IDS_ABOUTBOX = "Quillex のﾊﾞｰｼﾞｮﾝ情報";               // 101
constexpr const char* IDS_PROPERTIES = "プロパティ設定";                      // 102
// It names Windows on every platform: the string table's own words, kept.
constexpr const char* IDS_SOCKETS_FAILED = "Windows ｿｹｯﾄの初期化に失敗しました。";  // 103

constexpr const char* TRAY_TIP = "クイレクス";
constexpr const char* TRAY_OPEN = "メインウィンドウを開く";  // ID_TRAY_OPEN
constexpr const char* TRAY_EXIT = "終了";                    // ID_TRAY_EXIT
constexpr const char* MENU_EVENT_LOG = "通信ログ";           // after the window menu's own entries

constexpr const char* MSG_PORTS_ON = "制御中のポートがあります。設定変更時はポートを全てＯＦＦにしてください";
constexpr const char* MSG_PORT_COUNT = "ポート数が規定値(1,5,10)以外が設定されています。iniファイルを確認してください";

// Only for a profile named with --profile; %1 is its path and the error. The
// profile found beside the program reads as defaults when unreadable, as ever.
constexpr const char* MSG_PROFILE_UNREADABLE = "プロファイルを読み込めません。\n%1";

// The caption of every message box.
constexpr const char* kMessageCaption = "Quillex";
// The version dialog's line; %s is the version text.
constexpr const char* kVersionLineFormat = "クイレクス %s";
// Before the product version in the version text.
constexpr const char* kVersionTextPrefix = "Ver.:";
constexpr const char* kTraceWindowTitle = "Quillex debug trace";
