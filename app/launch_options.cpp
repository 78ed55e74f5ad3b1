#include "app/launch_options.h"

#include <shellapi.h>

#include "foundation/text.h"

namespace updater {

namespace {

bool IsDebugSwitch(const std::wstring& argument) {
    static const wchar_t* const kSwitches[] = {L"--debug",   L"-debug",     L"/debug",
                                               L"--debug-log", L"-debug-log", L"/debug-log",
                                               L"--verbose", L"-verbose",   L"/verbose"};
    const std::wstring text = ToLower(Trim(argument));
    for (const wchar_t* known : kSwitches) {
        if (text == known) return true;
    }
    return false;
}

struct ArgvReleaser {
    void operator()(wchar_t** argv) const { LocalFree(argv); }
};

}  // namespace

LaunchOptions ParseLaunchOptions(const wchar_t* commandLine) {
    LaunchOptions options;
    if (commandLine == nullptr) return options;
    options.commandLine = commandLine;
    int count = 0;
    std::unique_ptr<wchar_t*, ArgvReleaser> argv(CommandLineToArgvW(commandLine, &count));
    if (!argv) return options;
    for (int index = 1; index < count; ++index) {
        const wchar_t* item = argv.get()[index];
        options.arguments.emplace_back(item != nullptr ? item : L"");
        if (IsDebugSwitch(options.arguments.back())) options.debug = true;
    }
    return options;
}

}  // namespace updater
