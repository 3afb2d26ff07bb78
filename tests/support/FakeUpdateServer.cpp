#include "FakeUpdateServer.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "base64.h"

// cpp-httplib hands handlers decoded, re-ordered parameters and keeps no raw request line,
// so a small front relays each connection to it and notes the target on the way. The
// front forwards the raw target in a header, and handlers see exactly what was sent.
namespace {

constexpr const char* kRawTargetHeader = "X-Fake-Raw-Target";
constexpr int kPollMs = 20;
constexpr size_t kMaxHead = 64 * 1024;

FakeUpdateServer::Parameters ParseQuery(const std::string& target) {
  FakeUpdateServer::Parameters parameters;
  size_t query = target.find('?');
  if (query == std::string::npos) return parameters;
  size_t start = query + 1;
  while (start < target.size()) {
    size_t end = target.find('&', start);
    if (end == std::string::npos) end = target.size();
    std::string pair = target.substr(start, end - start);
    size_t equals = pair.find('=');
    if (!pair.empty())
      parameters.emplace(pair.substr(0, equals),
                         equals == std::string::npos ? "" : pair.substr(equals + 1));
    start = end + 1;
  }
  return parameters;
}

bool SendAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t sent = send(fd, data, length, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

int ConnectLoopback(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
    return fd;
  if (fd >= 0) close(fd);
  return -1;
}

}  // namespace

class FakeUpdateServer::Impl {
 public:
  Impl() {
    server.set_keep_alive_max_count(1);
    server.Get("/cgi/u", [this](const httplib::Request& request, httplib::Response& response) {
      Respond(request, response);
    });
    int backend = server.bind_to_any_port("127.0.0.1");
    if (backend <= 0) throw std::runtime_error("fake update server: no backend port");
    backendPort = static_cast<uint16_t>(backend);
    serverThread = std::thread([this] { server.listen_after_bind(); });
    // stop() is ignored until the loop runs, so an early destruction would never join.
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    listenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listenFd < 0 || bind(listenFd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listenFd, 16) != 0 ||
        getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      Stop();
      throw std::runtime_error("fake update server: cannot listen");
    }
    frontPort = ntohs(address.sin_port);
    acceptThread = std::thread([this] { AcceptLoop(); });
  }

  ~Impl() { Stop(); }

  void Stop() {
    stopping = true;
    if (listenFd >= 0) shutdown(listenFd, SHUT_RDWR);
    if (acceptThread.joinable()) acceptThread.join();
    if (listenFd >= 0) close(listenFd);
    listenFd = -1;
    std::vector<std::thread> relays;
    {
      std::lock_guard<std::mutex> lock(mutex);
      relays.swap(connections);
    }
    for (std::thread& relay : relays) relay.join();
    server.stop();
    if (serverThread.joinable()) serverThread.join();
  }

  void SetHandler(const std::string& op, Handler handler) {
    std::lock_guard<std::mutex> lock(mutex);
    handlers[op] = std::move(handler);
  }

  std::vector<std::string> Targets() const {
    std::lock_guard<std::mutex> lock(mutex);
    return targets;
  }

  uint16_t frontPort = 0;

 private:
  void AcceptLoop() {
    while (!stopping) {
      pollfd waiting{listenFd, POLLIN, 0};
      if (poll(&waiting, 1, kPollMs) <= 0) continue;
      int client = accept(listenFd, nullptr, nullptr);
      if (client < 0) continue;
      std::lock_guard<std::mutex> lock(mutex);
      connections.emplace_back([this, client] { Relay(client); });
    }
  }

  // Waits for data on fd; false once the server stops.
  bool AwaitReadable(int fd) {
    while (!stopping) {
      pollfd waiting{fd, POLLIN, 0};
      if (poll(&waiting, 1, kPollMs) > 0) return true;
    }
    return false;
  }

  void Relay(int client) {
    std::string head;
    char buffer[16384];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHead &&
           AwaitReadable(client)) {
      ssize_t got = recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      head.append(buffer, static_cast<size_t>(got));
    }
    size_t lineEnd = head.find("\r\n");
    int backend = lineEnd == std::string::npos ? -1 : ConnectLoopback(backendPort);
    if (backend >= 0) {
      std::string line = head.substr(0, lineEnd);
      size_t first = line.find(' ');
      size_t last = line.rfind(' ');
      std::string target =
          first != std::string::npos && last > first ? line.substr(first + 1, last - first - 1)
                                                     : std::string();
      {
        std::lock_guard<std::mutex> lock(mutex);
        targets.push_back(target);
      }
      std::string extra = std::string("\r\nConnection: close\r\n") + kRawTargetHeader + ": " +
                          target;
      head.insert(lineEnd, extra);
      if (SendAll(backend, head.data(), head.size())) Pump(client, backend);
      close(backend);
    }
    close(client);
  }

  // Both ways until either side closes; the server closing first is how a cut-off answer
  // reaches the client.
  void Pump(int client, int backend) {
    char buffer[65536];
    while (!stopping) {
      pollfd ends[2] = {{client, POLLIN, 0}, {backend, POLLIN, 0}};
      if (poll(ends, 2, kPollMs) <= 0) continue;
      // A held answer is released by the stop itself; it must not reach the client then.
      if (stopping) return;
      for (int i = 0; i < 2; ++i) {
        if (ends[i].revents == 0) continue;
        ssize_t got = recv(ends[i].fd, buffer, sizeof buffer, 0);
        if (got <= 0 || !SendAll(ends[1 - i].fd, buffer, static_cast<size_t>(got))) return;
      }
    }
  }

  void Respond(const httplib::Request& request, httplib::Response& response) {
    std::string target = request.get_header_value(kRawTargetHeader);
    Parameters parameters = ParseQuery(target);
    Handler handler;
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto found = handlers.find(parameters["op"]);
      if (found != handlers.end()) handler = found->second;
    }
    Answer answer;
    if (handler) {
      answer = handler(parameters);
    } else if (parameters["op"] == "hi") {
      answer.body = "ok\n";
    } else {
      answer.status = 404;
      answer.body = "Not Found\n";
    }
    Hold(answer.delay_ms);

    response.status = answer.status;
    if (!answer.location.empty()) response.set_header("Location", answer.location);
    if (!answer.close_mid_body) {
      response.set_content(answer.body, "text/plain");
      return;
    }
    auto body = std::make_shared<std::string>(answer.body);
    response.set_content_provider(
        body->size(), "text/plain",
        [body](size_t offset, size_t, httplib::DataSink& sink) {
          size_t half = body->size() / 2;
          if (offset < half) sink.write(body->data() + offset, half - offset);
          return offset < half;  // false: abandon the connection with the rest unsent
        });
  }

  void Hold(int delay_ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay_ms);
    while (!stopping && (delay_ms == kHang || std::chrono::steady_clock::now() < until))
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }

  httplib::Server server;
  uint16_t backendPort = 0;
  std::thread serverThread;
  int listenFd = -1;
  std::thread acceptThread;
  std::atomic<bool> stopping{false};
  mutable std::mutex mutex;
  std::vector<std::thread> connections;
  std::map<std::string, Handler> handlers;
  std::vector<std::string> targets;
};

FakeUpdateServer::FakeUpdateServer() : impl(std::make_unique<Impl>()) {}
FakeUpdateServer::~FakeUpdateServer() = default;

uint16_t FakeUpdateServer::port() const { return impl->frontPort; }

std::string FakeUpdateServer::url() const {
  return "http://127.0.0.1:" + std::to_string(port()) + "/cgi/u";
}

void FakeUpdateServer::set_answer(const std::string& op, const Answer& answer) {
  impl->SetHandler(op, [answer](const Parameters&) { return answer; });
}

void FakeUpdateServer::set_handler(const std::string& op, Handler handler) {
  impl->SetHandler(op, std::move(handler));
}

FakeUpdateServer::Answer FakeUpdateServer::Lines(const std::vector<std::string>& lines) {
  Answer answer;
  for (const std::string& line : lines) answer.body += line + "\n";
  return answer;
}

void FakeUpdateServer::answer_current_build(uint32_t build, const std::string& fw) {
  set_answer("qu", Lines({"ok", std::to_string(build), fw}));
}

void FakeUpdateServer::answer_builds(
    const std::vector<std::pair<std::string, std::string>>& builds) {
  std::vector<std::string> lines = {"ok"};
  for (const auto& [build, version] : builds)
    lines.push_back(version.empty() ? build : build + ";" + version);
  set_answer("builds", Lines(lines));
}

FakeUpdateServer::Answer FakeUpdateServer::BirdAnswer(const std::vector<uint8_t>& file) {
  size_t length = 0;
  char* text = base64_encode(file.data(), file.size(), &length);
  if (text == nullptr) throw std::runtime_error("fake update server: out of memory");
  std::string encoded(text, length);
  free(text);
  return Lines({"ok", encoded});
}

void FakeUpdateServer::answer_bird(const std::vector<uint8_t>& file) {
  set_answer("bird", BirdAnswer(file));
}

void FakeUpdateServer::answer_recovery(uint32_t serialNumber, uint32_t build) {
  char serial[9];
  snprintf(serial, sizeof serial, "%08X", serialNumber);
  set_answer("fix", Lines({"ok", serial, std::to_string(build)}));
}

std::vector<std::string> FakeUpdateServer::requests() const { return impl->Targets(); }

std::vector<FakeUpdateServer::Parameters> FakeUpdateServer::requests_for(
    const std::string& op) const {
  std::vector<Parameters> found;
  for (const std::string& target : impl->Targets()) {
    Parameters parameters = ParseQuery(target);
    if (parameters["op"] == op) found.push_back(parameters);
  }
  return found;
}
