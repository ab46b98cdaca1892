#include "stream/port_query.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "stream/protocol.h"

namespace zenta::stream {

namespace {

constexpr size_t kMaxBody = 250;

bool isHostNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

size_t collectBody(char* data, size_t size, size_t count, void* user) {
  auto& body = *static_cast<std::string*>(user);
  const size_t bytes = size * count;
  const size_t room = kMaxBody - body.size();
  body.append(data, std::min(bytes, room));
  // Ends the transfer once the body is full.
  return body.size() < kMaxBody ? bytes : 0;
}

struct CurlHandle {
  CURL* curl = curl_easy_init();
  curl_slist* headers = nullptr;
  ~CurlHandle() {
    curl_slist_free_all(headers);
    if (curl != nullptr) curl_easy_cleanup(curl);
  }
};

}  // namespace

std::optional<int> queryStreamPort(const std::string& host, int httpPort,
                                   std::chrono::milliseconds timeout, int cancelFd) {
  if (host.empty() || !std::all_of(host.begin(), host.end(), isHostNameCharacter)) {
    return std::nullopt;
  }
  static std::once_flag globalInit;
  std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  CurlHandle handle;
  if (handle.curl == nullptr) return std::nullopt;
  CURL* curl = handle.curl;
  const std::string url = "http://" + host + ":" + std::to_string(httpPort) + "/";
  std::string body;
  // WinInet-style request: only Host and User-Agent headers.
  handle.headers = curl_slist_append(nullptr, "Accept:");

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_REQUEST_TARGET, "ports");
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
  curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "WINCE");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, handle.headers);
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout.count()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);

  // Whatever body arrived counts, also when the transfer then ends with an
  // error: a full body ends it on purpose, and a server that sends its reply
  // but keeps the connection open runs into the time limit.
  CURLM* multi = curl_multi_init();
  if (multi == nullptr) return std::nullopt;
  curl_multi_add_handle(multi, curl);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int running = 1;
  while (running > 0 && curl_multi_perform(multi, &running) == CURLM_OK && running > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    // The cancel descriptor wakes the wait; once readable, the query ends.
    curl_waitfd cancel{cancelFd, CURL_WAIT_POLLIN, 0};
    int ready = 0;
    if (curl_multi_poll(multi, cancelFd >= 0 ? &cancel : nullptr, cancelFd >= 0 ? 1 : 0,
                        static_cast<int>(std::min<int64_t>(left.count(), 1000)),
                        &ready) != CURLM_OK ||
        (cancel.revents & CURL_WAIT_POLLIN) != 0) {
      body.clear();
      break;
    }
  }
  curl_multi_remove_handle(multi, curl);
  curl_multi_cleanup(multi);
  return parsePortReply(body);
}

}  // namespace zenta::stream
