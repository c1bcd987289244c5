#include "cli/settings.h"

run_settings settings;
