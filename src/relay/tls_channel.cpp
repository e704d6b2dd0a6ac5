#include "relay/tls_channel.h"

#include <openssl/err.h>
#include <poll.h>

#include <cstring>
#include <string_view>

namespace kestrun {
namespace {

// Both sides name the key the same way; the name is not secret.
constexpr std::string_view kKeyIdentity = "kestrun-relay";
// TLS_AES_256_GCM_SHA384, as TLS 1.3 numbers it.
constexpr unsigned char kCipherSuite[] = {0x13, 0x02};

std::string OpenSslError(std::string_view context) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return std::string(context);
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return std::string(context) + ": " + text;
}

const TlsContext& ContextOf(SSL* ssl) {
    return *static_cast<const TlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
}

// The key as a TLS 1.3 session to resume: that is how OpenSSL takes an
// external pre-shared key.
SSL_SESSION* KeySession(SSL* ssl) {
    const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl, kCipherSuite);
    if (cipher == nullptr) return nullptr;
    SSL_SESSION* session = SSL_SESSION_new();
    const RelayKey& key = ContextOf(ssl).key();
    if (session == nullptr || SSL_SESSION_set1_master_key(session, key.data(), key.size()) != 1 ||
        SSL_SESSION_set_cipher(session, cipher) != 1 ||
        SSL_SESSION_set_protocol_version(session, TLS1_3_VERSION) != 1) {
        SSL_SESSION_free(session);
        return nullptr;
    }
    return session;
}

int UseKey(SSL* ssl, const EVP_MD* digest, const unsigned char** identity,
           std::size_t* identity_length, SSL_SESSION** session) {
    SSL_SESSION* made = KeySession(ssl);
    if (made == nullptr) return 0;
    // A second call after a retry names the digest the server chose; a key
    // bound to another digest cannot be offered then.
    const EVP_MD* own = SSL_CIPHER_get_handshake_digest(SSL_SESSION_get0_cipher(made));
    if (digest != nullptr && (own == nullptr || EVP_MD_get_type(own) != EVP_MD_get_type(digest))) {
        SSL_SESSION_free(made);
        *session = nullptr;
        *identity = nullptr;
        *identity_length = 0;
        return 1;
    }
    *identity = reinterpret_cast<const unsigned char*>(kKeyIdentity.data());
    *identity_length = kKeyIdentity.size();
    *session = made;
    return 1;
}

int FindKey(SSL* ssl, const unsigned char* identity, std::size_t identity_length,
            SSL_SESSION** session) {
    *session = nullptr;
    // An unknown name is no key at all: the handshake then fails, since the
    // server has no certificate to fall back on.
    if (identity_length != kKeyIdentity.size() ||
        std::memcmp(identity, kKeyIdentity.data(), identity_length) != 0) {
        return 1;
    }
    *session = KeySession(ssl);
    return *session != nullptr ? 1 : 0;
}

}  // namespace

std::unique_ptr<TlsContext> TlsContext::Make(Role role, const RelayKey& key, std::string& error) {
    std::unique_ptr<TlsContext> made(new TlsContext(role, key));
    SSL_CTX* context =
        SSL_CTX_new(role == Role::kClient ? TLS_client_method() : TLS_server_method());
    if (context == nullptr) {
        error = OpenSslError("Cannot set up TLS");
        return nullptr;
    }
    made->context_ = context;
    SSL_CTX_set_app_data(context, made.get());
    // No tickets and no session cache: every connection proves the key
    // afresh, and there is no early data that could be replayed.
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_mode(context, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_ciphersuites(context, "TLS_AES_256_GCM_SHA384") != 1) {
        error = OpenSslError("Cannot restrict TLS to version 1.3 and AES-256-GCM");
        return nullptr;
    }
    if (role == Role::kClient) {
        // Any certificate fails: there is no trust store. A server without
        // the key that offers one is refused rather than believed.
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_psk_use_session_callback(context, UseKey);
    } else {
        SSL_CTX_set_num_tickets(context, 0);
        SSL_CTX_set_psk_find_session_callback(context, FindKey);
    }
    return made;
}

TlsContext::~TlsContext() {
    SSL_CTX_free(context_);
}

std::unique_ptr<TlsChannel> TlsChannel::Begin(const TlsContext& context, int fd,
                                              std::string& error) {
    SSL* ssl = SSL_new(context.get());
    if (ssl == nullptr || SSL_set_fd(ssl, fd) != 1) {
        SSL_free(ssl);
        error = OpenSslError("Cannot start TLS");
        return nullptr;
    }
    if (context.role() == TlsContext::Role::kClient) {
        SSL_set_connect_state(ssl);
    } else {
        SSL_set_accept_state(ssl);
    }
    return std::unique_ptr<TlsChannel>(new TlsChannel(ssl, fd));
}

TlsChannel::Progress TlsChannel::Continue(std::string& error) {
    ERR_clear_error();
    const int result = SSL_do_handshake(ssl_);
    if (result > 0) {
        if (ProvedKey(error)) return Progress::kDone;
        failed_ = true;
        return Progress::kFailed;
    }
    switch (SSL_get_error(ssl_, result)) {
        case SSL_ERROR_WANT_READ:
            return Progress::kWantRead;
        case SSL_ERROR_WANT_WRITE:
            return Progress::kWantWrite;
        default:
            failed_ = true;
            error = OpenSslError("The handshake failed (a wrong key, or not a kestrun-relay)");
            return Progress::kFailed;
    }
}

bool TlsChannel::ProvedKey(std::string& error) const {
    if (SSL_session_reused(ssl_) == 1) return true;
    error = "The peer did not prove the key";
    return false;
}

std::unique_ptr<TlsChannel> TlsChannel::Open(const TlsContext& context, int fd, Deadline deadline,
                                             std::string& error) {
    auto channel = Begin(context, fd, error);
    if (!channel) return nullptr;
    const int done = channel->Drive([&] { return SSL_do_handshake(channel->ssl_); }, deadline);
    if (done <= 0) {
        error = OpenSslError("The handshake failed (a wrong key, or not a kestrun-relay)");
        return nullptr;
    }
    if (!channel->ProvedKey(error)) return nullptr;
    return channel;
}

TlsChannel::~TlsChannel() {
    // A close notice when it can go at once; the caller closes the socket.
    if (!failed_) SSL_shutdown(ssl_);
    SSL_free(ssl_);
}

template <typename Operation>
int TlsChannel::Drive(Operation operation, Deadline deadline, bool* timed_out) {
    if (failed_) return -1;
    for (;;) {
        ERR_clear_error();
        const int result = operation();
        if (result > 0) return result;
        short events = 0;
        switch (SSL_get_error(ssl_, result)) {
            case SSL_ERROR_WANT_READ:
                events = POLLIN;
                break;
            case SSL_ERROR_WANT_WRITE:
                events = POLLOUT;
                break;
            default:
                failed_ = true;
                return -1;
        }
        if (!WaitForDescriptor(fd_, events, deadline)) {
            if (timed_out != nullptr) {
                *timed_out = true;
                return 0;
            }
            failed_ = true;
            return -1;
        }
    }
}

bool TlsChannel::Read(std::span<std::byte> out, Deadline deadline) {
    std::size_t got = 0;
    while (got < out.size()) {
        const int n = Drive(
            [&] { return SSL_read(ssl_, out.data() + got, static_cast<int>(out.size() - got)); },
            deadline);
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

int TlsChannel::ReadSome(std::span<std::byte> out, Deadline deadline) {
    bool timed_out = false;
    const int n = Drive([&] { return SSL_read(ssl_, out.data(), static_cast<int>(out.size())); },
                        deadline, &timed_out);
    if (timed_out) return 0;
    return n > 0 ? n : -1;
}

bool TlsChannel::Write(std::span<const std::byte> in, Deadline deadline) {
    std::size_t sent = 0;
    while (sent < in.size()) {
        const int n = Drive(
            [&] { return SSL_write(ssl_, in.data() + sent, static_cast<int>(in.size() - sent)); },
            deadline);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace kestrun
