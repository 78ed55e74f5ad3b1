#pragma once

#include <string>
#include <vector>

#include "app/native_app.h"

namespace updater {

// Points the object's program folder and logs at the folder, as Run does.
void PrepareApp(NativeApp& app, const std::wstring& folder);

// The messages of a log file's lines, in order, without time, ids and level.
std::vector<std::wstring> LogMessages(const std::wstring& path);

bool FileExists(const std::wstring& path);

}  // namespace updater
