/* Loaded before the service's libraries: this machine's addresses cannot be read,
 * as under a sandbox that forbids the netlink sockets getifaddrs uses. */
#include <errno.h>
#include <ifaddrs.h>

int getifaddrs(struct ifaddrs** list)
{
    (void)list;
    errno = EAFNOSUPPORT;
    return -1;
}
