// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/ScannerProtocol.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ScannerProtocol {

namespace {

// Only the start of a page hands a descriptor over.
bool carriesFd(Message type) { return type == Message::PageBegin; }

using Clock = std::chrono::steady_clock;

// What is left of timeoutMs since start, for poll (-1 stays "for ever").
int remainingMs(Clock::time_point start, int timeoutMs)
{
    if (timeoutMs < 0)
        return -1;
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return int(std::max<long long>(0, timeoutMs - spent));
}

constexpr int kMaxFdsPerRead = 8;

} // namespace

std::int64_t pageStride(PageFormat format, std::int64_t width)
{
    const std::int64_t bits = format == PageFormat::Mono ? 1 : format == PageFormat::Gray8 ? 8 : 24;
    return (width * bits + 31) / 32 * 4;
}

// ---- Writer ----

Writer& Writer::raw(const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    m_bytes.insert(m_bytes.end(), p, p + size);
    return *this;
}

Writer& Writer::str(const std::string& s)
{
    u32(std::uint32_t(s.size()));
    return raw(s.data(), s.size());
}

Writer& Writer::value(const OptionValue& v)
{
    u8(v.kind);
    switch (v.kind) {
    case OptionValue::Bool: return u8(v.boolean ? 1 : 0);
    case OptionValue::Int: return i32(v.integer);
    case OptionValue::Fixed: return f64(v.fixed);
    case OptionValue::String: return str(v.text);
    case OptionValue::None: break;
    }
    return *this;
}

Writer& Writer::descriptor(const OptionDescriptor& d)
{
    i32(d.index).str(d.name).str(d.title).str(d.description);
    u8(std::uint8_t(d.type)).u8(std::uint8_t(d.unit)).i32(d.count);
    u8(std::uint8_t((d.active ? 1 : 0) | (d.settable ? 2 : 0)));
    u8(std::uint8_t(d.constraint)).f64(d.minimum).f64(d.maximum).f64(d.quantum);
    u32(std::uint32_t(d.words.size()));
    for (double w : d.words)
        f64(w);
    u32(std::uint32_t(d.strings.size()));
    for (const std::string& s : d.strings)
        str(s);
    return *this;
}

Writer& Writer::device(const DeviceEntry& d)
{
    return str(d.name).str(d.vendor).str(d.model).str(d.type);
}

// ---- Reader ----

bool Reader::take(void* out, std::size_t size)
{
    if (!m_ok || std::size_t(m_end - m_p) < size) {
        m_ok = false;
        std::memset(out, 0, size);
        return false;
    }
    std::memcpy(out, m_p, size);
    m_p += size;
    return true;
}

std::uint8_t Reader::u8()
{
    std::uint8_t v;
    take(&v, sizeof v);
    return v;
}

std::int32_t Reader::i32()
{
    std::int32_t v;
    take(&v, sizeof v);
    return v;
}

std::uint32_t Reader::u32()
{
    std::uint32_t v;
    take(&v, sizeof v);
    return v;
}

double Reader::f64()
{
    double v;
    take(&v, sizeof v);
    return v;
}

std::uint32_t Reader::count(std::size_t minSize)
{
    const std::uint32_t n = u32();
    if (m_ok && minSize > 0 && n > std::size_t(m_end - m_p) / minSize)
        m_ok = false;
    return m_ok ? n : 0;
}

std::string Reader::str()
{
    const std::uint32_t n = count(1);
    if (!m_ok)
        return {};
    std::string s(m_p, n);
    m_p += n;
    return s;
}

OptionValue Reader::value()
{
    OptionValue v;
    const std::uint8_t kind = u8();
    switch (kind) {
    case OptionValue::None: break;
    case OptionValue::Bool: v.boolean = u8() != 0; break;
    case OptionValue::Int: v.integer = i32(); break;
    case OptionValue::Fixed: v.fixed = f64(); break;
    case OptionValue::String: v.text = str(); break;
    default: m_ok = false; return {};
    }
    v.kind = OptionValue::Kind(kind);
    return v;
}

OptionDescriptor Reader::descriptor()
{
    OptionDescriptor d;
    d.index = i32();
    d.name = str();
    d.title = str();
    d.description = str();
    const std::uint8_t type = u8(), unit = u8();
    d.count = i32();
    const std::uint8_t flags = u8();
    const std::uint8_t constraint = u8();
    if (type > std::uint8_t(OptionType::Group) || unit > std::uint8_t(OptionUnit::Microsecond)
        || constraint > std::uint8_t(OptionConstraint::StringList) || d.count < 0)
        m_ok = false;
    d.type = OptionType(type);
    d.unit = OptionUnit(unit);
    d.active = flags & 1;
    d.settable = flags & 2;
    d.constraint = OptionConstraint(constraint);
    d.minimum = f64();
    d.maximum = f64();
    d.quantum = f64();
    for (std::uint32_t n = count(sizeof(double)); n > 0; --n)
        d.words.push_back(f64());
    for (std::uint32_t n = count(4); n > 0 && m_ok; --n)
        d.strings.push_back(str());
    return d;
}

DeviceEntry Reader::device()
{
    DeviceEntry d;
    d.name = str();
    d.vendor = str();
    d.model = str();
    d.type = str();
    return d;
}

// ---- Channel ----

Channel::Channel(int socket) : m_socket(socket)
{
    const int flags = fcntl(m_socket, F_GETFL);
    if (flags >= 0)
        fcntl(m_socket, F_SETFL, flags | O_NONBLOCK);
}

Channel::~Channel()
{
    closePassedFds();
    if (m_socket >= 0)
        ::close(m_socket);
}

void Channel::closePassedFds()
{
    for (int fd : m_fds)
        ::close(fd);
    m_fds.clear();
}

Channel::Result Channel::send(Message type, const std::vector<char>& payload, int fdToPass,
                              int timeoutMs)
{
    const auto start = Clock::now();
    std::vector<char> frame(HeaderSize + payload.size());
    const std::uint32_t header[3] = {Magic, std::uint32_t(type), std::uint32_t(payload.size())};
    std::memcpy(frame.data(), header, HeaderSize);
    if (!payload.empty())
        std::memcpy(frame.data() + HeaderSize, payload.data(), payload.size());

    std::size_t sent = 0;
    while (sent < frame.size()) {
        ssize_t n;
        if (sent == 0 && fdToPass >= 0) {
            // The descriptor travels with the frame's first bytes.
            iovec iov{frame.data(), frame.size()};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
            cmsg->cmsg_level = SOL_SOCKET;
            cmsg->cmsg_type = SCM_RIGHTS;
            cmsg->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(cmsg), &fdToPass, sizeof(int));
            n = ::sendmsg(m_socket, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
        } else {
            n = ::send(m_socket, frame.data() + sent, frame.size() - sent,
                       MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        if (n > 0) {
            sent += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{m_socket, POLLOUT, 0};
            const int r = ::poll(&p, 1, remainingMs(start, timeoutMs));
            if (r == 0)
                return Result::Timeout;
            if (r < 0 && errno != EINTR)
                return Result::Failed;
            continue;
        }
        return (errno == EPIPE || errno == ECONNRESET) ? Result::Closed : Result::Failed;
    }
    return Result::Ok;
}

bool Channel::takeFrame(Frame& frame, Result* bad)
{
    if (m_in.size() < HeaderSize)
        return false;
    std::uint32_t header[3];
    std::memcpy(header, m_in.data(), HeaderSize);
    if (header[0] != Magic || header[2] > MaxPayload) {
        *bad = Result::Garbage;
        return false;
    }
    if (m_in.size() < HeaderSize + header[2])
        return false;
    frame.type = Message(header[1]);
    frame.payload.assign(m_in.begin() + HeaderSize, m_in.begin() + HeaderSize + header[2]);
    m_in.erase(m_in.begin(), m_in.begin() + HeaderSize + header[2]);
    frame.fd = -1;
    if (carriesFd(frame.type)) {
        // The descriptor arrives no later than the frame's first bytes.
        if (m_fds.empty()) {
            *bad = Result::Garbage;
            return false;
        }
        frame.fd = m_fds.front();
        m_fds.erase(m_fds.begin());
    }
    return true;
}

Channel::Result Channel::fill(int timeoutMs, int wakeFd)
{
    pollfd p[2] = {{m_socket, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int r = ::poll(p, wakeFd >= 0 ? 2 : 1, timeoutMs);
    if (r == 0)
        return Result::Timeout;
    if (r < 0)
        return errno == EINTR ? Result::Ok : Result::Failed;
    if (wakeFd >= 0 && (p[1].revents & POLLIN) && !(p[0].revents & (POLLIN | POLLHUP)))
        return Result::Woken;

    char buffer[64 * 1024];
    iovec iov{buffer, sizeof buffer};
    alignas(cmsghdr) char control[CMSG_SPACE(kMaxFdsPerRead * sizeof(int))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(m_socket, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return Result::Ok;
        return errno == ECONNRESET ? Result::Closed : Result::Failed;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            m_fds.push_back(fd);
        }
    }
    if (n == 0)
        return Result::Closed;
    m_in.insert(m_in.end(), buffer, buffer + n);
    // Descriptors lost to a full control buffer leave a frame without its memory.
    if (msg.msg_flags & MSG_CTRUNC)
        return Result::Garbage;
    return Result::Ok;
}

Channel::Result Channel::receive(Frame& frame, int timeoutMs, int wakeFd)
{
    const auto start = Clock::now();
    for (;;) {
        Result bad = Result::Ok;
        if (takeFrame(frame, &bad))
            return Result::Ok;
        if (bad != Result::Ok)
            return bad;
        const Result r = fill(remainingMs(start, timeoutMs), wakeFd);
        if (r != Result::Ok)
            return r;
    }
}

bool Channel::pending()
{
    if (m_in.size() >= HeaderSize)
        return true;
    pollfd p{m_socket, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

} // namespace ScannerProtocol
