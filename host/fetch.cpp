// URL fetch: a plain HTTP/1.0 GET into a temporary file, bounded in size
// (BRELRT_URL_MAX_MB) and in time (BRELRT_URL_TIMEOUT: connecting, sending
// and receiving share one deadline). A fetch that fails leaves no file.
#include "internal.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr long long default_max_mb = 256;
constexpr long long default_timeout_seconds = 120;
constexpr long long megabyte = 1024 * 1024;
constexpr size_t header_limit = 64 * 1024;

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

// A positive whole number from the environment variable `name`, at most
// `most`; the default, and a trace line, for anything else.
long long setting(const char* name, long long fallback, long long most) {
    const char* text = std::getenv(name);
    if (!text)
        return fallback;
    const char* p = text;
    while (*p == ' ')
        ++p;
    char* end = nullptr;
    errno = 0;
    long long n = *p >= '0' && *p <= '9' ? std::strtoll(p, &end, 10) : 0;
    while (end && *end == ' ')
        ++end;
    if (n <= 0 || !end || *end) {
        brelrt_trace(0, 1,
                     brelrt::format("URL fetch: %s '%s' is not a positive number: %lld is used",
                                    name, brelrt::excerpt(text).c_str(), fallback)
                         .c_str());
        return fallback;
    }
    return errno == ERANGE || n > most ? most : n;
}

// The end of the time a fetch may take.
class Deadline {
public:
    explicit Deadline(long long seconds)
        : end_(std::chrono::steady_clock::now() + std::chrono::seconds(seconds)) {}

    // Waits until `fd` is ready for `events`; false, with `why` set, when the
    // deadline passes first.
    bool wait(int fd, short events, std::string& why) const {
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            end_ - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0) {
                why = "no answer in time (BRELRT_URL_TIMEOUT)";
                return false;
            }
            pollfd p{fd, events, 0};
            int n = poll(&p, 1, static_cast<int>(std::min<long long>(left + 1, INT_MAX)));
            if (n > 0)
                return true;
            if (n < 0 && errno != EINTR) {
                why = std::strerror(errno);
                return false;
            }
        }
    }

private:
    std::chrono::steady_clock::time_point end_;
};

// A connected socket (non-blocking), or -1 with `why` set.
int connect_to(const addrinfo* list, const Deadline& deadline, std::string& why) {
    why = "cannot connect";
    for (const addrinfo* a = list; a; a = a->ai_next) {
        brelrt::Descriptor fd(
            socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
        if (fd.fd < 0)
            continue;
        if (connect(fd.fd, a->ai_addr, a->ai_addrlen) == 0)
            return fd.release();
        if (errno != EINPROGRESS)
            continue;
        if (!deadline.wait(fd.fd, POLLOUT, why))
            return -1;
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd.fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
            return fd.release();
        why = std::string("cannot connect: ") + std::strerror(error);
    }
    return -1;
}

bool send_all(int fd, const std::string& data, const Deadline& deadline, std::string& why) {
    for (size_t sent = 0; sent < data.size();) {
        if (!deadline.wait(fd, POLLOUT, why))
            return false;
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0) {
            why = std::string("cannot send the request: ") + std::strerror(errno);
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Up to `size` bytes into `buffer`: the count, 0 at the end, -1 with `why`
// set on a failure or when the deadline passes.
ssize_t receive_some(int fd, char* buffer, size_t size, const Deadline& deadline,
                     std::string& why) {
    for (;;) {
        if (!deadline.wait(fd, POLLIN, why))
            return -1;
        ssize_t n = recv(fd, buffer, size, 0);
        if (n >= 0)
            return n;
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            why = std::strerror(errno);
            return -1;
        }
    }
}

bool write_all(int fd, const char* data, size_t length, std::string& why) {
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = std::string("cannot write the local copy: ") +
                  std::strerror(n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Reads the response; the body, at most `most` bytes, goes to `out`. False,
// with `why` set, on any failure.
bool receive(int fd, int out, long long most, const Deadline& deadline, std::string& why) {
    std::string head;
    char buffer[16384];
    size_t body_start = std::string::npos;
    while (body_start == std::string::npos) {
        ssize_t n = receive_some(fd, buffer, sizeof buffer, deadline, why);
        if (n < 0)
            return false;
        if (n == 0) {
            why = "the connection closed before the headers ended";
            return false;
        }
        head.append(buffer, static_cast<size_t>(n));
        size_t crlf = head.find("\r\n\r\n");
        size_t lf = head.find("\n\n");
        if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf))
            body_start = crlf + 4;
        else if (lf != std::string::npos)
            body_start = lf + 2;
        else if (head.size() > header_limit) {
            why = brelrt::format("headers longer than %zu bytes", header_limit);
            return false;
        }
    }
    // Status line: HTTP/1.x 200 ...
    int status = 0;
    if (std::sscanf(head.c_str(), "HTTP/%*d.%*d %d", &status) != 1 || status != 200) {
        size_t end = head.find_first_of("\r\n");
        why = "answered '" + brelrt::excerpt(std::string_view(head).substr(0, end)) + "'";
        return false;
    }
    long long expected = -1;
    std::string_view headers = std::string_view(head).substr(0, body_start);
    brelrt::each_line(headers, [&](std::string_view line, int) {
        if (line.size() > 15 && strncasecmp(line.data(), "Content-Length:", 15) == 0) {
            std::string value(line.substr(15));
            char* end = nullptr;
            long long n = std::strtoll(value.c_str(), &end, 10);
            if (end != value.c_str() && n >= 0)
                expected = n;
        }
    });
    if (expected > most) {
        why = brelrt::format("a body of %lld bytes, more than %lld (BRELRT_URL_MAX_MB)", expected,
                             most);
        return false;
    }
    // With a Content-Length the body ends there; without one, at the close.
    long long limit = expected >= 0 ? expected : most;
    long long received = 0;
    auto take = [&](const char* data, size_t n) {
        if (static_cast<long long>(n) > limit - received) {
            if (expected < 0) {
                why = brelrt::format("a body of more than %lld bytes (BRELRT_URL_MAX_MB)", most);
                return false;
            }
            n = static_cast<size_t>(limit - received); // what follows is not the body
        }
        received += static_cast<long long>(n);
        return write_all(out, data, n, why);
    };
    if (!take(head.data() + body_start, head.size() - body_start))
        return false;
    while (expected < 0 || received < expected) {
        ssize_t n = receive_some(fd, buffer, sizeof buffer, deadline, why);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (!take(buffer, static_cast<size_t>(n)))
            return false;
    }
    if (received < expected) {
        why = brelrt::format("a body of %lld bytes, shorter than its Content-Length %lld", received,
                             expected);
        return false;
    }
    return true;
}

// The local copy: removed when it goes out of scope, unless kept.
struct LocalCopy {
    std::string name;
    int fd = -1;
    bool keep = false;
    ~LocalCopy() {
        if (fd >= 0)
            close(fd);
        if (!name.empty() && !keep)
            unlink(name.c_str());
    }
    // Makes the file in `dir`; false with `why` set.
    bool make(const std::string& dir, std::string& why) {
        std::string pattern = dir + "/brelrt-url-XXXXXX";
        fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) {
            why =
                "cannot make a local copy in " + brelrt::excerpt(dir) + ": " + std::strerror(errno);
            return false;
        }
        name = std::move(pattern);
        return true;
    }
    // Closes the file; false with `why` set when its last writes failed.
    bool finish(std::string& why) {
        int f = fd;
        fd = -1;
        if (close(f) == 0)
            return true;
        why = std::string("cannot write the local copy: ") + std::strerror(errno);
        return false;
    }
};

// Why the last fetch failed ("" after one that did not).
std::string g_last_error;

// A failed fetch: the reason kept for brelrt_url_last_error, and traced.
char* failed(const std::string& why) {
    g_last_error = why;
    brelrt_trace(0, 1, ("URL fetch: " + why).c_str());
    return nullptr;
}

char* fetch(const char* url_text) {
    g_last_error.clear();
    Url url;
    if (!url_text || !parse_url(url_text, url))
        return failed("not an http URL");
    std::string shown = brelrt::excerpt(url_text, 80);
    long long most = setting("BRELRT_URL_MAX_MB", default_max_mb, LLONG_MAX / megabyte) * megabyte;
    long long seconds =
        setting("BRELRT_URL_TIMEOUT", default_timeout_seconds, 100LL * 365 * 24 * 3600);
    std::string request = "GET " + url.path + " HTTP/1.0\r\nHost: " + url.host +
                          "\r\nUser-Agent: brelrt\r\nConnection: close\r\n\r\n";
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    if (int e = getaddrinfo(url.host.c_str(), url.port.c_str(), &hints, &addresses); e != 0)
        return failed(shown + ": " + gai_strerror(e));
    Deadline deadline(seconds);
    std::string why;
    brelrt::Descriptor connection(connect_to(addresses, deadline, why));
    freeaddrinfo(addresses);
    if (connection.fd < 0)
        return failed(shown + ": " + why);
    std::string dir = brelrt::env("TMPDIR");
    if (dir.empty())
        dir = "/tmp";
    LocalCopy copy;
    if (!copy.make(dir, why) || !send_all(connection.fd, request, deadline, why) ||
        !receive(connection.fd, copy.fd, most, deadline, why) || !copy.finish(why))
        return failed(shown + ": " + why);
    char* result = brelrt_strdup(copy.name.c_str(), "host/fetch", __LINE__, "URL local copy");
    if (!result)
        brelrt::shortage();
    copy.keep = result != nullptr;
    return result;
}

} // namespace

char* brelrt_url_fetch(const char* url_text) {
    return brelrt::guarded<char*>(nullptr, [&] { return fetch(url_text); });
}

const char* brelrt_url_last_error(void) {
    return g_last_error.c_str();
}
