// A small HTTP/1.1 server on 127.0.0.1 for the Kp client's tests: it
// answers every request with one configured reply (or never answers, or
// pauses part-way through the body) and records the request targets it
// received.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tremora::testing {

class LocalHttpServer {
 public:
  struct Reply {
    int status = 200;
    std::string body{};
    /// Accept the request but send nothing until the server stops.
    bool never = false;
    /// Send the head and this many bytes of the body, then wait `pause`
    /// (or until the server stops) before sending the rest.
    std::size_t pause_after = std::string::npos;
    std::chrono::milliseconds pause{0};
    /// The target of a redirect (a Location header), when not empty.
    std::string location{};
  };

  explicit LocalHttpServer(Reply reply) : reply_(std::move(reply)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener_ < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("cannot listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }

  ~LocalHttpServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }

  /// "http://127.0.0.1:<port>"
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  /// The request targets received so far ("/app/json/?start=...").
  std::vector<std::string> targets() const {
    std::lock_guard lock(mutex_);
    return targets_;
  }

 private:
  bool readable(int fd, int millis) const {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, millis) > 0;
  }

  void serve() {
    while (!stop_) {
      if (!readable(listener_, 20)) continue;
      int client = ::accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      answer(client);
      ::close(client);
    }
  }

  std::string read_head(int client) const {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && !stop_ && readable(client, 2000)) {
      ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      head.append(buffer, std::size_t(n));
    }
    return head;
  }

  void answer(int client) {
    std::string head = read_head(client);
    std::size_t first_blank = head.find(' ');
    std::size_t second_blank = head.find(' ', first_blank + 1);
    if (first_blank != std::string::npos && second_blank != std::string::npos) {
      std::lock_guard lock(mutex_);
      targets_.push_back(head.substr(first_blank + 1, second_blank - first_blank - 1));
    }
    if (reply_.never) {
      while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      return;
    }
    std::string status_and_headers =
        "HTTP/1.1 " + std::to_string(reply_.status) +
        " Reply\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(reply_.body.size()) +
        "\r\nConnection: close\r\n";
    if (!reply_.location.empty()) status_and_headers += "Location: " + reply_.location + "\r\n";
    std::string out = status_and_headers + "\r\n" + reply_.body;
    std::size_t head_size = out.size() - reply_.body.size();
    std::size_t pause_at = reply_.pause_after == std::string::npos ? out.size() : head_size + reply_.pause_after;
    if (!send_all(client, std::string_view(out).substr(0, pause_at))) return;
    auto until = std::chrono::steady_clock::now() + reply_.pause;
    while (!stop_ && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    send_all(client, std::string_view(out).substr(pause_at));
  }

  static bool send_all(int client, std::string_view bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
      ssize_t n = ::send(client, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += std::size_t(n);
    }
    return true;
  }

  Reply reply_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> targets_;
  std::thread thread_;
};

}  // namespace tremora::testing
