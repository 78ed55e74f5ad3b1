#pragma once

// BoolText, "true" or "false" for key=value log lines, is declared once with
// the engine's log helpers; window code includes it through here.
#include "update/manifest.h"
