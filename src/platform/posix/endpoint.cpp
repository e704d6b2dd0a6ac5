#include "platform/posix/endpoint.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/unique_fd.h"

namespace kestrun {
namespace {

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int Bind(int fd, const sockaddr_un& address) {
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
}

// "<folder>/.<process id in base 36>": unique among live processes, and no
// longer than "SIMMAIN" for any process id Linux hands out.
std::string TemporaryName(const std::string& path) {
    std::string name;
    for (unsigned long id = static_cast<unsigned long>(::getpid()); id != 0; id /= 36) {
        name.insert(name.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[id % 36]);
    }
    const std::size_t slash = path.rfind('/');
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "." + name;
}

// Gives the listening socket at `temporary` the name `path` as well. Only a
// socket nobody listens on may be replaced: a live host keeps its endpoint
// (EADDRINUSE), and a file that is no socket is left alone (EEXIST).
int TakeName(const char* temporary, const std::string& path) {
    if (::link(temporary, path.c_str()) == 0) return 0;
    if (errno != EEXIST) return errno;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return errno;
    if (!S_ISSOCK(info.st_mode)) return EEXIST;
    const auto probe = ConnectEndpoint(path);
    if (probe.ok()) {
        ::close(probe.value);
        return EADDRINUSE;
    }
    if (probe.error != ECONNREFUSED) return probe.error;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return errno;
    return ::link(temporary, path.c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::string EndpointPath(const std::string& runtime_directory, std::string_view window_class) {
    std::string path = runtime_directory;
    path += '/';
    path += window_class;
    return path;
}

SysResult<int> ConnectEndpoint(const std::string& path) {
    sockaddr_un address{};
    if (!MakeAddress(path, address)) return SysResult<int>::Failure(ENAMETOOLONG);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return SysResult<int>::Failure(errno);
    int result = 0;
    do {
        result = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) return SysResult<int>::Failure(errno);
    return SysResult<int>::Success(fd.Release());
}

SysResult<int> ListenEndpoint(const std::string& path) {
    sockaddr_un address{};
    sockaddr_un temporary{};
    if (!MakeAddress(path, address) || !MakeAddress(TemporaryName(path), temporary)) {
        return SysResult<int>::Failure(ENAMETOOLONG);
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return SysResult<int>::Failure(errno);

    // The socket is bound and listening under a name of this process before
    // it takes the endpoint's name, so the endpoint never exists without
    // accepting: a recorder that finds it can always connect. A name left by
    // an earlier process of the same id that died is ours to remove.
    ::unlink(temporary.sun_path);
    int error = Bind(fd.get(), temporary);
    if (error == 0 && ::listen(fd.get(), SOMAXCONN) != 0) error = errno;
    if (error == 0) error = TakeName(temporary.sun_path, path);
    ::unlink(temporary.sun_path);
    if (error != 0) return SysResult<int>::Failure(error);
    return SysResult<int>::Success(fd.Release());
}

}  // namespace kestrun
