#include "relay/relay_key.h"

#include <fcntl.h>
#include <fmt/core.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "platform/posix/posix_error.h"
#include "platform/posix/unique_fd.h"

namespace kestrun {
namespace {

constexpr std::size_t kKeyDigits = kRelayKeySize * 2;
// The digits and a newline, as keygen writes them; editors and `printf`
// often leave the newline out, which is the same key.
constexpr std::size_t kKeyFileSize = kKeyDigits + 1;

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
    if (digits.size() != kKeyDigits && (digits.size() != kKeyFileSize || digits.back() != '\n')) {
        status =
            Status::Error(fmt::format("{} does not hold a key: expected {} hexadecimal digits, as "
                                      "kestrun-relay keygen writes",
                                      path, kKeyDigits));
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
    // One byte over and over (all zeros, say) is a placeholder or a typed
    // pattern, guessed at the first try: no random key looks like that.
    if (status.ok() && std::all_of(key.begin(), key.end(),
                                   [&key](unsigned char byte) { return byte == key[0]; })) {
        status = Status::Error(fmt::format(
            "{} holds one byte repeated, which anyone can guess; make a key with "
            "kestrun-relay keygen FILE and copy it to both machines",
            path));
    }
    if (!status.ok()) OPENSSL_cleanse(key.data(), key.size());
    OPENSSL_cleanse(text, sizeof text);
    return status;
}

}  // namespace kestrun
