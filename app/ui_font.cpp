#include "app/ui_font.h"

namespace updater {

std::unique_ptr<Gdiplus::FontFamily> MakeUiFontFamily() {
    auto family = std::make_unique<Gdiplus::FontFamily>(L"Segoe UI");
    if (family->IsAvailable()) return family;
    const Gdiplus::FontFamily* generic = Gdiplus::FontFamily::GenericSansSerif();
    if (generic && generic->IsAvailable()) {
        std::unique_ptr<Gdiplus::FontFamily> copy(generic->Clone());
        if (copy && copy->IsAvailable()) return copy;
    }
    for (const wchar_t* name : {L"Tahoma", L"Arial", L"DejaVu Sans"}) {
        family = std::make_unique<Gdiplus::FontFamily>(name);
        if (family->IsAvailable()) return family;
    }
    return family;
}

}  // namespace updater
