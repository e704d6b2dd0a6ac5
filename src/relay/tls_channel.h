#pragma once
// The relay's encrypted channel: TLS 1.3 over TCP, authenticated both ways by
// the pre-shared key alone (no certificates), with TLS_AES_256_GCM_SHA384 and
// an ephemeral key exchange on top of the key, so that a key stolen later
// does not open recorded traffic. A peer that does not hold the key fails the
// handshake, before anything of it is read as a request.
//
// Calls block their thread up to a deadline over a non-blocking socket.

#include <openssl/ssl.h>

#include <cstddef>
#include <memory>
#include <span>
#include <string>

#include "relay/net_address.h"
#include "relay/relay_key.h"

namespace kestrun {

inline constexpr Deadline kNoDeadline = Deadline::max();

// The settings and key shared by every channel of one side. Thread-safe once
// made. Never moves, because OpenSSL's callbacks find the key through it.
class TlsContext {
  public:
    enum class Role { kClient, kServer };

    // nullptr, with `error` saying why, when OpenSSL refuses the settings.
    static std::unique_ptr<TlsContext> Make(Role role, const RelayKey& key, std::string& error);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* get() const { return context_; }
    Role role() const { return role_; }
    const RelayKey& key() const { return key_; }

  private:
    TlsContext(Role role, const RelayKey& key) : role_(role), key_(key) {}

    Role role_;
    RelayKey key_;
    SSL_CTX* context_ = nullptr;
};

// One authenticated connection over a socket the caller owns and keeps open
// for the channel's whole life.
class TlsChannel {
  public:
    // Runs the handshake on the connected socket `fd`; nullptr, with `error`
    // saying why, when it fails, times out, or the peer does not prove the
    // key.
    static std::unique_ptr<TlsChannel> Open(const TlsContext& context, int fd, Deadline deadline,
                                            std::string& error);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Exactly `out.size()` bytes; false when the peer closed, the
    // connection failed, the data did not authenticate or the deadline
    // passed. A failed channel stays failed.
    bool Read(std::span<std::byte> out, Deadline deadline);
    bool Write(std::span<const std::byte> in, Deadline deadline);

  private:
    TlsChannel(SSL* ssl, int fd) : ssl_(ssl), fd_(fd) {}
    // Runs `operation` until it makes progress; its result, or <= 0 when it
    // failed for good.
    template <typename Operation>
    int Drive(Operation operation, Deadline deadline);

    SSL* ssl_;
    int fd_;
    bool failed_ = false;
};

}  // namespace kestrun
