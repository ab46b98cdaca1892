#include "bridge/http_server.h"

#include "bridge/page.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <cctype>
#include <cstring>
#include <ctime>
#include <deque>
#include <list>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <utility>

#include "stream/protocol.h"

namespace zenta::bridge {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Request = http::request<http::string_body>;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::string_view kBoundary = "zentaframe";

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

// One client connection: its own I/O context (the page's WebSocket runs
// asynchronous operations on it), and the times the watchdog enforces.
struct Client {
  net::io_context io;
  tcp::socket socket{io};
  std::thread thread;
  std::atomic<bool> done{false};
  // Past this (ms on the steady clock) the watchdog shuts the socket
  // down, which ends the operation under way; 0: no limit.
  std::atomic<int64_t> deadline{0};
  // Since when it waits for a request (0: busy), for making room.
  std::atomic<int64_t> idleSince{0};
  std::atomic<bool> evicted{false};
};

// A limit on the operations between its making and its end.
class Deadline {
 public:
  Deadline(Client& client, int seconds) : client_(client) {
    client_.deadline = nowMs() + int64_t(seconds) * 1000;
  }
  ~Deadline() { client_.deadline = 0; }
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

 private:
  Client& client_;
};

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view fieldOf(const Request& request, http::field field) {
  const auto it = request.find(field);
  if (it == request.end()) return {};
  return {it->value().data(), it->value().size()};
}

// The host of a Host header's value ("name:port", "[::1]:port"), lower
// case, without a trailing dot; empty when it is malformed.
std::string hostPart(std::string_view value) {
  if (value.empty()) return {};
  std::string_view host = value;
  if (host.front() == '[') {
    const size_t close = host.find(']');
    if (close == std::string_view::npos) return {};
    const std::string_view rest = host.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return {};
    host = host.substr(1, close - 1);
  } else if (const size_t colon = host.rfind(':'); colon != std::string_view::npos) {
    if (host.find(':') != colon) return {};  // an IPv6 address needs brackets
    for (const char c : host.substr(colon + 1))
      if (c < '0' || c > '9') return {};
    host = host.substr(0, colon);
  }
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  return lower(host);
}

bool ipLiteral(const std::string& host) {
  beast::error_code ec;
  net::ip::make_address(host, ec);
  return !ec;
}

// An HTTP date (RFC 9110) of a moment on the system clock.
std::string httpDate(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[40];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  return text;
}

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

std::string originOf(std::string_view url) {
  const std::string text = lower(url);
  const size_t scheme = text.find("://");
  if (scheme == std::string::npos) return {};
  const std::string name = text.substr(0, scheme);
  if (name != "http" && name != "https") return {};
  const size_t end = text.find_first_of("/?#", scheme + 3);
  std::string origin = text.substr(0, end);
  if (origin.size() == scheme + 3 || origin.find('@') != std::string::npos) return {};
  return origin;
}

struct HttpServer::State {
  Recorder& recorder;
  HttpSettings settings;
  net::io_context io;
  tcp::acceptor acceptor{io};
  std::thread acceptThread;
  std::thread watchdog;
  std::mutex lock;
  std::condition_variable wake;
  std::list<std::unique_ptr<Client>> clients;  // under lock
  std::atomic<bool> stopping{false};
  std::atomic<int> streams{0};
  std::atomic<uint16_t> rtspPort{0};
  // The names a request's Host may give, and the origins besides the
  // request's own host that may open the WebSocket and steer.
  std::set<std::string> hosts;
  bool anyAddress = false;  // listening on every address: any IP literal too
  std::set<std::string> origins;

  State(Recorder& r, HttpSettings s) : recorder(r), settings(std::move(s)) {
    hosts = {"localhost", "127.0.0.1", "::1"};
    beast::error_code ec;
    const auto address = net::ip::make_address(settings.address, ec);
    anyAddress = !ec && address.is_unspecified();
    if (!anyAddress) hosts.insert(lower(settings.address));
    if (anyAddress) {
      char name[256] = {};
      if (gethostname(name, sizeof name - 1) == 0 && name[0] != 0) {
        hosts.insert(lower(name));
        hosts.insert(lower(name) + ".local");
      }
    }
    for (const std::string& url : settings.publicOrigins) {
      const std::string origin = originOf(url);
      if (origin.empty()) continue;
      origins.insert(origin);
      hosts.insert(hostPart(origin.substr(origin.find("://") + 3)));
    }
  }

  void acceptLoop();
  void watchLoop();
  void serve(Client& client);
  bool answer(Client& client, const Request& request);
  bool hostAllowed(const Request& request) const;
  bool originAllowed(const Request& request) const;
  bool authorised(const Request& request) const;
  // `extra`: more header fields.
  void reply(Client& client, const Request& request, http::status status, std::string_view type,
             std::string body, std::vector<std::pair<http::field, std::string>> extra = {});
  bool picture(Client& client, const Request& request, int number);
  void stream(Client& client, const Request& request, int number);
  void tiles(Client& client, const Request& request, bool codedPage);
  bool steer(Client& client, const Request& request, int number);
  // The channels as the reports' schema has them; URLs for the host the
  // request named.
  std::string channelsJson(const Request& request);
  // 404 for a channel the recorder does not have, 403 for one the login
  // may not view; nothing (true) when it may be shown.
  bool viewable(Client& client, const Request& request, int number);
  // A streaming client takes one of kMaxStreams places, or is answered 503.
  bool takeStreamPlace(Client& client, const Request& request);
  static bool peerGone(Client& client);
};

// The headers a picture carries: when the bridge got it and the
// recorder's own stamp, so no client takes an old picture for a new one.
static std::vector<std::pair<http::field, std::string>> pictureHeaders(const Picture& p) {
  const auto age = Clock::now() - p.read;
  const auto when = std::chrono::system_clock::now() -
                    std::chrono::duration_cast<std::chrono::system_clock::duration>(age);
  return {{http::field::last_modified, httpDate(when)}};
}

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
  s.watchdog = std::thread([&s] { s.watchLoop(); });
  return true;
}

void HttpServer::setRtspPort(uint16_t port) {
  state_->rtspPort = port;
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
  s.wake.notify_all();
  if (s.watchdog.joinable()) s.watchdog.join();
  for (auto& c : clients) {
    if (c->thread.joinable()) c->thread.join();
  }
  beast::error_code ec;
  s.acceptor.close(ec);
}

// Four times a second: every client past its deadline has its socket shut
// down, which ends the read or write it is blocked in.
void HttpServer::State::watchLoop() {
  std::unique_lock guard(lock);
  while (!stopping) {
    wake.wait_for(guard, std::chrono::milliseconds(250));
    const int64_t now = nowMs();
    for (auto& c : clients) {
      const int64_t due = c->deadline;
      if (due != 0 && now >= due && !c->done) ::shutdown(c->socket.native_handle(), SHUT_RDWR);
    }
  }
}

void HttpServer::State::acceptLoop() {
  while (!stopping) {
    auto client = std::make_unique<Client>();
    beast::error_code ec;
    acceptor.accept(client->socket, ec);
    if (stopping) return;
    if (ec) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    std::lock_guard guard(lock);
    // Threads whose clients have gone are joined here.
    int busy = 0;
    Client* longestIdle = nullptr;
    for (auto it = clients.begin(); it != clients.end();) {
      Client& c = **it;
      if (c.done) {
        c.thread.join();
        it = clients.erase(it);
        continue;
      }
      if (!c.evicted) {
        ++busy;
        const int64_t idle = c.idleSince;
        if (idle != 0 && (longestIdle == nullptr || idle < longestIdle->idleSince))
          longestIdle = &c;
      }
      ++it;
    }
    if (busy >= HttpServer::kMaxClients) {
      if (longestIdle != nullptr) {
        // Room is made by letting go of the connection that has waited
        // longest for a request: idle keep-alive connections and clients
        // that send their request a byte at a time cannot lock others out.
        longestIdle->evicted = true;
        ::shutdown(longestIdle->socket.native_handle(), SHUT_RDWR);
      } else {
        const std::string_view full =
            "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nRetry-After: 5\r\n"
            "Connection: close\r\n\r\n";
        ::send(client->socket.native_handle(), full.data(), full.size(),
               MSG_NOSIGNAL | MSG_DONTWAIT);
        continue;
      }
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
  beast::flat_buffer buffer(16384);
  while (!stopping && !client.evicted) {
    http::request_parser<http::string_body> parser;
    parser.header_limit(8192);
    parser.body_limit(4096);
    beast::error_code ec;
    {
      // The whole request within the limit: a client sending a byte now
      // and then does not hold its place for ever.
      client.idleSince = nowMs();
      Deadline limit(client, settings.idleSeconds);
      http::read(client.socket, buffer, parser, ec);
      client.idleSince = 0;
    }
    if (ec == http::error::end_of_stream || ec == net::error::eof || stopping || client.evicted)
      return;
    if (ec == http::error::header_limit) {
      reply(client, Request{}, http::status::request_header_fields_too_large, "text/plain",
            "headers too large\n", {{http::field::connection, "close"}});
      return;
    }
    if (ec == http::error::body_limit) {
      reply(client, Request{}, http::status::payload_too_large, "text/plain", "body too large\n",
            {{http::field::connection, "close"}});
      return;
    }
    if (ec) {
      if (buffer.size() > 0 || parser.got_some())
        reply(client, Request{}, http::status::bad_request, "text/plain", "bad request\n",
              {{http::field::connection, "close"}});
      return;
    }
    const Request& request = parser.get();
    if (!answer(client, request) || !request.keep_alive()) return;
  }
}

void HttpServer::State::reply(Client& client, const Request& request, http::status status,
                              std::string_view type, std::string body,
                              std::vector<std::pair<http::field, std::string>> extra) {
  http::response<http::string_body> response{status, 11};
  response.set(http::field::server, "zenta-bridge");
  if (status != http::status::no_content)
    response.set(http::field::content_type, beast::string_view(type.data(), type.size()));
  response.set(http::field::cache_control, "no-store");
  bool close = !request.keep_alive();
  for (auto& [field, value] : extra) {
    if (field == http::field::connection && value == "close") close = true;
    response.set(field, value);
  }
  response.keep_alive(!close);
  const size_t length = body.size();
  if (status != http::status::no_content) {
    response.body() = std::move(body);
    response.prepare_payload();
  }
  Deadline limit(client, settings.sendTimeoutSeconds);
  beast::error_code ec;
  if (request.method() == http::verb::head) {
    // The fields a GET would get, without its body.
    response.content_length(length);
    http::response_serializer<http::string_body> head(response);
    http::write_header(client.socket, head, ec);
  } else {
    http::write(client.socket, response, ec);
  }
}

bool HttpServer::State::hostAllowed(const Request& request) const {
  const std::string host = hostPart(fieldOf(request, http::field::host));
  if (host.empty()) return false;
  return hosts.count(host) != 0 || (anyAddress && ipLiteral(host));
}

// A browser names the page's origin on WebSocket handshakes and on POSTs;
// a request without one comes from a program, not from a page.
bool HttpServer::State::originAllowed(const Request& request) const {
  const auto it = request.find(http::field::origin);
  if (it == request.end()) return true;
  const std::string origin = lower(std::string_view(it->value().data(), it->value().size()));
  const std::string host = lower(fieldOf(request, http::field::host));
  return origin == "http://" + host || origin == "https://" + host || origins.count(origin) != 0;
}

bool HttpServer::State::authorised(const Request& request) const {
  if (settings.credentials.empty()) return true;
  std::string_view given = fieldOf(request, http::field::authorization);
  // The scheme's name is not case-sensitive; blanks may follow it.
  const size_t blank = given.find(' ');
  if (blank == std::string_view::npos || lower(given.substr(0, blank)) != "basic") return false;
  given.remove_prefix(blank);
  while (!given.empty() && given.front() == ' ')
    given.remove_prefix(1);
  while (!given.empty() && given.back() == ' ')
    given.remove_suffix(1);
  return sameText(given, base64(settings.credentials));
}

bool HttpServer::State::answer(Client& client, const Request& request) {
  const std::string_view whole(request.target().data(), request.target().size());
  const std::string_view target = whole.substr(0, whole.find('?'));
  if (!hostAllowed(request)) {
    reply(client, request, http::status::misdirected_request, "text/plain",
          "this bridge does not serve that host name\n");
    return true;
  }
  if (!authorised(request)) {
    reply(client, request, http::status::unauthorized, "text/plain", "credentials needed\n",
          {{http::field::www_authenticate, "Basic realm=\"zenta-bridge\", charset=\"UTF-8\""}});
    return true;
  }
  const bool get = request.method() == http::verb::get || request.method() == http::verb::head;
  const auto wrongMethod = [&](std::string_view allowed) {
    reply(client, request, http::status::method_not_allowed, "text/plain", "method not allowed\n",
          {{http::field::allow, std::string(allowed)}});
    return true;
  };
  if (target == "/api/channels") {
    if (!get) return wrongMethod("GET, HEAD");
    reply(client, request, http::status::ok, "application/json", channelsJson(request) + "\n");
    return true;
  }
  if (target == "/" || target == "/index.html") {
    if (!get) return wrongMethod("GET, HEAD");
    reply(client, request, http::status::ok, "text/html; charset=utf-8", kPageHtml);
    return true;
  }
  // The page's decoder and its worker.
  if (target == "/decoder.js" || target == "/load_decoder.mjs") {
    if (!get) return wrongMethod("GET, HEAD");
    reply(client, request, http::status::ok, "text/javascript; charset=utf-8",
          target == "/decoder.js" ? kWorkerJs : kLoaderJs);
    return true;
  }
  if (target == "/decoder.wasm") {
    if (!get) return wrongMethod("GET, HEAD");
    if (kDecoderWasmSize == 0) {
      reply(client, request, http::status::not_found, "text/plain", "no decoder in this build\n");
    } else {
      reply(client, request, http::status::ok, "application/wasm",
            std::string(reinterpret_cast<const char*>(kDecoderWasm), kDecoderWasmSize));
    }
    return true;
  }
  if (target == "/ws") {
    if (!beast::websocket::is_upgrade(request)) {
      reply(client, request, http::status::upgrade_required, "text/plain", "a WebSocket only\n");
      return true;
    }
    if (!originAllowed(request)) {
      reply(client, request, http::status::forbidden, "text/plain", "cross-origin request\n",
            {{http::field::connection, "close"}});
      return false;
    }
    tiles(client, request, whole == "/ws?coded");
    return false;
  }
  if (const int n = channelIn(target, "/ch/", ".jpg"); n != 0) {
    if (!get) return wrongMethod("GET, HEAD");
    return picture(client, request, n);
  }
  if (const int n = channelIn(target, "/ch/", ".mjpg"); n != 0) {
    if (!get) return wrongMethod("GET, HEAD");
    if (!viewable(client, request, n)) return true;
    stream(client, request, n);
    return false;
  }
  if (const int n = channelIn(target, "/api/ch/", "/ptz"); n != 0) {
    if (request.method() != http::verb::post) return wrongMethod("POST");
    return steer(client, request, n);
  }
  reply(client, request, http::status::not_found, "text/plain", "not found\n");
  return true;
}

namespace {

// "2026-12-10T04:05:06.123Z"
std::string utcText(std::chrono::system_clock::time_point t) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch());
  const std::time_t seconds = std::time_t(ms.count() / 1000);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[96];  // room for any int the fields could hold
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                int(ms.count() % 1000));
  return text;
}

}  // namespace

std::string HttpServer::State::channelsJson(const Request& request) {
  // The RTSP URL names the host the client reached the bridge by.
  const std::string host = hostPart(fieldOf(request, http::field::host));
  const uint16_t rtsp = rtspPort.load();
  const std::string rtspBase =
      host.empty() || rtsp == 0
          ? std::string()
          : "rtsp://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
                std::to_string(rtsp) + "/ch/";
  const auto orNull = [](bool known, auto value) {
    return known ? nlohmann::json(value) : nlohmann::json();
  };
  nlohmann::json channels = nlohmann::json::array();
  for (const ChannelFacts& f : recorder.channels()) {
    const std::string n = std::to_string(f.number);
    const bool sized = f.width > 0 && f.height > 0;
    channels.push_back({{"channel", f.number},
                        {"camera", orNull(f.answered, f.name)},
                        {"permission", orNull(f.answered, f.ptz        ? "ptz"
                                                          : f.viewable ? "view"
                                                                       : "none")},
                        {"width", orNull(sized, f.width)},
                        {"height", orNull(sized, f.height)},
                        {"pictures_per_second", f.picturesPerSecond},
                        {"state", stream::stateName(f.status)},
                        {"last_picture", f.lastPicture ? nlohmann::json(utcText(*f.lastPicture))
                                                       : nlohmann::json()},
                        {"urls",
                         {{"rtsp", orNull(!rtspBase.empty(), rtspBase + n)},
                          {"mjpeg", "/ch/" + n + ".mjpg"},
                          {"jpeg", "/ch/" + n + ".jpg"}}}});
  }
  const nlohmann::json report = {
      {"schema", stream::kReportSchema}, {"recorder", recorder.host()}, {"channels", channels}};
  return report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool HttpServer::State::takeStreamPlace(Client& client, const Request& request) {
  if (streams.fetch_add(1) < HttpServer::kMaxStreams) return true;
  streams.fetch_sub(1);
  reply(client, request, http::status::service_unavailable, "text/plain",
        "too many streams at once\n", {{http::field::retry_after, "5"}});
  return false;
}

// Whether the client closed its connection (or sent what nobody asked
// for, which is read and dropped): a stream that has nothing to send for
// a while still notices a client that went.
bool HttpServer::State::peerGone(Client& client) {
  const int fd = client.socket.native_handle();
  pollfd p{fd, short(POLLIN | POLLRDHUP), 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  if (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) return true;
  char scratch[4096];
  const ssize_t got = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
  return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

// The page's one connection. The page says which channels it shows and
// how it takes them ({"watch":[1,2,...],"coded":true}); until it does, it
// gets every viewable channel as JPEGs ("/ws"), or nothing ("/ws?coded"). JPEG pictures go as
// binary messages (the channel's number, then the JPEG), each channel's latest when the client is
// ready for it; coded pictures (for the page's own decoder) as the channel's number, a zero byte,
// the recorder's stamp (8 bytes, little endian) and the payload, every one in order from the
// channel's last intra picture, within a bound (a client that falls that far behind starts again at
// the next intra picture). Every second the channels come as JSON text. Sixteen live tiles take one
// connection, not sixteen (a browser opens six at most to one server). The client's messages are
// read all along, so its close, pings and malformed frames get their answers.
void HttpServer::State::tiles(Client& client, const Request& request, bool codedPage) {
  if (!takeStreamPlace(client, request)) return;
  struct Place {
    std::atomic<int>& count;
    ~Place() { count.fetch_sub(1); }
  } place{streams};
  beast::websocket::stream<tcp::socket&> ws(client.socket);
  ws.read_message_max(4096);
  beast::error_code ec;
  {
    Deadline limit(client, settings.sendTimeoutSeconds);
    ws.accept(request, ec);
  }
  if (ec) return;

  // The coded pictures of the watched channels, from the receive threads.
  struct CodedQueue {
    std::mutex lock;
    std::deque<std::pair<int, std::shared_ptr<const Coded>>> items;
    size_t bytes = 0;
    std::array<bool, stream::kChannelCount> untilIntra{};
  };
  constexpr size_t kMostQueued = 8 << 20;
  auto queue = std::make_shared<CodedQueue>();
  std::array<std::unique_ptr<Recorder::Watch>, stream::kChannelCount> watches;
  std::array<int, stream::kChannelCount> listeners{};
  std::array<uint64_t, stream::kChannelCount> sent{};
  bool coded = false;
  const auto unwatch = [&](int n) {
    if (listeners[size_t(n - 1)] != 0) recorder.stopListening(n, listeners[size_t(n - 1)]);
    listeners[size_t(n - 1)] = 0;
    watches[size_t(n - 1)].reset();
  };
  const auto watch = [&](uint32_t mask, bool wantCoded) {
    for (int n = 1; n <= stream::kChannelCount; ++n) {
      const bool want = (mask & (uint32_t{1} << (n - 1))) != 0;
      if (watches[size_t(n - 1)] && (!want || wantCoded != coded)) unwatch(n);
    }
    {
      std::lock_guard guard(queue->lock);
      queue->items.clear();
      queue->bytes = 0;
    }
    coded = wantCoded;
    for (const ChannelFacts& f : recorder.channels()) {
      const int n = f.number;
      if ((mask & (uint32_t{1} << (n - 1))) == 0 || watches[size_t(n - 1)]) continue;
      if (f.status == ChannelStatus::Refused || f.status == ChannelStatus::Absent) continue;
      // Only pictures newer than the watch: a paused channel's last one may
      // be of long ago.
      if (const auto old = recorder.pictureAfter(n, 0, std::chrono::milliseconds(0)))
        sent[size_t(n - 1)] = old->serial;
      watches[size_t(n - 1)] = std::make_unique<Recorder::Watch>(
          recorder, n, coded ? Recorder::Takes::Coded : Recorder::Takes::Jpeg);
      if (!coded) continue;
      listeners[size_t(n - 1)] =
          recorder.listen(n, [queue, n](const std::shared_ptr<const Coded>& picture) {
            std::lock_guard guard(queue->lock);
            bool& skip = queue->untilIntra[size_t(n - 1)];
            if (skip && !picture->intra) return;
            skip = false;
            if (queue->bytes + picture->payload.size() > kMostQueued) {
              // Too far behind: this channel starts again at an intra picture.
              std::erase_if(queue->items, [&](const auto& item) { return item.first == n; });
              queue->bytes = 0;
              for (const auto& item : queue->items)
                queue->bytes += item.second->payload.size();
              skip = !picture->intra;
              if (skip) return;
            }
            queue->items.emplace_back(n, picture);
            queue->bytes += picture->payload.size();
          });
    }
  };
  // A page that decodes itself ("/ws?coded") says what it shows first.
  if (!codedPage) watch(0xFFFF, false);

  bool ended = false;
  bool writing = false;
  std::optional<std::pair<uint32_t, bool>> asked;  // what the page asked for last
  beast::flat_buffer incoming;
  std::function<void()> readNext = [&] {
    ws.async_read(incoming, [&](beast::error_code error, size_t) {
      if (error) {
        ended = true;
        return;
      }
      if (ws.got_text()) {
        const auto said =
            nlohmann::json::parse(beast::buffers_to_string(incoming.data()), nullptr, false);
        if (said.is_object() && said.contains("watch") && said["watch"].is_array()) {
          uint32_t mask = 0;
          for (const nlohmann::json& entry : said["watch"]) {
            if (!entry.is_number_integer()) continue;
            const int64_t n = entry;
            if (n >= 1 && n <= stream::kChannelCount) mask |= uint32_t{1} << (n - 1);
          }
          // Any other type than a boolean means JPEGs (value() would throw).
          const auto codedField = said.find("coded");
          const bool wantCoded =
              codedField != said.end() && codedField->is_boolean() && codedField->get<bool>();
          asked = std::make_pair(mask, wantCoded);
        }
      }
      incoming.consume(incoming.size());
      if (!ended) readNext();
    });
  };
  readNext();
  std::string text;
  std::vector<uint8_t> message;
  std::unique_ptr<Deadline> writeLimit;
  const auto write = [&](bool binary, net::const_buffer bytes) {
    writing = true;
    writeLimit = std::make_unique<Deadline>(client, settings.sendTimeoutSeconds);
    ws.binary(binary);
    ws.async_write(bytes, [&](beast::error_code error, size_t) {
      writing = false;
      writeLimit.reset();
      if (error) ended = true;
    });
  };
  auto nextFacts = Clock::now();
  uint64_t seen = 0;
  int nextChannel = 1;
  while (!ended && !stopping) {
    client.io.restart();
    client.io.poll();
    if (ended || stopping) break;
    if (writing) {
      client.io.restart();
      client.io.run_one_for(std::chrono::milliseconds(100));
      continue;
    }
    if (asked) {
      watch(asked->first, asked->second);
      asked.reset();
    }
    if (Clock::now() >= nextFacts) {
      text = channelsJson(request);
      write(false, net::buffer(text));
      nextFacts = Clock::now() + std::chrono::seconds(1);
      continue;
    }
    if (coded) {
      std::pair<int, std::shared_ptr<const Coded>> next;
      {
        std::lock_guard guard(queue->lock);
        if (!queue->items.empty()) {
          next = std::move(queue->items.front());
          queue->items.pop_front();
          queue->bytes -= next.second->payload.size();
        }
      }
      if (next.second) {
        const Coded& c = *next.second;
        message.assign({uint8_t(next.first), 0});
        uint8_t stamp[8];
        std::memcpy(stamp, &c.stamp, 8);  // little endian on every host we build for
        message.insert(message.end(), stamp, stamp + 8);
        message.insert(message.end(), c.payload.begin(), c.payload.end());
        write(true, net::buffer(message));
        continue;
      }
    } else {
      // The next watched channel (in turn from the last one sent) with a
      // new picture.
      std::shared_ptr<const Picture> p;
      for (int i = 0; i < stream::kChannelCount && !p; ++i) {
        const int n = (nextChannel - 1 + i) % stream::kChannelCount + 1;
        if (!watches[size_t(n - 1)]) continue;
        p = recorder.pictureAfter(n, sent[size_t(n - 1)], std::chrono::milliseconds(0));
        if (p) {
          sent[size_t(n - 1)] = p->serial;
          nextChannel = n % stream::kChannelCount + 1;
          message.assign(1, uint8_t(n));
          message.insert(message.end(), p->jpeg.begin(), p->jpeg.end());
        }
      }
      if (p) {
        write(true, net::buffer(message));
        continue;
      }
    }
    seen = recorder.waitForAnyPicture(seen, std::chrono::milliseconds(100));
  }
  for (int n = 1; n <= stream::kChannelCount; ++n)
    unwatch(n);
  // Every operation under way ends before the stream and its buffers go.
  ended = true;
  beast::error_code ignored;
  client.socket.cancel(ignored);
  client.socket.shutdown(tcp::socket::shutdown_both, ignored);
  client.io.restart();
  client.io.run();
}

bool HttpServer::State::viewable(Client& client, const Request& request, int number) {
  const ChannelFacts f = recorder.facts(number);
  if (f.status == ChannelStatus::Absent) {
    reply(client, request, http::status::not_found, "text/plain", "no such channel\n");
    return false;
  }
  if (f.status == ChannelStatus::Refused) {
    reply(client, request, http::status::forbidden, "text/plain", "this login may not view it\n");
    return false;
  }
  return true;
}

// A picture newer than the request (a paused channel is resumed for it),
// or 503 when none comes within five seconds: an old picture is never
// passed off as the present. HEAD says what the latest picture is without
// resuming anything.
bool HttpServer::State::picture(Client& client, const Request& request, int number) {
  if (!viewable(client, request, number)) return true;
  const auto noPicture = [&] {
    reply(client, request, http::status::service_unavailable, "text/plain",
          "no picture from the recorder\n", {{http::field::retry_after, "5"}});
    return true;
  };
  const auto old = recorder.pictureAfter(number, 0, std::chrono::milliseconds(0));
  std::shared_ptr<const Picture> fresh;
  if (request.method() == http::verb::head) {
    fresh = old;
  } else {
    Recorder::Watch watching(recorder, number);
    fresh = recorder.pictureAfter(number, old ? old->serial : 0, std::chrono::seconds(5));
  }
  if (!fresh) return noPicture();
  http::response<http::vector_body<uint8_t>> response{http::status::ok, 11};
  response.set(http::field::server, "zenta-bridge");
  response.set(http::field::content_type, "image/jpeg");
  response.set(http::field::cache_control, "no-store");
  for (auto& [field, value] : pictureHeaders(*fresh))
    response.set(field, value);
  response.set("X-Recorder-Time", stampText(fresh->stamp));
  response.keep_alive(request.keep_alive());
  response.body() = fresh->jpeg;
  response.prepare_payload();
  Deadline limit(client, settings.sendTimeoutSeconds);
  beast::error_code ec;
  if (request.method() == http::verb::head) {
    http::response_serializer<http::vector_body<uint8_t>> head(response);
    http::write_header(client.socket, head, ec);
  } else {
    http::write(client.socket, response, ec);
  }
  return !ec;
}

// Every new picture of the channel as one part, until the client goes; a
// client slower than the pictures gets the latest one each time it is
// ready, never a queue. The first part is a picture newer than the request.
void HttpServer::State::stream(Client& client, const Request& request, int number) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nServer: zenta-bridge\r\n"
      "Content-Type: multipart/x-mixed-replace; boundary=" +
      std::string(kBoundary) + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
  beast::error_code ec;
  if (request.method() == http::verb::head) {
    Deadline limit(client, settings.sendTimeoutSeconds);
    net::write(client.socket, net::buffer(head), ec);
    return;
  }
  if (!takeStreamPlace(client, request)) return;
  struct Place {
    std::atomic<int>& count;
    ~Place() { count.fetch_sub(1); }
  } place{streams};
  const auto old = recorder.pictureAfter(number, 0, std::chrono::milliseconds(0));
  uint64_t last = old ? old->serial : 0;
  Recorder::Watch watching(recorder, number);
  {
    Deadline limit(client, settings.sendTimeoutSeconds);
    net::write(client.socket, net::buffer(head), ec);
  }
  while (!ec && !stopping) {
    const auto p = recorder.pictureAfter(number, last, std::chrono::seconds(1));
    if (!p) {
      if (peerGone(client)) return;
      continue;
    }
    last = p->serial;
    std::string part =
        "--" + std::string(kBoundary) +
        "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(p->jpeg.size()) +
        "\r\nX-Recorder-Time: " + stampText(p->stamp);
    for (auto& [field, value] : pictureHeaders(*p))
      part += "\r\n" + std::string(http::to_string(field)) + ": " + value;
    part += "\r\n\r\n";
    const std::array<net::const_buffer, 3> pieces{net::buffer(part), net::buffer(p->jpeg),
                                                  net::buffer("\r\n", 2)};
    Deadline limit(client, settings.sendTimeoutSeconds);
    net::write(client.socket, pieces, ec);
  }
}

bool HttpServer::State::steer(Client& client, const Request& request, int number) {
  // A page of another site may not steer the cameras through a browser.
  if (!originAllowed(request)) {
    reply(client, request, http::status::forbidden, "text/plain", "cross-origin request\n");
    return true;
  }
  std::string word = request.body();
  while (!word.empty() && (word.back() == '\n' || word.back() == '\r' || word.back() == ' '))
    word.pop_back();
  if (!stream::isCameraWord(word)) {
    reply(client, request, http::status::bad_request, "text/plain", "unknown command word\n");
    return true;
  }
  if (!viewable(client, request, number)) return true;
  if (!recorder.steer(number, word)) {
    reply(client, request, http::status::forbidden, "text/plain",
          "this channel's camera may not be steered\n");
    return true;
  }
  reply(client, request, http::status::no_content, "text/plain", "");
  return true;
}

}  // namespace zenta::bridge
