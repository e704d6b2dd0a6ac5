#pragma once
// The relay's encrypted channel: TLS 1.3 over TCP, authenticated both ways by
// the pre-shared key alone (no certificates), with TLS_AES_256_GCM_SHA384 and
// an ephemeral key exchange on top of the key, so that a key stolen later
// does not open recorded traffic. A peer that does not hold the key fails the
// handshake, before anything of it is read as a request.
//
// Calls block their thread up to a deadline over a non-blocking socket; a
// server's handshake can also be driven a step at a time from an event loop.

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

    // The same handshake, without waiting: Begin makes the channel, each
    // Continue goes as far as the bytes at hand allow and says what it waits
    // for. The channel is usable once Continue said kDone.
    enum class Progress { kDone, kWantRead, kWantWrite, kFailed };
    static std::unique_ptr<TlsChannel> Begin(const TlsContext& context, int fd,
                                             std::string& error);
    Progress Continue(std::string& error);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Exactly `out.size()` bytes; false when the peer closed, the
    // connection failed, the data did not authenticate or the deadline
    // passed. A failed channel stays failed.
    bool Read(std::span<std::byte> out, Deadline deadline);
    bool Write(std::span<const std::byte> in, Deadline deadline);
    // Up to `out.size()` bytes, as soon as some are there: how many, 0 when
    // the deadline passed first (the channel stays usable), -1 when it
    // failed as Read fails.
    int ReadSome(std::span<std::byte> out, Deadline deadline);

  private:
    TlsChannel(SSL* ssl, int fd) : ssl_(ssl), fd_(fd) {}
    // Runs `operation` until it makes progress; its result, or <= 0 when it
    // failed for good, or 0 with `timed_out` set when the deadline passed
    // and the caller takes a time-out as no failure.
    template <typename Operation>
    int Drive(Operation operation, Deadline deadline, bool* timed_out = nullptr);
    // After the handshake: the key must be what authenticated the peer.
    bool ProvedKey(std::string& error) const;

    SSL* ssl_;
    int fd_;
    bool failed_ = false;
};

}  // namespace kestrun
