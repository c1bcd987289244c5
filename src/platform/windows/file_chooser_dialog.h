#pragma once

#include <memory>

#include "platform/file_chooser.h"

// The common file-open dialog, multiple selection allowed.
std::unique_ptr<file_chooser> make_dialog_file_chooser();
