#include <exception>

#include "app/launch_options.h"
#include "app/native_app.h"
#include "foundation/text.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const updater::LaunchOptions options = updater::ParseLaunchOptions(GetCommandLineW());
    updater::NativeApp app;
    try {
        return app.Run(instance, options);
    } catch (const std::exception& error) {
        MessageBoxW(nullptr, updater::WideFromUtf8(error.what()).c_str(), L"TavrineUpdater", MB_ICONERROR);
        return 1;
    }
}
