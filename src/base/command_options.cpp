#include "base/command_options.h"

namespace vexory::cli {

std::optional<std::string> TakeOption(Args& args, std::string_view name)
{
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != name)
            continue;
        if (i + 1 >= args.size())
            throw UsageError("option " + std::string(name) + " needs a value");
        std::string value = args[i + 1];
        args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
        return value;
    }
    return std::nullopt;
}

int64_t TakeNumber(Args& args, std::string_view name, int64_t fallback, int64_t low, int64_t high)
{
    const std::optional<std::string> v = TakeOption(args, name);
    if (!v)
        return fallback;
    if (v->empty() || v->size() > 18 || v->find_first_not_of("0123456789") != std::string::npos ||
        std::stoll(*v) < low || std::stoll(*v) > high)
        throw UsageError(std::string(name) + " takes a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + *v + "\"");
    return std::stoll(*v);
}

bool TakeFlag(Args& args, std::string_view name)
{
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == name) {
            args.erase(args.begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

void ExpectOperands(const Args& args, size_t min, size_t max, std::string_view usage)
{
    for (const auto& a : args)
        if (a.size() > 1 && a.rfind("--", 0) == 0)
            throw UsageError("unknown option " + a + "\nusage: " + std::string(usage));
    if (args.size() < min || args.size() > max)
        throw UsageError("usage: " + std::string(usage));
}

} // namespace vexory::cli
