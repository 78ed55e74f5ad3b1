#pragma once

#include "app/native_app.h"

namespace updater {

// Splits a command line the way the system does and notes whether one of the
// debug switches stands among the arguments (any case, blanks around it
// ignored). A null or unsplittable line gives empty options.
LaunchOptions ParseLaunchOptions(const wchar_t* commandLine);

}  // namespace updater
