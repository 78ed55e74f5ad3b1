#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "app/native_app.h"

namespace updater {

// Points the object's program folder and logs at the folder, as Run does.
void PrepareApp(NativeApp& app, const std::wstring& folder);

// The messages of a log file's lines, in order, without time, ids and level.
std::vector<std::wstring> LogMessages(const std::wstring& path);

// A message-only window titled with the name of its class, which is registered
// on first use: no display needed.
HWND CreateMessageWindow(const wchar_t* className, WNDPROC procedure, void* createParam);

}  // namespace updater
