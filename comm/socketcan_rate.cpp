// Reading a SocketCAN interface's bit rate and listen-only mode from the
// kernel, as `ip -details link show` does: RTM_GETLINK, then IFLA_LINKINFO /
// IFLA_INFO_DATA / IFLA_CAN_BITTIMING or IFLA_CAN_CTRLMODE.
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

namespace {

// The CAN data (IFLA_INFO_DATA) of a CAN interface's link, handed to `read`;
// false when there is none.
template <typename Read>
bool ReadCanLink(const QString& interfaceName, Read&& read)
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
        return false;

    alignas(nlmsghdr) char answer[16384];
    const ssize_t n = ::recv(s.fd, answer, sizeof answer, 0);
    if (n <= 0)
        return false;
    auto len = static_cast<unsigned>(n);
    for (auto* h = reinterpret_cast<const nlmsghdr*>(answer); NLMSG_OK(h, len); h = NLMSG_NEXT(h, len)) {
        if (h->nlmsg_type != RTM_NEWLINK)
            continue;
        const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(h));
        const rtattr* linkInfo =
            FindAttribute(IFLA_RTA(info), static_cast<int>(IFLA_PAYLOAD(h)), IFLA_LINKINFO);
        if (!linkInfo)
            return false;
        const int infoLen = static_cast<int>(RTA_PAYLOAD(linkInfo));
        // Other kinds (vcan, ...) have no bit timing; their data means something else.
        const rtattr* kind = FindAttribute(RTA_DATA(linkInfo), infoLen, IFLA_INFO_KIND);
        if (!kind || std::strncmp(static_cast<const char*>(RTA_DATA(kind)), "can", RTA_PAYLOAD(kind)) != 0)
            return false;
        const rtattr* data = FindAttribute(RTA_DATA(linkInfo), infoLen, IFLA_INFO_DATA);
        return data && read(RTA_DATA(data), static_cast<int>(RTA_PAYLOAD(data)));
    }
    return false;
}

} // namespace

std::uint32_t SocketCanBitRate(const QString& interfaceName)
{
    std::uint32_t rate = 0;
    ReadCanLink(interfaceName, [&rate](const void* data, int len) {
        const rtattr* timing = FindAttribute(data, len, IFLA_CAN_BITTIMING);
        if (!timing || RTA_PAYLOAD(timing) < sizeof(can_bittiming))
            return false;
        can_bittiming bt;
        std::memcpy(&bt, RTA_DATA(timing), sizeof bt);
        rate = bt.bitrate;
        return true;
    });
    return rate;
}

std::optional<bool> SocketCanListenOnly(const QString& interfaceName)
{
    std::optional<bool> silent;
    ReadCanLink(interfaceName, [&silent](const void* data, int len) {
        const rtattr* mode = FindAttribute(data, len, IFLA_CAN_CTRLMODE);
        if (!mode || RTA_PAYLOAD(mode) < sizeof(can_ctrlmode))
            return false;
        can_ctrlmode m;
        std::memcpy(&m, RTA_DATA(mode), sizeof m);
        silent = (m.flags & CAN_CTRLMODE_LISTENONLY) != 0;
        return true;
    });
    return silent;
}

#else

std::uint32_t SocketCanBitRate(const QString&)
{
    return 0;
}

std::optional<bool> SocketCanListenOnly(const QString&)
{
    return std::nullopt;
}

#endif
