#pragma once

#include "cli_common.h"

namespace vexory::cli {

// Each command takes its arguments (after the command words) and returns the exit code.
int StoreShow(Args args, const Options& options);
int StoreWrite(Args args, const Options& options);
int Settings(Args args, const Options& options);
int Prepare(Args args, const Options& options);
int Cut(Args args, const Options& options);
int Clean(Args args, const Options& options);
int Check(Args args, const Options& options);
int Tree(Args args, const Options& options);
int Paths(Args args, const Options& options);
int Login(Args args, const Options& options);
int Push(Args args, const Options& options);
int Share(Args args, const Options& options);

} // namespace vexory::cli
