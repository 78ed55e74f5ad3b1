// Closes the launcher the way the system would: finds its main window by the
// window class and posts WM_CLOSE to it. Exit code 0 when a window was found.
#include <windows.h>

int main() {
    HWND window = FindWindowW(L"TavrineUpdaterNativeWindow", nullptr);
    if (window == nullptr) return 1;
    return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 2;
}
