#include "listen_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vexory::server {

std::string AddressText(const sockaddr* a)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (a && a->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    } else if (a && a->sa_family == AF_INET6) {
        const in6_addr& six = reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&six))
            inet_ntop(AF_INET, six.s6_addr + 12, text, sizeof text);
        else
            inet_ntop(AF_INET6, &six, text, sizeof text);
    }
    return text;
}

std::string CanonicalAddress(const std::string& text)
{
    sockaddr_in four{};
    sockaddr_in6 six{};
    if (inet_pton(AF_INET, text.c_str(), &four.sin_addr) == 1) {
        four.sin_family = AF_INET;
        return AddressText(reinterpret_cast<const sockaddr*>(&four));
    }
    if (inet_pton(AF_INET6, text.c_str(), &six.sin6_addr) == 1) {
        six.sin6_family = AF_INET6;
        return AddressText(reinterpret_cast<const sockaddr*>(&six));
    }
    return text;
}

std::string AddressKey(const std::string& address)
{
    in6_addr six{};
    if (address.find(':') == std::string::npos || inet_pton(AF_INET6, address.c_str(), &six) != 1)
        return address;
    std::memset(six.s6_addr + 8, 0, 8);
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &six, text, sizeof text);
    return std::string(text) + "/64";
}

int OpenListeningSocket(const std::string& host, int port, int* boundPort, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return -1;
    };
    if (port < 0 || port > 65535)
        return fail("the port must be a number from 0 to 65535");
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found); rc != 0)
        return fail("cannot resolve " + host + ": " + gai_strerror(rc));
    std::string why = "no address";
    for (addrinfo* a = found; a; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            why = std::strerror(errno);
            continue;
        }
        // SO_REUSEADDR lets a restart bind while old connections linger in TIME_WAIT;
        // SO_REUSEPORT is left off so that a second server cannot share the port.
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 1024) != 0) {
            why = errno == EADDRINUSE ? "the address is in use (is another vexory-server running?)"
                                      : std::string(std::strerror(errno));
            close(fd);
            continue;
        }
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
        *boundPort = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                                 : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
        freeaddrinfo(found);
        return fd;
    }
    freeaddrinfo(found);
    return fail("cannot listen on " + host + ":" + service + ": " + why);
}

} // namespace vexory::server
