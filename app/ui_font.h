#pragma once

#include <memory>

#include "app/gdiplus_headers.h"

namespace updater {

// The family every text of the window is drawn in: "Segoe UI" where it is
// installed. GDI+ draws no text at all for a missing family, so without it the
// system's generic sans-serif family serves, or else the first installed of
// Tahoma, Arial and DejaVu Sans.
std::unique_ptr<Gdiplus::FontFamily> MakeUiFontFamily();

}  // namespace updater
