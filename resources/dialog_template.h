#pragma once
// Dialog templates as data: each window of the program is one table of
// controls (id, kind, text, rectangle in dialog units, style flags) built into
// widgets by buildDialog() in template_builder.h. No window places its
// controls by hand.

#include <cstdint>
#include <span>

enum class ControlKind {
  GroupBox,
  PushButton,
  CheckBox,
  PushLikeCheckBox,  // a checkable push button (the ON/OFF switch)
  RadioButton,
  Static,
  StaticIcon,
  Edit,
  Spin,       // up-down arrows kept beside a buddy edit
  IpAddress,  // four-field IPv4 address entry
  ListBox,
  ListView,   // report-mode table with column headings
  Link,       // text whose "<a>...</a>" part is a link
  ModelList,  // a list of lines that a model supplies
};

// Style flags of a control; several may be combined.
enum ControlStyle : uint32_t {
  kStyleNone = 0,
  kAlignRight = 1u << 0,
  kAlignCenter = 1u << 1,
  kSunken = 1u << 2,
  kGroupStart = 1u << 3,     // first radio button of a group
  kDefaultButton = 1u << 4,  // pressed by Enter
  kNoPrefix = 1u << 5,       // '&' shown as typed
  kNoThousands = 1u << 6,    // spin: no thousands separators in the buddy
  kArrowKeys = 1u << 7,      // spin: Up and Down in the buddy step it
  kVScroll = 1u << 8,        // list: vertical scroll bar
  kHidden = 1u << 9,
  // In a resizable window: keep the distance to the right or bottom edge,
  // or grow with the window's width or height.
  kAnchorRight = 1u << 10,
  kAnchorBottom = 1u << 11,
  kStretchWidth = 1u << 12,
  kStretchHeight = 1u << 13,
};

constexpr int kNoId = -1;

struct ControlTemplate {
  int id;  // kNoId for labels and frames nobody addresses
  ControlKind kind;
  const char* text;  // UTF-8
  int x, y, width, height;  // dialog units
  uint32_t style = kStyleNone;
  int buddy = kNoId;  // spin: the edit it steps
};

struct DialogTemplate {
  int id;
  const char* caption;  // UTF-8; empty for child panels
  int width, height;    // dialog units
  bool child;           // embedded panel: no caption, no frame
  std::span<const ControlTemplate> controls;
  bool resizable = false;  // opens at its size and may be made larger
};
