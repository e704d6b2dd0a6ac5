#pragma once
// The outcome of a system call wrapper: a value, or the errno that stopped it.
// The link platform needs the bare number (it becomes the link's last error);
// callers that show it to a person turn it into words with PosixError.

#include <utility>

namespace kestrun {

template <typename T>
struct SysResult {
    T value{};
    int error = 0;  // 0 on success, otherwise an errno value

    bool ok() const { return error == 0; }
    static SysResult Success(T v) { return SysResult{std::move(v), 0}; }
    static SysResult Failure(int e) { return SysResult{T{}, e}; }
};

}  // namespace kestrun
