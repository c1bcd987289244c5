#include "process/settings.h"

run_settings settings;
