#pragma once
// Host endpoints: a host listens on a Unix-domain stream socket named after
// its window class inside the runtime directory ("HOSTMAIN", "SIMMAIN").
// Finding a host window means connecting to that socket.

#include <string>
#include <string_view>

#include "platform/posix/sys_result.h"

namespace kestrun {

// "<runtime>/<window class>".
std::string EndpointPath(const std::string& runtime_directory, std::string_view window_class);

// Connects to the endpoint at `path` and returns a non-blocking,
// close-on-exec stream socket. ENOENT or ECONNREFUSED when no host listens
// there (a socket file left by a host that died gives ECONNREFUSED), and
// ENAMETOOLONG for a path longer than a socket address holds. The connect
// itself never blocks: a host whose queue of new connections is full counts
// as absent (EAGAIN) rather than freezing the caller.
SysResult<int> ConnectEndpoint(const std::string& path);

// Listens at `path` with a non-blocking, close-on-exec socket. The file at
// `path` appears only once the socket accepts connections. A socket file
// left behind by a host that died is replaced; EADDRINUSE when a live host
// already listens there, EEXIST when something other than a socket has the
// name.
SysResult<int> ListenEndpoint(const std::string& path);

}  // namespace kestrun
