// kestrun-relay: the recorder on another machine. `serve` runs beside the
// simulator's host, `client` on the recorder's machine, `keygen` makes the
// key both need.

#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <array>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "cli/exit_status.h"
#include "cli/program_command_line.h"
#include "host/event_loop.h"
#include "host/host_server.h"
#include "relay/net_address.h"
#include "relay/relay_client.h"
#include "relay/relay_key.h"
#include "relay/relay_server.h"
#include "relay/tls_channel.h"
#include "text/terminal_text.h"
#include "platform/posix/runtime_directory.h"
#include "protocol/frame.h"

namespace kestrun {
namespace {

constexpr std::array<ExitStatusMeaning, 3> kExitStatuses{{
    {kExitOk, "stopped by Ctrl-C or SIGTERM, or the key was written"},
    {kExitFailed,
     "could not start, for example a key file that is not a regular file of the user's or "
     "that group or others may read or write"},
    {kExitUsage, "usage: a refused option or value"},
}};

void Say(std::string_view line) {
    fmt::print("kestrun-relay: {}\n", TerminalSafe(line));
    std::fflush(stdout);
}

int Fail(std::string_view line) {
    fmt::print(stderr, "kestrun-relay: {}\n", TerminalSafe(line));
    return kExitFailed;
}

// The key and the loop both commands share; nullptr after saying why.
std::unique_ptr<TlsContext> Prepare(const std::string& key_path, TlsContext::Role role,
                                    EventLoop& loop) {
    RelayKey key{};
    if (Status status = ReadKey(key_path, key); !status.ok()) {
        Fail(status.message());
        return nullptr;
    }
    std::string error;
    auto context = TlsContext::Make(role, key, error);
    if (!context) {
        Fail(error);
        return nullptr;
    }
    if (Status status = loop.StopOnSignals({SIGINT, SIGTERM}); !status.ok()) {
        Fail(status.message());
        return nullptr;
    }
    // Every send on a socket says MSG_NOSIGNAL or goes through TLS, which
    // does not: a peer gone mid-write must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    return context;
}

int Serve(const std::string& listen_text, const std::string& key_path) {
    NetAddress address;
    if (Status status = ParseNetAddress(listen_text, address, true); !status.ok()) {
        fmt::print(stderr, "kestrun-relay: {}\n", TerminalSafe(status.message()));
        return kExitUsage;
    }
    EventLoop loop;
    const auto context = Prepare(key_path, TlsContext::Role::kServer, loop);
    if (!context) return kExitFailed;
    RelayServer server(loop, *context, RelayServerLimits{}, Say);
    std::string bound;
    if (Status status = server.Listen(address, bound); !status.ok()) return Fail(status.message());
    Say(fmt::format("serving the local host on {}", bound));
    if (Status status = loop.Run(); !status.ok()) return Fail(status.message());
    Say("stopped");
    return kExitOk;
}

int Client(const std::string& server_text, const std::string& key_path) {
    NetAddress server_address;
    if (Status status = ParseNetAddress(server_text, server_address); !status.ok()) {
        fmt::print(stderr, "kestrun-relay: {}\n", TerminalSafe(status.message()));
        return kExitUsage;
    }
    std::string runtime;
    if (Status status = PrepareRuntimeDirectory(runtime); !status.ok()) {
        return Fail(status.message());
    }
    EventLoop loop;
    const auto context = Prepare(key_path, TlsContext::Role::kClient, loop);
    if (!context) return kExitFailed;
    RelayClient client(*context, server_address, Say);
    client.Tick();
    HostServer endpoint(
        loop,
        [&client](std::span<std::byte> block, std::size_t& used) {
            return client.Exchange(block, used);
        },
        runtime, Say);
    if (Status status = endpoint.Listen(kSimulatorWindowClass); !status.ok()) {
        return Fail(status.message());
    }
    if (Status status =
            loop.AddTimer(std::chrono::milliseconds(250), [&](double) { client.Tick(); });
        !status.ok()) {
        return Fail(status.message());
    }
    Say(fmt::format("listening on {} for {}", endpoint.endpoints().front(), server_address.text));
    if (Status status = loop.Run(); !status.ok()) return Fail(status.message());
    Say("stopped");
    return kExitOk;
}

int Run(int argc, char** argv) {
    CLI::App app{
        "Carries the recorder's requests to a simulator host on another machine, "
        "authenticated and encrypted with a shared key.",
        "kestrun-relay"};
    PrepareCommandLine(app, kExitStatuses);
    app.require_subcommand(1);
    std::string key_path;
    std::string listen_text(kDefaultListenAddress);
    std::string server_text;

    CLI::App* serve = app.add_subcommand("serve", "On the simulator's machine: serve its host");
    serve
        ->add_option("--listen", listen_text,
                     fmt::format("Address and port to listen on (default {}, this machine only)",
                                 kDefaultListenAddress))
        ->option_text("ADDRESS:PORT");
    serve->add_option("--key", key_path, "The key file made by keygen")
        ->required()
        ->option_text("FILE");

    CLI::App* client = app.add_subcommand(
        "client", "On the recorder's machine: offer the server's host to local recorders");
    client->add_option("--server", server_text, "The server's address and port")
        ->required()
        ->option_text("ADDRESS:PORT");
    client->add_option("--key", key_path, "The key file made by keygen")
        ->required()
        ->option_text("FILE");

    CLI::App* keygen = app.add_subcommand("keygen", "Write a new key, readable by you only");
    keygen->add_option("FILE", key_path, "Where to write it (must not exist)")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return CommandLineExit(app, error);
    }
    if (serve->parsed()) return Serve(listen_text, key_path);
    if (client->parsed()) return Client(server_text, key_path);
    if (Status status = WriteNewKey(key_path); !status.ok()) return Fail(status.message());
    Say(fmt::format("wrote a new key to {}; copy it to the other machine and keep it private",
                    key_path));
    return kExitOk;
}

}  // namespace
}  // namespace kestrun

int main(int argc, char** argv) {
    return kestrun::Run(argc, argv);
}
