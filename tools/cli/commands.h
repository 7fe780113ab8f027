#pragma once

#include "cli_common.h"

namespace vexory::cli {

// Each command takes its arguments (after the command words) and returns the exit code.
int StoreShow(Args args, const Options& options);
int StoreWrite(Args args, const Options& options);
int Settings(Args args, const Options& options);

} // namespace vexory::cli
