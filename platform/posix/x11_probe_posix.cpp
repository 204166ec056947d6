#include "platform/posix/x11_probe.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "text/utf8.h"

namespace platform {

namespace {

// A display across a dead ssh tunnel or a vanished host must not hold the start for long.
constexpr int kConnectTimeoutMs = 2000;
constexpr int kReplyTimeoutMs = 3000;
constexpr unsigned kX11BasePort = 6000;
// A real authority file holds a few records; anything larger is not read.
constexpr std::size_t kMaxAuthorityBytes = 256 * 1024;
constexpr std::string_view kCookieName = "MIT-MAGIC-COOKIE-1";
// Address families of the authority file (Xauth.h).
constexpr unsigned kFamilyInternet = 0;
constexpr unsigned kFamilyLocal = 256;
constexpr unsigned kFamilyWild = 65535;

struct Display {
    std::string host;        // empty: this machine's socket
    std::string socketPath;  // a path given in place of the host
    std::string number;
};

bool ParseDisplay(const std::string& text, Display& display) {
    // A path is the server's socket itself, perhaps with ".screen" after it, as the X library
    // reads it; its display number counts as 0.
    if (!text.empty() && text[0] == '/') {
        display.socketPath = text;
        struct stat status {};
        const std::size_t dot = text.rfind('.');
        if (stat(text.c_str(), &status) != 0 && dot != std::string::npos && dot + 1 < text.size() &&
            text.find_first_not_of("0123456789", dot + 1) == std::string::npos)
            display.socketPath = text.substr(0, dot);
        display.number = "0";
        return true;
    }
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    std::string host = text.substr(0, colon);
    std::size_t at = colon + 1;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])))
        display.number.push_back(text[at++]);
    if (display.number.empty() || display.number.size() > 5 ||
        (at < text.size() && text[at] != '.'))
        return false;
    // "tcp/host" and "unix/host" name the transport; only the host matters here.
    const std::size_t slash = host.find('/');
    const std::string protocol = slash == std::string::npos ? "" : host.substr(0, slash);
    if (slash != std::string::npos)
        host = host.substr(slash + 1);
    if (host == "unix" || (protocol == "unix"))
        host.clear();
    // "[::1]" or "::1" style addresses keep their brackets out.
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (!host.empty() && host.back() == ':')
        host.pop_back();
    display.host = host;
    return true;
}

class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void Reset(int fd) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = fd;
    }
    int Get() const { return m_fd; }

  private:
    int m_fd;
};

bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    int ready;
    do {
        ready = poll(&entry, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready == 1;
}

// Connects without blocking longer than the timeout; errno tells why it did not.
bool ConnectWithin(int fd, const sockaddr* address, socklen_t length) {
    if (connect(fd, address, length) == 0)
        return true;
    if (errno != EINPROGRESS && errno != EAGAIN)
        return false;
    if (!WaitFor(fd, POLLOUT, kConnectTimeoutMs)) {
        errno = ETIMEDOUT;
        return false;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        errno = error != 0 ? error : errno;
        return false;
    }
    return true;
}

int ConnectLocal(const std::string& path, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                               path.size() + (abstract ? 0 : 1));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (!ConnectWithin(fd, reinterpret_cast<const sockaddr*>(&address), length)) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

int ConnectTcp(const std::string& host, unsigned port, std::string& peerAddress) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
        found == nullptr) {
        errno = EHOSTUNREACH;
        return -1;
    }
    int fd = -1;
    for (const addrinfo* at = found; at != nullptr && fd < 0; at = at->ai_next) {
        fd = socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, at->ai_protocol);
        if (fd < 0)
            continue;
        if (!ConnectWithin(fd, at->ai_addr, at->ai_addrlen)) {
            const int saved = errno;
            close(fd);
            fd = -1;
            errno = saved;
            continue;
        }
        if (at->ai_family == AF_INET) {
            const auto* inet = reinterpret_cast<const sockaddr_in*>(at->ai_addr);
            peerAddress.assign(reinterpret_cast<const char*>(&inet->sin_addr), 4);
        }
    }
    const int saved = errno;
    freeaddrinfo(found);
    errno = saved;
    return fd;
}

bool ReadAuthorityFile(std::string& bytes) {
    std::string path;
    if (const char* named = std::getenv("XAUTHORITY"); named != nullptr && *named != '\0')
        path = named;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        path = std::string(home) + "/.Xauthority";
    else
        return false;
    // Not blocking and a regular file only: a FIFO at the name must not hang the start.
    Descriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status {};
    if (file.Get() < 0 || fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::size_t>(status.st_size) > kMaxAuthorityBytes)
        return false;
    char block[4096];
    for (;;) {
        const ssize_t got = read(file.Get(), block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        bytes.append(block, static_cast<std::size_t>(got));
        if (bytes.size() > kMaxAuthorityBytes)
            return false;
    }
}

// The cookie for the display, as an X library would pick it: a record for this machine (or
// for the address connected to), or a wild one, for this display number or any.
bool FindCookie(const Display& display, bool local, const std::string& peerAddress,
                std::string& cookie) {
    std::string bytes;
    if (!ReadAuthorityFile(bytes))
        return false;
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    const std::string hostName(name);
    std::size_t at = 0;
    auto field = [&](std::string& out) {
        if (bytes.size() - at < 2)
            return false;
        const std::size_t length = (static_cast<unsigned char>(bytes[at]) << 8) |
                                   static_cast<unsigned char>(bytes[at + 1]);
        at += 2;
        if (bytes.size() - at < length)
            return false;
        out = bytes.substr(at, length);
        at += length;
        return true;
    };
    while (bytes.size() - at >= 2) {
        const unsigned family = (static_cast<unsigned char>(bytes[at]) << 8) |
                                static_cast<unsigned char>(bytes[at + 1]);
        at += 2;
        std::string address, number, method, data;
        if (!field(address) || !field(number) || !field(method) || !field(data))
            return false;
        const bool addressMatches =
            family == kFamilyWild || (family == kFamilyLocal && local && address == hostName) ||
            (family == kFamilyInternet && !peerAddress.empty() && address == peerAddress);
        if (addressMatches && (number.empty() || number == display.number) &&
            method == kCookieName) {
            cookie = data;
            return true;
        }
    }
    return false;
}

void PutCard16(std::string& out, std::size_t value) {
    out.push_back(static_cast<char>((value >> 8) & 0xff));
    out.push_back(static_cast<char>(value & 0xff));
}

void Pad(std::string& out) {
    while (out.size() % 4 != 0)
        out.push_back('\0');
}

bool SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (!WaitFor(fd, POLLOUT, kReplyTimeoutMs))
            return false;
        const ssize_t put = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (put < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (put <= 0)
            return false;
        sent += static_cast<std::size_t>(put);
    }
    return true;
}

// Reads exactly size bytes, or as many as come before the server closes or the time is up.
std::size_t ReceiveUpTo(int fd, char* buffer, std::size_t size,
                        std::chrono::steady_clock::time_point deadline) {
    std::size_t got = 0;
    while (got < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || !WaitFor(fd, POLLIN, static_cast<int>(left)))
            break;
        const ssize_t read = recv(fd, buffer + got, size - got, 0);
        if (read < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (read <= 0)
            break;
        got += static_cast<std::size_t>(read);
    }
    return got;
}

std::string Printable(std::string text) {
    for (char& ch : text) {
        if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) >= 0x7f)
            ch = '?';
    }
    while (!text.empty() && text.back() == '?')
        text.pop_back();
    return text;
}

bool Refuse(std::wstring& reason, const std::string& why) {
    reason = Utf8ToWide(std::string_view(why));
    return false;
}

}  // namespace

bool X11ServerAccepts(const std::string& text, std::wstring& reason) {
    Display display;
    if (!ParseDisplay(text, display))
        return Refuse(reason, "DISPLAY \"" + Printable(text) + "\" names no display");
    const std::string shown = "X display " + Printable(text);
    Descriptor connection;
    std::string peerAddress;
    bool local = true;
    if (!display.socketPath.empty()) {
        connection.Reset(ConnectLocal(display.socketPath, false));
    } else if (display.host.empty()) {
        // The abstract name first, as the X libraries do; the file in /tmp where there is none.
        const std::string path = "/tmp/.X11-unix/X" + display.number;
        connection.Reset(ConnectLocal(path, true));
        if (connection.Get() < 0)
            connection.Reset(ConnectLocal(path, false));
    } else {
        const unsigned port = kX11BasePort + static_cast<unsigned>(std::stoul(display.number));
        if (port > 65535)
            return Refuse(reason, shown + ": no such display number");
        connection.Reset(ConnectTcp(display.host, port, peerAddress));
        // The X libraries take a loopback connection for this machine's (ssh -X's forwarding
        // writes its cookie so).
        local = display.host == "localhost" ||
                (peerAddress.size() == 4 && static_cast<unsigned char>(peerAddress[0]) == 127);
    }
    if (connection.Get() < 0)
        return Refuse(reason, shown + ": cannot connect (" + std::strerror(errno) + ")");

    std::string cookie;
    const bool withCookie = FindCookie(display, local, peerAddress, cookie);
    std::string request;
    request.push_back('B');  // most significant byte first
    request.push_back('\0');
    PutCard16(request, 11);  // protocol 11.0
    PutCard16(request, 0);
    PutCard16(request, withCookie ? kCookieName.size() : 0);
    PutCard16(request, withCookie ? cookie.size() : 0);
    PutCard16(request, 0);
    if (withCookie) {
        request.append(kCookieName);
        Pad(request);
        request.append(cookie);
        Pad(request);
    }
    if (!SendAll(connection.Get(), request))
        return Refuse(reason, shown + ": the connection broke before the server answered");

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
    char reply[8];
    if (ReceiveUpTo(connection.Get(), reply, sizeof reply, deadline) != sizeof reply)
        return Refuse(reason, shown + ": the server did not answer the connection setup");
    if (reply[0] == 1)
        return true;
    // Failed gives its reason's length in the second byte, Authenticate in 4-byte units.
    const std::size_t units =
        (static_cast<unsigned char>(reply[6]) << 8) | static_cast<unsigned char>(reply[7]);
    std::size_t length = reply[0] == 0 ? static_cast<unsigned char>(reply[1]) : units * 4;
    std::string why(std::min<std::size_t>(length, 255), '\0');
    why.resize(ReceiveUpTo(connection.Get(), why.data(), why.size(), deadline));
    why = Printable(why);
    return Refuse(reason, shown + " refuses this program" +
                              (withCookie ? "" : " (no cookie for it in the authority file)") +
                              (why.empty() ? std::string() : ": " + why));
}

}  // namespace platform
