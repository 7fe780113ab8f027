#pragma once

// The service's sockets: the one it listens on, and the addresses of its peers.

#include <string>

struct sockaddr;

namespace vexory::server {

// A non-blocking socket listening on HOST:PORT (port 0: one the system picks; the
// host empty: every address), or -1 with the reason in `error` ("the address is
// in use", ...). `boundPort` gets the port it listens on.
int OpenListeningSocket(const std::string& host, int port, int* boundPort, std::string* error);

// The numeric text of an IPv4 or IPv6 address ("" for other kinds); an IPv4
// address that came to an IPv6 socket (::ffff:a.b.c.d) is written as IPv4.
std::string AddressText(const sockaddr* address);
// The same for an address in text form, so that texts compare as addresses do;
// a text that is no address comes back as it is.
std::string CanonicalAddress(const std::string& text);
// What the per-address limits count by: an IPv4 address, or an IPv6 address's
// /64 (one subscriber's network: each of its machines has addresses to spare).
std::string AddressKey(const std::string& address);

} // namespace vexory::server
