#include "cli_common.h"

#include "platform/codepage.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace vexory::cli {

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw UsageError("cannot read file: " + path);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad())
        throw UsageError("cannot read file: " + path);
    return bytes.str();
}

std::string ReadTextFile(const std::string& path, const Options& options)
{
    std::string bytes = ReadFileBytes(path);
    return options.gbk ? bytes : Utf8ToGbk(bytes);
}

void WriteText(std::string_view gbk, const Options& options)
{
    const std::string out = options.gbk ? std::string(gbk) : GbkToUtf8(gbk);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

void WriteJson(const nlohmann::ordered_json& json)
{
    std::cout << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    std::cout.flush();
}

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
