#include "relay/relay_key.h"

#include <fcntl.h>
#include <fmt/core.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/posix/posix_error.h"
#include "platform/posix/unique_fd.h"

namespace kestrun {
namespace {

constexpr std::size_t kKeyFileSize = kRelayKeySize * 2 + 1;  // hex digits and '\n'

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Status WriteNewKey(const std::string& path) {
    RelayKey key{};
    if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1) {
        return Status::Error("Cannot draw a random key");
    }
    std::string text;
    for (unsigned char byte : key) text += fmt::format("{:02x}", byte);
    text += '\n';
    OPENSSL_cleanse(key.data(), key.size());

    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        const int error = errno;
        OPENSSL_cleanse(text.data(), text.size());
        if (error == EEXIST)
            return Status::Error(fmt::format("{} already exists; keeping it", path));
        return PosixError(fmt::format("Cannot create {}", path), error);
    }
    // Whatever the umask allowed, the key is its owner's alone.
    bool written =
        ::fchmod(fd.get(), 0600) == 0 &&
        ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
        ::fsync(fd.get()) == 0;
    const int error = errno;
    OPENSSL_cleanse(text.data(), text.size());
    if (!written) {
        ::unlink(path.c_str());
        return PosixError(fmt::format("Cannot write {}", path), error);
    }
    return Status::Ok();
}

Status ReadKey(const std::string& path, RelayKey& key) {
    // Non-blocking, so that a FIFO put in its place cannot hang us.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return PosixError(fmt::format("Cannot open the key {}", path), errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return PosixError(fmt::format("Cannot examine the key {}", path), errno);
    }
    if (!S_ISREG(info.st_mode)) return Status::Error(fmt::format("{} is not a file", path));
    if (info.st_uid != ::geteuid()) {
        return Status::Error(
            fmt::format("The key {} belongs to user {}, not to you", path, info.st_uid));
    }
    if ((info.st_mode & 077) != 0) {
        return Status::Error(
            fmt::format("The key {} is open to group or others (mode {:04o}); run chmod 600 {}",
                        path, info.st_mode & 07777, path));
    }
    char text[kKeyFileSize + 1];
    const ssize_t n = ::read(fd.get(), text, sizeof text);
    const std::string_view digits(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    Status status = Status::Ok();
    if (digits.size() != kKeyFileSize || digits.back() != '\n') {
        status =
            Status::Error(fmt::format("{} does not hold a key: expected {} hexadecimal digits, as "
                                      "kestrun-relay keygen writes",
                                      path, kRelayKeySize * 2));
    }
    for (std::size_t i = 0; status.ok() && i < kRelayKeySize; ++i) {
        const int high = HexValue(digits[2 * i]);
        const int low = HexValue(digits[2 * i + 1]);
        if (high < 0 || low < 0) {
            status = Status::Error(
                fmt::format("{} holds something other than hexadecimal digits", path));
        } else {
            key[i] = static_cast<unsigned char>(high * 16 + low);
        }
    }
    OPENSSL_cleanse(text, sizeof text);
    return status;
}

}  // namespace kestrun
