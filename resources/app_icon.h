#pragma once
// The program's icon (resource 128): two hosts with a stream running each
// way. For the windows, the About dialog and the notification area.

#include <QIcon>

// Every drawn size, so each use picks a sharp one.
QIcon quillexIcon();
