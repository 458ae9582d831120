#pragma once
// A count of bytes as a Japanese desktop writes it, with thousands separators.

#include <QString>
#include <cstdint>

QString byteCountText(uint64_t bytes);
