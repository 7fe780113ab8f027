#include "support/temp_dir.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>

namespace vexory::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vexory-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteBytes(const std::string& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ShellQuote(std::string_view word)
{
    std::string out = "'";
    for (char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

int RunCommand(const std::string& command, std::string* out, std::string* err)
{
    TempDir dir;
    const std::string outFile = dir.file("out");
    const std::string errFile = dir.file("err");
    const std::string full = command + " >" + ShellQuote(outFile) + " 2>" + ShellQuote(errFile) + " </dev/null";
    int status = std::system(full.c_str());
    if (out)
        *out = ReadBytes(outFile);
    if (err)
        *err = ReadBytes(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void EndChild(int pid, int signal, int graceMs)
{
    ::kill(pid, signal);
    for (int waited = 0; waited < graceMs; waited += 20) {
        if (::waitpid(pid, nullptr, WNOHANG) != 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (::waitpid(pid, nullptr, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

} // namespace vexory::test
