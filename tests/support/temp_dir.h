#pragma once

#include <string>
#include <string_view>

namespace vexory::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(std::string_view name) const { return m_path + "/" + std::string(name); }

private:
    std::string m_path;
};

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, std::string_view bytes);

// Runs a command line with /bin/sh; returns the exit code and fills stdout/stderr.
int RunCommand(const std::string& command, std::string* out = nullptr, std::string* err = nullptr);

// Sends `signal` to a child process and waits up to `graceMs` for it to end; kills
// it after that. The child is reaped either way.
void EndChild(int pid, int signal, int graceMs);

// Single-quotes a word for /bin/sh.
std::string ShellQuote(std::string_view word);

} // namespace vexory::test
