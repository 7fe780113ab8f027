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

} // namespace vexory::cli
