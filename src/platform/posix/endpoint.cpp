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
    if (!MakeAddress(path, address)) return SysResult<int>::Failure(ENAMETOOLONG);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return SysResult<int>::Failure(errno);

    int error = Bind(fd.get(), address);
    if (error == EADDRINUSE) {
        // Only a socket nobody listens on may be replaced: a live host keeps
        // its endpoint, and a file that is no socket is left alone.
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) return SysResult<int>::Failure(errno);
        if (!S_ISSOCK(info.st_mode)) return SysResult<int>::Failure(EEXIST);
        const auto probe = ConnectEndpoint(path);
        if (probe.ok()) {
            ::close(probe.value);
            return SysResult<int>::Failure(EADDRINUSE);
        }
        if (probe.error != ECONNREFUSED) return SysResult<int>::Failure(probe.error);
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            return SysResult<int>::Failure(errno);
        }
        error = Bind(fd.get(), address);
    }
    if (error != 0) return SysResult<int>::Failure(error);
    if (::listen(fd.get(), SOMAXCONN) != 0) {
        error = errno;
        ::unlink(path.c_str());
        return SysResult<int>::Failure(error);
    }
    return SysResult<int>::Success(fd.Release());
}

}  // namespace kestrun
