#pragma once

// Command-line options as vexory-cli and vexory-server read them: "--name VALUE"
// options and "--name" flags taken out of the arguments wherever they stand, then
// the operands checked. Errors are thrown as UsageError (exit code 2).

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vexory::cli {

// A usage or input error: printed as one line on stderr, exit code 2.
struct UsageError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

using Args = std::vector<std::string>;

// Takes the value of a "--name VALUE" option out of `args` (nullopt when absent).
std::optional<std::string> TakeOption(Args& args, std::string_view name);

// A "--name N" option with a whole number from `low` to `high`; `fallback` when absent.
int64_t TakeNumber(Args& args, std::string_view name, int64_t fallback, int64_t low, int64_t high);

// Takes a "--name" flag out of `args`.
bool TakeFlag(Args& args, std::string_view name);

// Refuses anything left that looks like an option, and a wrong number of operands.
void ExpectOperands(const Args& args, size_t min, size_t max, std::string_view usage);

} // namespace vexory::cli
