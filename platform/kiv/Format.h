#pragma once

#include "Types.h"

namespace Kiv {

// printf-style formatting into a new string.
String _fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace Kiv
