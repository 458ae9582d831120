#pragma once
// A socket error as the window's Japanese texts show it.

#include <QString>

// The words with the number, in the one form every Japanese text uses:
// "アドレスは既に使用されています (エラー 10048)".
QString socketErrorText(int wsaError);
