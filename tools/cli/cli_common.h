#pragma once

// Shared plumbing of vexory-cli: options, files, output and errors.
// Command-line arguments and JSON are UTF-8; the program's texts are GBK inside.

#include "base/command_options.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vexory::cli {

// Exit codes: 0 done, 1 the operation failed, 2 bad usage or bad input.
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct Options
{
    bool gbk = false; // files read and plain text written as GBK bytes
};

// The whole content of a file; throws UsageError when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// A text file as GBK: converted from UTF-8 unless --gbk was given.
std::string ReadTextFile(const std::string& path, const Options& options);

// Plain text output: GBK as given with --gbk, UTF-8 otherwise.
void WriteText(std::string_view gbk, const Options& options);

// JSON output, always UTF-8, one document and a line break.
void WriteJson(const nlohmann::ordered_json& json);

} // namespace vexory::cli
