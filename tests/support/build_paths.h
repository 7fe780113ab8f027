#pragma once

// Where the programs under test and the checkout are, as this build placed them.
// They come from one source made when the build is configured (build_paths.cpp in
// the build folder), so that the tests themselves compile the same in any clone
// and the compiler cache serves a fresh clone what an earlier one compiled.

namespace vexory::test::paths {

extern const char* const kSourceDir;   // the checkout
extern const char* const kScreensDir;  // build/screens: the pictures of the views
extern const char* const kServer;      // vexory-server
extern const char* const kCli;         // vexory-cli
extern const char* const kPluginEcho;  // vexory-plugin-echo
extern const char* const kProgram;     // vexory ("" in a build without windows)
extern const char* const kNoNetlink;   // the library that takes netlink sockets away

} // namespace vexory::test::paths

#define VEXORY_SOURCE_DIR ::vexory::test::paths::kSourceDir
#define VEXORY_SCREENS_DIR ::vexory::test::paths::kScreensDir
#define VEXORY_SERVER_PATH ::vexory::test::paths::kServer
#define VEXORY_CLI_PATH ::vexory::test::paths::kCli
#define VEXORY_PLUGIN_ECHO_PATH ::vexory::test::paths::kPluginEcho
#define VEXORY_PATH ::vexory::test::paths::kProgram
#define VEXORY_NO_NETLINK ::vexory::test::paths::kNoNetlink
