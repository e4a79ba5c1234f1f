// URL fetch: a plain HTTP/1.0 GET into a temporary file.
#include "internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

struct Url {
    std::string host;
    std::string port = "80";
    std::string path = "/";
};

bool parse_url(const char* text, Url& url) {
    if (strncasecmp(text, "http://", 7) != 0)
        return false;
    std::string rest = text + 7;
    for (unsigned char c : rest)
        if (c <= 0x20 || c == 0x7F)
            return false; // nothing that could split the request line
    size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    if (slash != std::string::npos)
        url.path = rest.substr(slash);
    if (authority.find('@') != std::string::npos)
        return false;
    size_t colon = authority.rfind(':');
    if (colon != std::string::npos && authority.find(']') == std::string::npos) {
        url.port = authority.substr(colon + 1);
        authority.erase(colon);
        if (url.port.empty() || url.port.size() > 5 ||
            url.port.find_first_not_of("0123456789") != std::string::npos)
            return false;
    }
    if (authority.size() > 2 && authority.front() == '[' && authority.back() == ']')
        authority = authority.substr(1, authority.size() - 2);
    url.host = authority;
    return !url.host.empty();
}

int connect_to(const Url& url) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(url.host.c_str(), url.port.c_str(), &hints, &list) != 0)
        return -1;
    int fd = -1;
    for (addrinfo* a = list; a; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd < 0)
            continue;
        timeval tv{30, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        if (connect(fd, a->ai_addr, a->ai_addrlen) == 0)
            break;
        close(fd);
        fd = -1;
    }
    freeaddrinfo(list);
    return fd;
}

bool send_all(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool write_all(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Reads the response; the body goes to `out`. False on any failure.
bool receive(int fd, int out) {
    const size_t header_limit = 64 * 1024;
    std::string head;
    char buffer[16384];
    size_t body_start = std::string::npos;
    while (body_start == std::string::npos) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        head.append(buffer, static_cast<size_t>(n));
        size_t crlf = head.find("\r\n\r\n");
        size_t lf = head.find("\n\n");
        if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf))
            body_start = crlf + 4;
        else if (lf != std::string::npos)
            body_start = lf + 2;
        else if (head.size() > header_limit)
            return false;
    }
    // Status line: HTTP/1.x 200 ...
    int status = 0;
    if (std::sscanf(head.c_str(), "HTTP/%*d.%*d %d", &status) != 1 || status != 200)
        return false;
    long long expected = -1;
    std::string headers = head.substr(0, body_start);
    for (size_t pos = 0; pos < headers.size();) {
        size_t end = headers.find('\n', pos);
        if (end == std::string::npos)
            end = headers.size();
        std::string line = headers.substr(pos, end - pos);
        if (strncasecmp(line.c_str(), "Content-Length:", 15) == 0)
            expected = std::atoll(line.c_str() + 15);
        pos = end + 1;
    }
    long long received = static_cast<long long>(head.size() - body_start);
    if (!write_all(out, head.data() + body_start, head.size() - body_start))
        return false;
    for (;;) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (!write_all(out, buffer, static_cast<size_t>(n)))
            return false;
        received += n;
    }
    return expected < 0 || received >= expected;
}

} // namespace

namespace {

// Closes a descriptor when it goes out of scope, so that an exception
// cannot leave one open.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0)
            close(fd);
    }
    int release() {
        int f = fd;
        fd = -1;
        return f;
    }
};

char* fetch(const char* url_text) {
    Url url;
    if (!url_text || !parse_url(url_text, url)) {
        brelrt_trace(0, 1, "URL fetch: not an http URL");
        return nullptr;
    }
    std::string request = "GET " + url.path + " HTTP/1.0\r\nHost: " + url.host +
                          "\r\nUser-Agent: brelrt\r\nConnection: close\r\n\r\n";
    std::string dir = brelrt::env("TMPDIR");
    if (dir.empty())
        dir = "/tmp";
    std::string name = dir + "/brelrt-url-XXXXXX";
    Descriptor connection;
    connection.fd = connect_to(url);
    if (connection.fd < 0) {
        brelrt_trace(0, 1, brelrt::format("URL fetch: cannot connect to %s", url_text).c_str());
        return nullptr;
    }
    Descriptor out;
    out.fd = mkstemp(name.data());
    bool ok = false;
    try {
        ok = out.fd >= 0 && send_all(connection.fd, request) && receive(connection.fd, out.fd);
    } catch (...) {
        unlink(name.c_str());
        throw;
    }
    if (out.fd >= 0 && close(out.release()) != 0)
        ok = false;
    if (!ok) {
        unlink(name.c_str());
        brelrt_trace(0, 1, brelrt::format("URL fetch: %s failed", url_text).c_str());
        return nullptr;
    }
    char* result = brelrt_strdup(name.c_str(), "host/fetch", __LINE__, "URL local copy");
    if (!result)
        unlink(name.c_str());
    return result;
}

} // namespace

char* brelrt_url_fetch(const char* url_text) {
    return brelrt::guarded<char*>(nullptr, [&] { return fetch(url_text); });
}
