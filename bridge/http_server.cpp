#include "bridge/http_server.h"

#include "bridge/page.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <list>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string_view>
#include <thread>
#include <utility>

namespace zenta::bridge {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Request = http::request<http::string_body>;

namespace {

constexpr std::string_view kBoundary = "zentaframe";
// The words a camera takes: the PTZ panel's.
constexpr std::array<std::string_view, 16> kCameraWords{
    "up",      "down",    "left",    "right",   "stop",    "zoomin",  "zoomout", "zoomstop",
    "preset1", "preset2", "preset3", "preset4", "preset5", "preset6", "preset7", "preset8"};

struct Client {
  tcp::socket socket;
  std::thread thread;
  std::atomic<bool> done{false};
  explicit Client(net::io_context& io) : socket(io) {}
};

// "/ch/12.jpg" with prefix "/ch/" and suffix ".jpg": 12; 0 for anything
// else, a number outside 1 to 16 included.
int channelIn(std::string_view target, std::string_view prefix, std::string_view suffix) {
  if (target.size() <= prefix.size() + suffix.size() || target.substr(0, prefix.size()) != prefix ||
      target.substr(target.size() - suffix.size()) != suffix) {
    return 0;
  }
  const std::string_view digits =
      target.substr(prefix.size(), target.size() - prefix.size() - suffix.size());
  if (digits.empty() || digits.size() > 2 || digits.front() == '0') return 0;
  int n = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n <= stream::kChannelCount ? n : 0;
}

std::string base64(std::string_view text) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < text.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(text[i])) << 16;
    if (i + 1 < text.size()) v |= uint32_t(uint8_t(text[i + 1])) << 8;
    if (i + 2 < text.size()) v |= uint8_t(text[i + 2]);
    out += kDigits[v >> 18 & 63];
    out += kDigits[v >> 12 & 63];
    out += i + 1 < text.size() ? kDigits[v >> 6 & 63] : '=';
    out += i + 2 < text.size() ? kDigits[v & 63] : '=';
  }
  return out;
}

// The recorder's stamp of a picture (days since 1899-12-30, its local time)
// to the microsecond, for clients that measure how late a picture is.
std::string stampText(double stamp) {
  char text[32];
  std::snprintf(text, sizeof text, "%.11f", stamp);
  return text;
}

// Compares all of both, so the time taken tells nothing of where they part.
bool sameText(std::string_view a, std::string_view b) {
  unsigned char differ = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i)
    differ |= uint8_t(i < a.size() ? a[i] : 0) ^ uint8_t(i < b.size() ? b[i] : 0);
  return differ == 0;
}

}  // namespace

struct HttpServer::State {
  Recorder& recorder;
  HttpSettings settings;
  net::io_context io;
  tcp::acceptor acceptor{io};
  std::thread acceptThread;
  std::mutex lock;
  std::list<std::unique_ptr<Client>> clients;  // under lock
  std::atomic<bool> stopping{false};

  State(Recorder& r, HttpSettings s) : recorder(r), settings(std::move(s)) {}

  void acceptLoop();
  void serve(Client& client);
  bool answer(tcp::socket& socket, const Request& request);
  // `extra`: one more header field (none when its value is empty).
  void reply(tcp::socket& socket, const Request& request, http::status status,
             std::string_view type, std::string body, bool keepAlive = true,
             std::pair<http::field, std::string> extra = {});
  bool picture(tcp::socket& socket, const Request& request, int number);
  bool stream(tcp::socket& socket, int number);
  bool steer(tcp::socket& socket, const Request& request, int number);
  void tiles(tcp::socket& socket, const Request& request);
  std::string channelsJson();
  // 404 for a channel the recorder does not have, 403 for one the login
  // may not view; nothing (true) when it may be shown.
  bool viewable(tcp::socket& socket, const Request& request, int number);
};

HttpServer::HttpServer(Recorder& recorder, HttpSettings settings)
    : state_(std::make_unique<State>(recorder, std::move(settings))) {}

HttpServer::~HttpServer() {
  stop();
}

bool HttpServer::start(std::string& error) {
  State& s = *state_;
  beast::error_code ec;
  const auto address = net::ip::make_address(s.settings.address, ec);
  if (ec) {
    error = "not an address: " + s.settings.address;
    return false;
  }
  const tcp::endpoint at(address, s.settings.port);
  s.acceptor.open(at.protocol(), ec);
  if (!ec) s.acceptor.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) s.acceptor.bind(at, ec);
  if (!ec) s.acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    error = "cannot listen on " + s.settings.address + ":" + std::to_string(s.settings.port) +
            ": " + ec.message();
    return false;
  }
  s.acceptThread = std::thread([&s] { s.acceptLoop(); });
  return true;
}

uint16_t HttpServer::port() const {
  beast::error_code ec;
  const auto at = state_->acceptor.local_endpoint(ec);
  return ec ? 0 : at.port();
}

void HttpServer::stop() {
  State& s = *state_;
  if (s.stopping.exchange(true)) return;
  // Shutting the sockets down wakes the threads blocked on them.
  if (s.acceptor.is_open()) ::shutdown(s.acceptor.native_handle(), SHUT_RDWR);
  if (s.acceptThread.joinable()) s.acceptThread.join();
  std::list<std::unique_ptr<Client>> clients;
  {
    std::lock_guard guard(s.lock);
    for (auto& c : s.clients)
      ::shutdown(c->socket.native_handle(), SHUT_RDWR);
    clients = std::move(s.clients);
  }
  for (auto& c : clients) {
    if (c->thread.joinable()) c->thread.join();
  }
  beast::error_code ec;
  s.acceptor.close(ec);
}

void HttpServer::State::acceptLoop() {
  while (!stopping) {
    auto client = std::make_unique<Client>(io);
    beast::error_code ec;
    acceptor.accept(client->socket, ec);
    if (stopping) return;
    if (ec) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    std::lock_guard guard(lock);
    // Threads whose clients have gone are joined here.
    for (auto it = clients.begin(); it != clients.end();) {
      if ((*it)->done) {
        (*it)->thread.join();
        it = clients.erase(it);
      } else {
        ++it;
      }
    }
    if (int(clients.size()) >= HttpServer::kMaxClients) {
      // Too many at once: this one is told so and let go.
      const std::string_view busy =
          "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      net::write(client->socket, net::buffer(busy), ec);
      continue;
    }
    Client& c = *client;
    clients.push_back(std::move(client));
    c.thread = std::thread([this, &c] {
      serve(c);
      beast::error_code ignored;
      c.socket.shutdown(tcp::socket::shutdown_both, ignored);
      c.done = true;
    });
  }
}

void HttpServer::State::serve(Client& client) {
  tcp::socket& socket = client.socket;
  // A client that takes nothing for a while is let go, so a reader that
  // never reads holds a thread for seconds, not for ever.
  timeval limit{settings.sendTimeoutSeconds, 0};
  ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  timeval idle{30, 0};
  ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
  beast::flat_buffer buffer(16384);
  while (!stopping) {
    http::request_parser<http::string_body> parser;
    parser.header_limit(8192);
    parser.body_limit(4096);
    beast::error_code ec;
    http::read(socket, buffer, parser, ec);
    if (ec == http::error::end_of_stream || ec == net::error::eof || stopping) return;
    if (ec == http::error::header_limit) {
      reply(socket, Request{}, http::status::request_header_fields_too_large, "text/plain",
            "headers too large\n", false);
      return;
    }
    if (ec == http::error::body_limit) {
      reply(socket, Request{}, http::status::payload_too_large, "text/plain", "body too large\n",
            false);
      return;
    }
    if (ec) {
      if (buffer.size() > 0 || parser.got_some())
        reply(socket, Request{}, http::status::bad_request, "text/plain", "bad request\n", false);
      return;
    }
    const Request& request = parser.get();
    if (!answer(socket, request) || !request.keep_alive()) return;
  }
}

void HttpServer::State::reply(tcp::socket& socket, const Request& request, http::status status,
                              std::string_view type, std::string body, bool keepAlive,
                              std::pair<http::field, std::string> extra) {
  http::response<http::string_body> response{status, 11};
  response.set(http::field::server, "zenta-bridge");
  response.set(http::field::content_type, beast::string_view(type.data(), type.size()));
  response.set(http::field::cache_control, "no-store");
  if (!extra.second.empty()) response.set(extra.first, extra.second);
  response.keep_alive(keepAlive && request.keep_alive());
  response.body() = std::move(body);
  response.prepare_payload();
  beast::error_code ec;
  http::write(socket, response, ec);
}

bool HttpServer::State::answer(tcp::socket& socket, const Request& request) {
  std::string_view target(request.target().data(), request.target().size());
  target = target.substr(0, target.find('?'));
  if (!settings.credentials.empty()) {
    const auto given = request.find(http::field::authorization);
    const std::string expected = "Basic " + base64(settings.credentials);
    if (given == request.end() ||
        !sameText(std::string_view(given->value().data(), given->value().size()), expected)) {
      reply(socket, request, http::status::unauthorized, "text/plain", "credentials needed\n", true,
            {http::field::www_authenticate, "Basic realm=\"zenta-bridge\", charset=\"UTF-8\""});
      return true;
    }
  }
  const bool get = request.method() == http::verb::get || request.method() == http::verb::head;
  const auto wrongMethod = [&](std::string_view allowed) {
    reply(socket, request, http::status::method_not_allowed, "text/plain", "method not allowed\n",
          true, {http::field::allow, std::string(allowed)});
    return true;
  };
  if (target == "/api/channels") {
    if (!get) return wrongMethod("GET");
    reply(socket, request, http::status::ok, "application/json", channelsJson() + "\n");
    return true;
  }
  if (target == "/" || target == "/index.html") {
    if (!get) return wrongMethod("GET");
    reply(socket, request, http::status::ok, "text/html; charset=utf-8", kPageHtml);
    return true;
  }
  if (target == "/ws") {
    if (!beast::websocket::is_upgrade(request)) {
      reply(socket, request, http::status::upgrade_required, "text/plain", "a WebSocket only\n");
      return true;
    }
    tiles(socket, request);
    return false;
  }
  if (const int n = channelIn(target, "/ch/", ".jpg"); n != 0) {
    if (!get) return wrongMethod("GET");
    return picture(socket, request, n);
  }
  if (const int n = channelIn(target, "/ch/", ".mjpg"); n != 0) {
    if (!get) return wrongMethod("GET");
    if (!viewable(socket, request, n)) return true;
    stream(socket, n);
    return false;
  }
  if (const int n = channelIn(target, "/api/ch/", "/ptz"); n != 0) {
    if (request.method() != http::verb::post) return wrongMethod("POST");
    return steer(socket, request, n);
  }
  reply(socket, request, http::status::not_found, "text/plain", "not found\n");
  return true;
}

std::string HttpServer::State::channelsJson() {
  nlohmann::json all = nlohmann::json::array();
  for (const ChannelFacts& f : recorder.channels()) {
    all.push_back({{"number", f.number},
                   {"name", f.name},
                   {"permission", f.ptz        ? "ptz"
                                  : f.viewable ? "view"
                                               : "none"},
                   {"width", f.width},
                   {"height", f.height},
                   {"pictures_per_second", f.picturesPerSecond},
                   {"state", statusName(f.status)}});
  }
  return all.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The page's one connection: every viewable channel's new pictures as
// binary messages (the channel's number, then the JPEG) and, every second,
// the channels as JSON text. Sixteen live tiles take one connection, not
// sixteen (a browser opens six at most to one server). A client slower
// than the pictures gets each channel's latest when it is ready.
void HttpServer::State::tiles(tcp::socket& socket, const Request& request) {
  beast::websocket::stream<tcp::socket&> ws(socket);
  beast::error_code ec;
  ws.accept(request, ec);
  if (ec) return;
  std::vector<std::unique_ptr<Recorder::Watch>> watching;
  for (const ChannelFacts& f : recorder.channels()) {
    if (f.status != ChannelStatus::Refused && f.status != ChannelStatus::Absent)
      watching.push_back(std::make_unique<Recorder::Watch>(recorder, f.number));
  }
  std::array<uint64_t, stream::kChannelCount> sent{};
  uint64_t seen = 0;
  auto nextFacts = std::chrono::steady_clock::now();
  std::vector<uint8_t> message;
  while (!ec && !stopping) {
    if (std::chrono::steady_clock::now() >= nextFacts) {
      ws.text(true);
      ws.write(net::buffer(channelsJson()), ec);
      nextFacts += std::chrono::seconds(1);
    }
    seen = recorder.waitForAnyPicture(seen, std::chrono::milliseconds(500));
    for (int n = 1; n <= stream::kChannelCount && !ec; ++n) {
      const auto p = recorder.pictureAfter(n, sent[size_t(n - 1)], std::chrono::milliseconds(0));
      if (!p) continue;
      sent[size_t(n - 1)] = p->serial;
      message.assign(1, uint8_t(n));
      message.insert(message.end(), p->jpeg.begin(), p->jpeg.end());
      ws.binary(true);
      ws.write(net::buffer(message), ec);
    }
  }
}

bool HttpServer::State::viewable(tcp::socket& socket, const Request& request, int number) {
  const ChannelFacts f = recorder.facts(number);
  if (f.status == ChannelStatus::Absent) {
    reply(socket, request, http::status::not_found, "text/plain", "no such channel\n");
    return false;
  }
  if (f.status == ChannelStatus::Refused) {
    reply(socket, request, http::status::forbidden, "text/plain", "this login may not view it\n");
    return false;
  }
  return true;
}

bool HttpServer::State::picture(tcp::socket& socket, const Request& request, int number) {
  if (!viewable(socket, request, number)) return true;
  Recorder::Watch watching(recorder, number);
  // A paused channel's last picture may be old: a fresh one is waited for.
  const auto old = recorder.pictureAfter(number, 0, std::chrono::milliseconds(0));
  auto fresh = recorder.pictureAfter(number, old ? old->serial : 0, std::chrono::seconds(5));
  if (!fresh) fresh = old;
  if (!fresh) {
    reply(socket, request, http::status::service_unavailable, "text/plain", "no picture\n");
    return true;
  }
  http::response<http::vector_body<uint8_t>> response{http::status::ok, 11};
  response.set(http::field::server, "zenta-bridge");
  response.set(http::field::content_type, "image/jpeg");
  response.set(http::field::cache_control, "no-store");
  response.keep_alive(request.keep_alive());
  response.body() = fresh->jpeg;
  response.prepare_payload();
  beast::error_code ec;
  http::write(socket, response, ec);
  return !ec;
}

// Every new picture of the channel as one part, until the client goes; a
// client slower than the pictures gets the latest one each time it is
// ready, never a queue.
bool HttpServer::State::stream(tcp::socket& socket, int number) {
  Recorder::Watch watching(recorder, number);
  const std::string head =
      "HTTP/1.1 200 OK\r\nServer: zenta-bridge\r\n"
      "Content-Type: multipart/x-mixed-replace; boundary=" +
      std::string(kBoundary) + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
  beast::error_code ec;
  net::write(socket, net::buffer(head), ec);
  uint64_t last = 0;
  while (!ec && !stopping) {
    const auto p = recorder.pictureAfter(number, last, std::chrono::seconds(1));
    if (!p) continue;
    last = p->serial;
    const std::string part =
        "--" + std::string(kBoundary) +
        "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(p->jpeg.size()) +
        "\r\nX-Recorder-Time: " + stampText(p->stamp) + "\r\n\r\n";
    const std::array<net::const_buffer, 3> pieces{net::buffer(part), net::buffer(p->jpeg),
                                                  net::buffer("\r\n", 2)};
    net::write(socket, pieces, ec);
  }
  return false;
}

bool HttpServer::State::steer(tcp::socket& socket, const Request& request, int number) {
  // A page of another site may not steer the cameras through a browser.
  const auto origin = request.find(http::field::origin);
  const auto host = request.find(http::field::host);
  if (origin != request.end() &&
      (host == request.end() || origin->value() != "http://" + std::string(host->value()))) {
    reply(socket, request, http::status::forbidden, "text/plain", "cross-origin request\n");
    return true;
  }
  std::string word = request.body();
  while (!word.empty() && (word.back() == '\n' || word.back() == '\r' || word.back() == ' '))
    word.pop_back();
  if (std::find(kCameraWords.begin(), kCameraWords.end(), word) == kCameraWords.end()) {
    reply(socket, request, http::status::bad_request, "text/plain", "unknown command word\n");
    return true;
  }
  if (!viewable(socket, request, number)) return true;
  if (!recorder.steer(number, word)) {
    reply(socket, request, http::status::forbidden, "text/plain",
          "this channel's camera may not be steered\n");
    return true;
  }
  reply(socket, request, http::status::no_content, "text/plain", "");
  return true;
}

}  // namespace zenta::bridge
