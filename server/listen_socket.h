#pragma once

// The service's sockets: the one it listens on, and the addresses of its peers.

#include <string>

struct sockaddr;

namespace vexory::server {

// A non-blocking socket listening on HOST:PORT (port 0: one the system picks; the
// host empty: every address), or -1 with the reason in `error` ("the address is
// in use", ...). `boundPort` gets the port it listens on.
int OpenListeningSocket(const std::string& host, int port, int* boundPort, std::string* error);

// The numeric text of an IPv4 or IPv6 address ("" for other kinds).
std::string AddressText(const sockaddr* address);

} // namespace vexory::server
