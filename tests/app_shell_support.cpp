#include "tests/app_shell_support.h"

#include <algorithm>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/files.h"
#include "foundation/text.h"

namespace updater {

void PrepareApp(NativeApp& app, const std::wstring& folder) {
    app.appDir = folder;
    app.logger.directory = folder;
    app.http.logger = &app.logger;
}

std::vector<std::wstring> LogMessages(const std::wstring& path) {
    const std::wstring text = WideFromUtf8(ReadBinaryFile(path));
    std::vector<std::wstring> messages;
    for (size_t start = 0, end = 0; start < text.size(); start = end + 2) {
        end = std::min(text.find(L"\r\n", start), text.size());
        const std::wstring line = text.substr(start, end - start);
        const size_t level = line.find(L"] ", line.find(L"][tid:"));
        messages.push_back(level == std::wstring::npos ? line : line.substr(level + 2));
    }
    return messages;
}

HWND CreateMessageWindow(const wchar_t* className, WNDPROC procedure, void* createParam) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassExW(&windowClass);
    return CreateWindowExW(0, className, className, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                           createParam);
}

namespace {

// Wine's desktop process makes the desktop window first and the parent of all
// message-only windows a moment later. A thread whose first window call falls
// in between keeps a null message parent for good, and without a display every
// message-only window it makes then fails. That happens when many test
// processes start a fresh prefix at once, so before any test, throwaway
// threads try until one gets a real message-only window.
bool MessageWindowsWork() {
    bool works = false;
    std::thread([&works] {
        HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        works = window && GetAncestor(window, GA_PARENT) != GetDesktopWindow();
        if (window) DestroyWindow(window);
    }).join();
    return works;
}

class SettledDesktop : public ::testing::Environment {
public:
    void SetUp() override {
        for (int attempt = 0; attempt < 200 && !MessageWindowsWork(); ++attempt) Sleep(50);
    }
};

[[maybe_unused]] ::testing::Environment* const kSettledDesktop =
    ::testing::AddGlobalTestEnvironment(new SettledDesktop);

}  // namespace
}  // namespace updater
