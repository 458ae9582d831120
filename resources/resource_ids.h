#pragma once
// Resource numbers of templates and controls. Control ids repeat across
// templates (1046 is a radio button in 134 and an edit in 135); they are
// unique within one template, and lookups search one window's own controls.

// Dialog templates.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_QUILLEX_DIALOG = 102;
constexpr int IDD_PORT = 130;
constexpr int IDD_SETTING = 131;
constexpr int IDD_STATUS = 132;
constexpr int IDD_FILTER_CONDITION = 134;
constexpr int IDD_IP_CONDITION = 135;
constexpr int IDD_PROPERTY = 136;
constexpr int IDD_EVENT_LOG = 138;  // beyond the original's templates

// Buttons every dialog shares.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// 100: About.
constexpr int IDC_VERSION = 1028;
constexpr int IDC_HOME_LINK = 1057;

// 102: main window.
constexpr int IDC_POWERED_LINK = 1057;

// 130: port panel.
constexpr int IDC_FORWARD_PORT_TEXT = 1011;
constexpr int IDC_STATUS = 1012;
constexpr int IDC_SETTING = 1013;
constexpr int IDC_FORWARD_HOST_TEXT = 1015;
constexpr int IDC_ON_OFF = 1017;
constexpr int IDC_CONNECTION_COUNT = 1018;
constexpr int IDC_TCP_GROUP = 1019;
constexpr int IDC_FILTER_MARK = 1052;

// 131: port settings.
constexpr int IDC_LISTEN_PORT = 1021;
constexpr int IDC_FORWARD_HOST = 1022;
constexpr int IDC_LOCALHOST = 1023;
constexpr int IDC_FORWARD_PORT = 1024;
constexpr int IDC_FORWARD_PORT_SPIN = 1026;
constexpr int IDC_LISTEN_PORT_SPIN = 1027;
constexpr int IDC_DEFAULT = 1030;
constexpr int IDC_BUFFER_SIZE = 1031;
constexpr int IDC_BUFFER_SIZE_SPIN = 1033;
constexpr int IDC_LISTEN_BIND = 1035;
constexpr int IDC_LISTEN_BIND_ADDRESS = 1036;
// Beyond the original's controls: a bind address may be IPv6, and the
// listener without one may take both families.
constexpr int IDC_LISTEN_BIND_IPV6 = 1037;
constexpr int IDC_LISTEN_BIND_TEXT = 1038;
constexpr int IDC_LISTEN_DUAL = 1043;
constexpr int IDC_CONNECT_BIND = 1039;
constexpr int IDC_CONNECT_BIND_ADDRESS = 1040;
constexpr int IDC_CONNECT_BIND_IPV6 = 1041;
constexpr int IDC_CONNECT_BIND_TEXT = 1042;
constexpr int IDC_FILTER = 1051;
constexpr int IDC_FILTER_CAPTION = 1052;

// 132: connection status.
constexpr int IDC_CONNECTION_LIST = 1029;

// 134: filter condition; the radio index is the filter mode.
constexpr int IDC_MODE_ALL = 1045;
constexpr int IDC_MODE_LOCALHOST = 1046;
constexpr int IDC_MODE_LAN = 1047;
constexpr int IDC_MODE_INDIVIDUAL = 1048;

// 135: address list panel.
constexpr int IDC_ENTRY_TEXT = 1046;
constexpr int IDC_ENTRY_LIST = 1047;
constexpr int IDC_ADD = 1048;
constexpr int IDC_DELETE = 1049;
constexpr int IDC_TITLE = 1050;

// 136: system properties.
constexpr int IDC_START_CLOSE = 1055;
constexpr int IDC_START_OPEN = 1056;
constexpr int IDC_PORTS_1 = 1057;
constexpr int IDC_PORTS_5 = 1053;
constexpr int IDC_PORTS_10 = 1054;

// 138: event log.
constexpr int IDC_EVENT_LIST = 1060;
