#include "loopback_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>

namespace holwerk {
namespace {

#ifdef _WIN32
using NativeSocket = SOCKET;
constexpr int SendFlags = 0;
// Winsock counts the bytes of a send in int.
using SendLength = int;
void CloseSocket(NativeSocket socket) { closesocket(socket); }
void MakeNonBlocking(NativeSocket socket) {
    u_long on = 1;
    // FIONBIO is an unsigned bit pattern above LONG_MAX; ioctlsocket takes
    // it as long, which in C++20 keeps every bit.
    ioctlsocket(socket, static_cast<long>(FIONBIO), &on);
}
bool StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
#else
using NativeSocket = int;
// A client that went away must fail the send, not kill the test with SIGPIPE.
constexpr int SendFlags = MSG_NOSIGNAL;
using SendLength = std::size_t;
void CloseSocket(NativeSocket socket) { close(socket); }
void MakeNonBlocking(NativeSocket socket) {
    fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) | O_NONBLOCK);
}
bool StartSockets() { return true; }
#endif

NativeSocket ToNative(std::intptr_t socket) { return static_cast<NativeSocket>(socket); }

// Waits up to `milliseconds` for the socket to become readable (or writable).
bool Ready(NativeSocket socket, int milliseconds, bool forWriting = false) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return select(static_cast<int>(socket) + 1, forWriting ? nullptr : &set,
                  forWriting ? &set : nullptr, nullptr, &wait) > 0;
}

// A TCP socket bound to a free loopback port (listening with `backlog`
// unless it is negative), its address filled in; false when a step failed.
bool BindLoopback(NativeSocket& bound, sockaddr_in& address, int backlog) {
    if (!StartSockets()) return false;
    bound = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(bound, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (backlog >= 0 && listen(bound, backlog) != 0) ||
        getsockname(bound, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        CloseSocket(bound);
        return false;
    }
    return true;
}

// Sends everything unless the server stops first; a client that does not
// read must not keep the server from stopping.
bool SendAll(NativeSocket socket, const std::string& bytes, const std::atomic<bool>& stopping) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (!Ready(socket, 20, true)) {
            if (stopping) return false;
            continue;
        }
        // At most 64 KiB a call, a length that every SendLength holds.
        const std::size_t length = std::min<std::size_t>(bytes.size() - sent, 65536);
        const auto result =
            send(socket, bytes.data() + sent, static_cast<SendLength>(length), SendFlags);
        if (result <= 0) return false;
        sent += static_cast<std::size_t>(result);
    }
    return true;
}

// True when the client closed its end (a read returns end of data or fails).
bool ClientGone(NativeSocket socket) {
    if (!Ready(socket, 0)) return false;
    char byte;
    return recv(socket, &byte, 1, 0) <= 0;
}

}  // namespace

LoopbackServer::LoopbackServer(std::vector<ServerStep> script) : script_(std::move(script)) {
    NativeSocket listener;
    sockaddr_in address;
    if (!BindLoopback(listener, address, 16)) return;
    listener_ = static_cast<std::intptr_t>(listener);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    for (std::thread& connection : connections_) connection.join();
    if (listener_ != -1) CloseSocket(ToNative(listener_));
}

void LoopbackServer::AcceptLoop() {
    const NativeSocket listener = ToNative(listener_);
    while (!stopping_) {
        if (!Ready(listener, 20)) continue;
        const NativeSocket client = accept(listener, nullptr, nullptr);
        if (client == static_cast<NativeSocket>(-1)) continue;
        connections_.emplace_back([this, client] { Serve(static_cast<std::intptr_t>(client)); });
    }
}

void LoopbackServer::Serve(std::intptr_t handle) {
    const NativeSocket client = ToNative(handle);
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && !stopping_) {
        if (!Ready(client, 20)) continue;
        const auto received = recv(client, buffer, sizeof buffer, 0);
        if (received <= 0) break;
        head.append(buffer, static_cast<std::size_t>(received));
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::size_t end = head.find("\r\n\r\n");
        requestHeads_.push_back(end == std::string::npos ? head : head.substr(0, end + 2));
    }
    changed_.notify_all();

    bool reset = false;
    bool left = false;
    for (const ServerStep& step : script_) {
        if (stopping_ || left) break;
        switch (step.kind) {
            case ServerStep::Kind::Send:
                left = !SendAll(client, step.bytes, stopping_) && !stopping_;
                break;
            case ServerStep::Kind::Pause: {
                const auto until =
                    std::chrono::steady_clock::now() + std::chrono::milliseconds(step.milliseconds);
                while (!stopping_ && std::chrono::steady_clock::now() < until) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                break;
            }
            case ServerStep::Kind::Stall:
                while (!stopping_ && !left) {
                    left = ClientGone(client);
                    if (!left) std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                break;
            case ServerStep::Kind::Endless:
                while (!stopping_ && !left) {
                    left = (!SendAll(client, step.bytes, stopping_) && !stopping_) ||
                           ClientGone(client);
                }
                break;
            case ServerStep::Kind::Reset:
                reset = true;
                break;
        }
    }
    if (left) {
        std::lock_guard<std::mutex> lock(mutex_);
        clientLeft_ = true;
    }
    changed_.notify_all();
    if (reset) {
        linger abort{};
        abort.l_onoff = 1;
        abort.l_linger = 0;
        setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                   sizeof abort);
    } else {
#ifdef _WIN32
        shutdown(client, SD_SEND);
#else
        shutdown(client, SHUT_WR);
#endif
        // Give the client time to read everything before the socket goes.
        for (int i = 0; i < 50 && !stopping_ && !ClientGone(client); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    CloseSocket(client);
}

std::string LoopbackServer::FirstRequestHead() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5), [this] { return !requestHeads_.empty(); });
    return requestHeads_.empty() ? std::string() : requestHeads_.front();
}

bool LoopbackServer::WaitForClientToLeave(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return clientLeft_; });
}

std::uint16_t UnusedLoopbackPort() {
    NativeSocket probe;
    sockaddr_in address;
    if (!BindLoopback(probe, address, -1)) return 0;
    // Bound but never listening: a connection attempt is refused.
    CloseSocket(probe);
    return ntohs(address.sin_port);
}

HangingListener::HangingListener() {
    NativeSocket listener;
    sockaddr_in address;
    if (!BindLoopback(listener, address, 0)) return;
    listener_ = static_cast<std::intptr_t>(listener);
    // Connections nobody accepts fill the queue.
    for (int i = 0; i < 3; ++i) {
        const NativeSocket filler = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        MakeNonBlocking(filler);
        connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers_.push_back(static_cast<std::intptr_t>(filler));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    port_ = ntohs(address.sin_port);
}

HangingListener::~HangingListener() {
    for (const std::intptr_t filler : fillers_) CloseSocket(ToNative(filler));
    if (listener_ != -1) CloseSocket(ToNative(listener_));
}

}  // namespace holwerk
