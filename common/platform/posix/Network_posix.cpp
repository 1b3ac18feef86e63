// The adapter list from getifaddrs, the host name and socket error texts on POSIX.
#include "common/platform/Network.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

#include "common/platform/CodePage.h"

namespace platform {

namespace {

std::string DottedText(const sockaddr* address) {
    char text[INET_ADDRSTRLEN] = {};
    if (address == nullptr || address->sa_family != AF_INET)
        return "0.0.0.0";
    sockaddr_in in{};
    std::memcpy(&in, address, sizeof(in));
    inet_ntop(AF_INET, &in.sin_addr, text, sizeof(text));
    return text;
}

// An alias label ("eth0:1") belongs to its interface ("eth0").
std::string_view InterfaceName(const char* label) {
    const std::string_view name(label);
    return name.substr(0, name.find(':'));
}

AdapterInfo& AdapterNamed(std::vector<AdapterInfo>& adapters, std::string_view name) {
    const auto found = std::find_if(adapters.begin(), adapters.end(),
                                    [&](const AdapterInfo& a) { return a.name == name; });
    if (found != adapters.end())
        return *found;
    adapters.push_back(AdapterInfo{std::string(name), {}, {}});
    return adapters.back();
}

// Winsock numbers back to errno, for the C library's texts.
int ErrnoFromWinsock(int wsaError) {
    switch (wsaError) {
    case 10004:
        return EINTR;
    case 10013:
        return EACCES;
    case 10014:
        return EFAULT;
    case 10022:
        return EINVAL;
    case 10024:
        return EMFILE;
    case 10035:
        return EWOULDBLOCK;
    case 10036:
        return EINPROGRESS;
    case 10037:
        return EALREADY;
    case 10038:
        return ENOTSOCK;
    case 10039:
        return EDESTADDRREQ;
    case 10040:
        return EMSGSIZE;
    case 10041:
        return EPROTOTYPE;
    case 10042:
        return ENOPROTOOPT;
    case 10043:
        return EPROTONOSUPPORT;
    case 10045:
        return EOPNOTSUPP;
    case 10047:
        return EAFNOSUPPORT;
    case 10048:
        return EADDRINUSE;
    case 10049:
        return EADDRNOTAVAIL;
    case 10050:
        return ENETDOWN;
    case 10051:
        return ENETUNREACH;
    case 10052:
        return ENETRESET;
    case 10053:
        return ECONNABORTED;
    case 10054:
        return ECONNRESET;
    case 10055:
        return ENOBUFS;
    case 10056:
        return EISCONN;
    case 10057:
        return ENOTCONN;
    case 10058:
        return ESHUTDOWN;
    case 10060:
        return ETIMEDOUT;
    case 10061:
        return ECONNREFUSED;
    case 10064:
        return EHOSTDOWN;
    case 10065:
        return EHOSTUNREACH;
    default:
        return 0;
    }
}

} // namespace

AdapterListStatus ReadAdapterList(std::vector<AdapterInfo>& adapters, int& error) {
    adapters.clear();
    error = 0;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        error = errno;
        return error == ENOMEM ? AdapterListStatus::NoMemory : AdapterListStatus::Failed;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr || (entry->ifa_flags & IFF_LOOPBACK) != 0 ||
            entry->ifa_addr == nullptr)
            continue;
        const int family = entry->ifa_addr->sa_family;
        if (family == AF_PACKET) {
            sockaddr_ll link{};
            std::memcpy(&link, entry->ifa_addr, sizeof(link));
            const std::size_t length = std::min<std::size_t>(link.sll_halen, sizeof(link.sll_addr));
            AdapterNamed(adapters, InterfaceName(entry->ifa_name))
                .hardwareAddress.assign(link.sll_addr, link.sll_addr + length);
        } else if (family == AF_INET) {
            AdapterNamed(adapters, InterfaceName(entry->ifa_name))
                .addresses.push_back(
                    AdapterAddress{DottedText(entry->ifa_addr), DottedText(entry->ifa_netmask)});
        }
    }
    freeifaddrs(list);
    return AdapterListStatus::Ok;
}

bool GetLocalHostName(std::string& name) {
    char buffer[128] = {};
    name.clear();
    if (gethostname(buffer, sizeof(buffer) - 1) != 0)
        return false;
    name = buffer;
    return !name.empty();
}

std::u16string SocketErrorText(int wsaError) {
    const int code = ErrnoFromWinsock(wsaError);
    if (code == 0)
        return Utf8ToUtf16("Unknown error " + std::to_string(wsaError));
    char buffer[256] = {};
    // GNU strerror_r returns its text, which may not be the buffer.
    const char* text = strerror_r(code, buffer, sizeof(buffer));
    return Utf8ToUtf16(text != nullptr ? text : buffer);
}

} // namespace platform
