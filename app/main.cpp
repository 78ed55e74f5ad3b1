#include <exception>

#include "app/launch_options.h"
#include "app/native_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const updater::LaunchOptions options = updater::ParseLaunchOptions(GetCommandLineW());
    updater::NativeApp app;
    try {
        return app.Run(instance, options);
    } catch (const std::exception& error) {
        return updater::ShowRunError(error);
    }
}
