// Reading a SocketCAN interface's bit rate from the kernel, as `ip -details
// link show` does: RTM_GETLINK, then IFLA_LINKINFO / IFLA_INFO_DATA /
// IFLA_CAN_BITTIMING.
#include "serialbus_driver.h"

#ifdef Q_OS_LINUX
#include <linux/can/netlink.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

namespace {

// The attribute of `type` among those in [data, data + len), or null.
const rtattr* FindAttribute(const void* data, int len, unsigned short type)
{
    for (auto* a = static_cast<const rtattr*>(data); RTA_OK(a, len); a = RTA_NEXT(a, len))
        if ((a->rta_type & NLA_TYPE_MASK) == type)
            return a;
    return nullptr;
}

struct Socket {
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

std::uint32_t SocketCanBitRate(const QString& interfaceName)
{
    const unsigned index = if_nametoindex(interfaceName.toLocal8Bit().constData());
    if (index == 0)
        return 0;
    Socket s;
    if (s.fd < 0)
        return 0;
    // The kernel answers at once; the timeout only guards against surprises.
    timeval timeout{0, 200000};
    ::setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    struct {
        nlmsghdr header;
        ifinfomsg info;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.info.ifi_family = AF_UNSPEC;
    request.info.ifi_index = static_cast<int>(index);
    if (::send(s.fd, &request, sizeof request, 0) < 0)
        return 0;

    alignas(nlmsghdr) char answer[16384];
    const ssize_t n = ::recv(s.fd, answer, sizeof answer, 0);
    if (n <= 0)
        return 0;
    auto len = static_cast<unsigned>(n);
    for (auto* h = reinterpret_cast<const nlmsghdr*>(answer); NLMSG_OK(h, len); h = NLMSG_NEXT(h, len)) {
        if (h->nlmsg_type != RTM_NEWLINK)
            continue;
        const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(h));
        const rtattr* linkInfo =
            FindAttribute(IFLA_RTA(info), static_cast<int>(IFLA_PAYLOAD(h)), IFLA_LINKINFO);
        if (!linkInfo)
            return 0;
        const int infoLen = static_cast<int>(RTA_PAYLOAD(linkInfo));
        // Other kinds (vcan, ...) have no bit timing; their data means something else.
        const rtattr* kind = FindAttribute(RTA_DATA(linkInfo), infoLen, IFLA_INFO_KIND);
        if (!kind || std::strncmp(static_cast<const char*>(RTA_DATA(kind)), "can", RTA_PAYLOAD(kind)) != 0)
            return 0;
        const rtattr* data = FindAttribute(RTA_DATA(linkInfo), infoLen, IFLA_INFO_DATA);
        if (!data)
            return 0;
        const rtattr* timing =
            FindAttribute(RTA_DATA(data), static_cast<int>(RTA_PAYLOAD(data)), IFLA_CAN_BITTIMING);
        if (!timing || RTA_PAYLOAD(timing) < sizeof(can_bittiming))
            return 0;
        can_bittiming bt;
        std::memcpy(&bt, RTA_DATA(timing), sizeof bt);
        return bt.bitrate;
    }
    return 0;
}

#else

std::uint32_t SocketCanBitRate(const QString&)
{
    return 0;
}

#endif
