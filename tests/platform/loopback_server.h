#pragma once

// A scripted HTTP server on 127.0.0.1 for the client contract tests: every
// connection gets the same raw response, step by step, so that a test can
// make the server misbehave on purpose (cut a body short, stall, never stop
// sending). Winsock and POSIX sockets are hidden behind it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace holwerk {

/// One step of the scripted response.
struct ServerStep {
    enum class Kind { Send, Pause, Stall, Endless, Reset };
    Kind kind = Kind::Send;
    std::string bytes;     // Send: sent once; Endless: sent again and again
    int milliseconds = 0;  // Pause

    /// Sends the bytes.
    static ServerStep Send(std::string bytes) { return {Kind::Send, std::move(bytes), 0}; }
    /// Waits before the next step.
    static ServerStep Pause(int milliseconds) { return {Kind::Pause, {}, milliseconds}; }
    /// Keeps the connection open without sending until the client leaves.
    static ServerStep Stall() { return {Kind::Stall, {}, 0}; }
    /// Sends the bytes over and over until the client leaves.
    static ServerStep Endless(std::string bytes) { return {Kind::Endless, std::move(bytes), 0}; }
    /// Ends the connection with a TCP reset instead of a clean close.
    static ServerStep Reset() { return {Kind::Reset, {}, 0}; }
};

/// Serves the script on a free loopback port until destroyed.
class LoopbackServer {
  public:
    explicit LoopbackServer(std::vector<ServerStep> script);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    /// The port the server listens on; 0 when it could not start.
    std::uint16_t Port() const { return port_; }

    /// The request head (request line and header lines, up to the empty
    /// line) of the first connection; waits briefly for it to arrive.
    std::string FirstRequestHead();

    /// Waits until a Stall or Endless step has seen the client go away;
    /// false when that did not happen within the limit.
    bool WaitForClientToLeave(std::chrono::milliseconds limit);

  private:
    void AcceptLoop();
    void Serve(std::intptr_t socket);

    std::vector<ServerStep> script_;
    std::intptr_t listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::vector<std::thread> connections_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> requestHeads_;
    bool clientLeft_ = false;
};

/// A loopback port on which nothing listens: connecting to it is refused.
std::uint16_t UnusedLoopbackPort();

/// A loopback listener whose queue is full, so that a new connection hangs
/// in its handshake (Linux drops the SYN instead of refusing it).
class HangingListener {
  public:
    HangingListener();
    ~HangingListener();
    HangingListener(const HangingListener&) = delete;
    HangingListener& operator=(const HangingListener&) = delete;

    /// The port whose connections never complete; 0 when setting up failed.
    std::uint16_t Port() const { return port_; }

  private:
    std::intptr_t listener_ = -1;
    std::vector<std::intptr_t> fillers_;
    std::uint16_t port_ = 0;
};

}  // namespace holwerk
