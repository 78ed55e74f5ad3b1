#pragma once

// GDI+'s headers use unqualified min and max, which NOMINMAX takes away from
// windows.h; they get the standard ones instead.
#include <algorithm>
#include <windows.h>
#include <objidl.h>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>
