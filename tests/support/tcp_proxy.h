#pragma once
// A TCP relay on loopback for network tests: it forwards every connection
// made to it to a target port, each direction delayed by a set time (a
// distant machine), and can cut every connection it carries at once (a
// router that drops them). Two threads a connection, one each way.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <thread>

namespace kestrun::testing {

class TcpProxy {
  public:
    // Forwards 127.0.0.1:<port> to 127.0.0.1:`target_port`.
    TcpProxy(std::uint16_t target_port, std::chrono::milliseconds delay_each_way);
    ~TcpProxy();  // its threads and mutex make it neither copyable nor movable

    // "127.0.0.1:<port>".
    std::string address() const;
    // Resets every connection carried now; later ones are carried again.
    void CutAll();
    // Connections cut so far.
    int cut() const { return cut_; }

  private:
    void Carry(int client);
    void Pump(int from, int to);

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::uint16_t target_port_;
    std::chrono::milliseconds delay_;
    std::atomic<int> cut_{0};
    std::mutex mutex_;
    std::list<int> open_;  // both ends of every connection carried now
    std::list<std::thread> threads_;
    std::thread acceptor_;
};

// A non-blocking TCP connection from `source` (a loopback address such as
// 127.0.0.2) to 127.0.0.1:`port`, begun but perhaps not finished; -1 when
// no socket could be had.
int ConnectFrom(const std::string& source, std::uint16_t port);

}  // namespace kestrun::testing
