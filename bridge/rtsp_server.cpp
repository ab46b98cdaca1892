#include "bridge/rtsp_server.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace zenta::bridge {

namespace {

constexpr double kNanosecondsADay = 86400.0 * 1e9;
// The recorder's stamps set the spacing of pictures only while they step
// forward by less than this and stay this close to the pictures' arrival.
constexpr GstClockTime kLargestStep = 2 * GST_SECOND;
constexpr GstClockTime kMostDrift = 250 * GST_MSECOND;
// Clients at once, and how long one may stay without playing anything.
constexpr int kMaxClients = 32;
constexpr auto kUnplayedLimit = std::chrono::seconds(15);
constexpr auto kEvictAfter = std::chrono::seconds(2);
// The most of a channel's pictures kept while a client's pipeline starts.
constexpr size_t kMostHeld = 4 << 20;

using Clock = std::chrono::steady_clock;

// What a channel's factory needs to make a client's pipeline.
struct Mount {
  RtspServer::State* server = nullptr;
  int channel = 0;
};

// The running time of the source's pipeline now; none before it plays.
GstClockTime runningTime(GstElement* source) {
  GstClock* clock = gst_element_get_clock(source);
  if (clock == nullptr) return GST_CLOCK_TIME_NONE;
  const GstClockTime now = gst_clock_get_time(clock);
  gst_object_unref(clock);
  const GstClockTime base = gst_element_get_base_time(source);
  return now > base ? now - base : 0;
}

// Counts the feeds alive: a client's media is unprepared on the RTSP
// library's own threads, possibly after the server has been told to stop,
// and the recorder must outlive every feed that listens to it.
struct FeedCount {
  std::mutex lock;
  std::condition_variable gone;
  int alive = 0;
};

// One client's pipeline of one channel: its appsrc, fed from the
// recorder's coded pictures while the client plays.
struct Feed {
  Recorder* recorder = nullptr;
  int channel = 0;
  GstElement* source = nullptr;
  GstElement* pipeline = nullptr;  // the client's whole pipeline
  int listener = 0;
  std::unique_ptr<Recorder::Watch> watch;
  std::mutex lock;
  GstClockTime last = GST_CLOCK_TIME_NONE;
  double lastStamp = 0;
  // A client starts at an intra picture: before one, nothing decodes.
  bool awaitIntra = true;
  // Pictures from the last intra one on, kept while the pipeline is not
  // playing yet.
  std::vector<std::shared_ptr<const Coded>> held;
  size_t heldBytes = 0;
  FeedCount* count = nullptr;

  // A picture's time follows its arrival, so a recorder's clock that jumps
  // (a daylight-saving change, a correction) neither freezes nor squeezes
  // the stream; the recorder's own stamps smooth the spacing while they
  // advance sanely. Pictures kept while the pipeline was being made (the
  // backlog from the last intra picture) are a millisecond apart and go
  // out at once when it plays.
  GstClockTime timeOf(const Coded& coded) {
    const GstClockTime running = runningTime(source);
    if (running == GST_CLOCK_TIME_NONE) return last == GST_CLOCK_TIME_NONE ? 0 : last + GST_MSECOND;
    const auto age =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - coded.arrived);
    const GstClockTime byArrival =
        running > GstClockTime(age.count()) ? running - GstClockTime(age.count()) : 0;
    GstClockTime pts = byArrival;
    if (last != GST_CLOCK_TIME_NONE) {
      const double step = (coded.stamp - lastStamp) * kNanosecondsADay;
      if (step > 0 && step < double(kLargestStep)) {
        const GstClockTime byStamp = last + GstClockTime(step);
        const GstClockTime drift = byStamp > byArrival ? byStamp - byArrival : byArrival - byStamp;
        if (drift < kMostDrift) pts = byStamp;
      }
      pts = std::max(pts, last + GST_MSECOND);
    }
    return pts;
  }

  // Whether every element of the pipeline has started. A buffer that
  // reaches a pad not activated yet comes back "flushing", and appsrc then
  // stops its streaming thread for good: the client would wait for ever.
  bool playing() const {
    GstState state = GST_STATE_NULL;
    GstState pending = GST_STATE_NULL;
    const auto result = gst_element_get_state(pipeline, &state, &pending, 0);
    return result != GST_STATE_CHANGE_FAILURE && state == GST_STATE_PLAYING &&
           pending == GST_STATE_VOID_PENDING;
  }

  bool send(const Coded& coded) {
    const GstClockTime pts = timeOf(coded);
    GstBuffer* buffer = gst_buffer_new_memdup(coded.payload.data(), coded.payload.size());
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DTS(buffer) = pts;
    if (gst_app_src_push_buffer(GST_APP_SRC(source), buffer) != GST_FLOW_OK) return false;
    last = pts;
    lastStamp = coded.stamp;
    return true;
  }

  void push(const std::shared_ptr<const Coded>& coded) {
    std::lock_guard guard(lock);
    if (coded->intra) {
      awaitIntra = false;
      held.clear();
      heldBytes = 0;
    }
    if (awaitIntra) return;
    if (!playing()) {
      heldBytes += coded->payload.size();
      held.push_back(coded);
      // A pipeline that does not start in this much leaves the client to
      // start at the next intra picture.
      if (heldBytes > kMostHeld) {
        held.clear();
        heldBytes = 0;
        awaitIntra = true;
      }
      return;
    }
    held.push_back(coded);
    for (const auto& picture : held) {
      // An appsrc that stops taking pictures (its pipeline going down)
      // leaves the client to start at the next intra picture, not with
      // pictures predicted from a lost one.
      if (!send(*picture)) {
        awaitIntra = true;
        break;
      }
    }
    held.clear();
    heldBytes = 0;
  }
};

void onUnprepared(GstRTSPMedia*, gpointer data) {
  auto* feed = static_cast<Feed*>(data);
  // After this no picture reaches the feed: it can go.
  feed->recorder->stopListening(feed->channel, feed->listener);
  gst_app_src_end_of_stream(GST_APP_SRC(feed->source));
  gst_object_unref(feed->source);
  gst_object_unref(feed->pipeline);
  FeedCount* count = feed->count;
  delete feed;
  std::lock_guard guard(count->lock);
  --count->alive;
  count->gone.notify_all();
}

// What the server knows of a client connection.
struct ClientFacts {
  Clock::time_point since = Clock::now();
  bool played = false;
  bool refused = false;  // over the limit: answered 503, closed soon
};

// The server's gatekeeper: GStreamer asks it about every request before
// it looks for a media, so a request that is to be refused is answered
// here and nothing is built for it. With credentials it first checks them
// (GStreamer's own Basic check).
struct BridgeAuth {
  GstRTSPAuth parent;
  RtspServer::State* state;
  gboolean checkCredentials;
};
struct BridgeAuthClass {
  GstRTSPAuthClass parent;
};
G_DEFINE_TYPE(BridgeAuth, bridge_auth, GST_TYPE_RTSP_AUTH)

GstRTSPStatusCode statusFor(RtspServer::State* state, GstRTSPClient* client, const char* path);

gboolean bridgeAuthCheck(GstRTSPAuth* auth, GstRTSPContext* context, const gchar* check) {
  auto* self = reinterpret_cast<BridgeAuth*>(auth);
  if (self->checkCredentials &&
      !GST_RTSP_AUTH_CLASS(bridge_auth_parent_class)->check(auth, context, check)) {
    return FALSE;
  }
  if (std::strcmp(check, GST_RTSP_AUTH_CHECK_URL) != 0 || context->uri == nullptr) return TRUE;
  const GstRTSPStatusCode status = statusFor(self->state, context->client, context->uri->abspath);
  if (status == GST_RTSP_STS_OK) return TRUE;
  gst_rtsp_message_init_response(context->response, status, gst_rtsp_status_as_text(status),
                                 context->request);
  gst_rtsp_client_send_message(context->client, context->session, context->response);
  return FALSE;
}

void bridge_auth_class_init(BridgeAuthClass* type) {
  type->parent.check = bridgeAuthCheck;
}

void bridge_auth_init(BridgeAuth* self) {
  self->state = nullptr;
  self->checkCredentials = FALSE;
}

}  // namespace

struct RtspServer::State {
  Recorder& recorder;
  RtspSettings settings;
  GMainContext* context = nullptr;
  GMainLoop* loop = nullptr;
  GstRTSPServer* server = nullptr;
  guint source = 0;
  guint sweep = 0;
  std::thread thread;
  std::vector<std::unique_ptr<Mount>> mounts;
  std::mutex clientsLock;
  std::map<GstRTSPClient*, ClientFacts> clients;  // under clientsLock
  FeedCount feeds;

  State(Recorder& r, RtspSettings s) : recorder(r), settings(std::move(s)) {}

  bool refused(GstRTSPClient* client) {
    std::lock_guard guard(clientsLock);
    const auto it = clients.find(client);
    return it != clients.end() && it->second.refused;
  }

  // What a request for `path` gets before anything is made for it: a
  // client over the limit is told the server is busy, a channel the
  // recorder does not have is not found, one the login may not view is
  // forbidden, and while the recorder is away every channel is
  // unavailable (a pipeline that never gets a picture would hold the
  // server's thread until GStreamer's time-out).
  GstRTSPStatusCode statusFor(GstRTSPClient* client, const char* path) {
    if (refused(client)) return GST_RTSP_STS_SERVICE_UNAVAILABLE;
    if (path == nullptr || std::strncmp(path, "/ch/", 4) != 0) return GST_RTSP_STS_OK;
    const int n = std::atoi(path + 4);
    if (n < 1 || n > stream::kChannelCount) return GST_RTSP_STS_NOT_FOUND;
    const ChannelStatus status = recorder.facts(n).status;
    if (status == ChannelStatus::Absent) return GST_RTSP_STS_NOT_FOUND;
    if (status == ChannelStatus::Refused) return GST_RTSP_STS_FORBIDDEN;
    if (status == ChannelStatus::Connecting) return GST_RTSP_STS_SERVICE_UNAVAILABLE;
    return GST_RTSP_STS_OK;
  }

  static void onPlay(GstRTSPClient* client, GstRTSPContext*, gpointer data) {
    auto* state = static_cast<State*>(data);
    std::lock_guard guard(state->clientsLock);
    if (const auto it = state->clients.find(client); it != state->clients.end())
      it->second.played = true;
  }

  static void onClosed(GstRTSPClient* client, gpointer data) {
    auto* state = static_cast<State*>(data);
    std::lock_guard guard(state->clientsLock);
    state->clients.erase(client);
  }

  // Beyond kMaxClients a new client takes the place of the oldest one that
  // has not played for kEvictAfter (a client that plays does so within a
  // second), or is answered 503 and let go; every client is watched for
  // playing in time.
  static void onClient(GstRTSPServer*, GstRTSPClient* client, gpointer data) {
    auto* state = static_cast<State*>(data);
    {
      std::lock_guard guard(state->clientsLock);
      const auto now = Clock::now();
      int admitted = 0;
      ClientFacts* oldest = nullptr;
      for (auto& [other, facts] : state->clients) {
        if (facts.refused) continue;
        ++admitted;
        if (!facts.played && now - facts.since > kEvictAfter &&
            (oldest == nullptr || facts.since < oldest->since)) {
          oldest = &facts;
        }
      }
      ClientFacts facts;
      if (admitted >= kMaxClients) {
        if (oldest != nullptr)
          oldest->refused = true;
        else
          facts.refused = true;
      }
      state->clients.emplace(client, facts);
    }
    g_signal_connect(client, "play-request", G_CALLBACK(onPlay), data);
    g_signal_connect(client, "closed", G_CALLBACK(onClosed), data);
  }

  // Once a second on the server's thread: clients over the limit, and
  // those that have not played within kUnplayedLimit (each holds a
  // pipeline and its pictures), are closed.
  static gboolean closeIdleClients(gpointer data) {
    auto* state = static_cast<State*>(data);
    std::vector<GstRTSPClient*> closing;
    {
      std::lock_guard guard(state->clientsLock);
      const auto now = Clock::now();
      for (const auto& [client, facts] : state->clients) {
        if (facts.refused || (!facts.played && now - facts.since > kUnplayedLimit)) {
          closing.push_back(GST_RTSP_CLIENT(g_object_ref(client)));
        }
      }
    }
    for (GstRTSPClient* client : closing) {
      gst_rtsp_client_close(client);
      g_object_unref(client);
    }
    return G_SOURCE_CONTINUE;
  }

  static void onConfigure(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer data) {
    const auto* mount = static_cast<Mount*>(data);
    GstElement* element = gst_rtsp_media_get_element(media);
    GstElement* source = gst_bin_get_by_name_recurse_up(GST_BIN(element), "src");
    gst_object_unref(element);
    if (source == nullptr) return;
    // Said to be baseline H.263, the payloader's one choice without a
    // profile from the client; an H.263+ picture passes unchanged all the
    // same (the payload format carries both).
    GstCaps* caps = gst_caps_new_simple("video/x-h263", "variant", G_TYPE_STRING, "itu",
                                        "h263version", G_TYPE_STRING, "h263", nullptr);
    // A client that cannot keep up loses pictures at its own appsrc; the
    // recorder's thread never waits for it.
    g_object_set(source, "caps", caps, "format", GST_FORMAT_TIME, "is-live", TRUE, "do-timestamp",
                 FALSE, "block", FALSE, "max-bytes", guint64(4 << 20), "leaky-type",
                 2 /* downstream: the newest go */, nullptr);
    gst_caps_unref(caps);
    auto* feed = new Feed;
    feed->recorder = &mount->server->recorder;
    feed->channel = mount->channel;
    feed->source = source;
    GstElement* top = GST_ELEMENT(gst_object_ref(source));
    while (GstObject* parent = gst_object_get_parent(GST_OBJECT(top))) {
      gst_object_unref(top);
      top = GST_ELEMENT(parent);
    }
    feed->pipeline = top;
    feed->count = &mount->server->feeds;
    {
      std::lock_guard guard(feed->count->lock);
      ++feed->count->alive;
    }
    feed->watch =
        std::make_unique<Recorder::Watch>(*feed->recorder, mount->channel, Recorder::Takes::Coded);
    feed->listener = feed->recorder->listen(
        mount->channel, [feed](const std::shared_ptr<const Coded>& c) { feed->push(c); });
    g_signal_connect(media, "unprepared", G_CALLBACK(onUnprepared), feed);
  }
};

namespace {
GstRTSPStatusCode statusFor(RtspServer::State* state, GstRTSPClient* client, const char* path) {
  return state->statusFor(client, path);
}
}  // namespace

RtspServer::RtspServer(Recorder& recorder, RtspSettings settings)
    : state_(std::make_unique<State>(recorder, std::move(settings))) {}

RtspServer::~RtspServer() {
  stop();
}

bool RtspServer::start(std::string& error) {
  State& s = *state_;
  gst_init(nullptr, nullptr);
  s.context = g_main_context_new();
  s.loop = g_main_loop_new(s.context, FALSE);
  s.server = gst_rtsp_server_new();
  gst_rtsp_server_set_address(s.server, s.settings.address.c_str());
  gst_rtsp_server_set_service(s.server, std::to_string(s.settings.port).c_str());
  // Connections wait in the kernel's queue while the server's thread
  // accepts them a few milliseconds apart; GStreamer's queue of five makes
  // a burst of clients (a wall of players starting together, or a flood)
  // lose their first SYNs and wait out retransmissions, seconds each.
  gst_rtsp_server_set_backlog(s.server, 128);
  const std::string& credentials = s.settings.credentials;
  auto* gate = static_cast<BridgeAuth*>(g_object_new(bridge_auth_get_type(), nullptr));
  gate->state = &s;
  gate->checkCredentials = !credentials.empty();
  GstRTSPAuth* auth = GST_RTSP_AUTH(gate);
  if (!credentials.empty()) {
    const size_t colon = credentials.find(':');
    GstRTSPToken* token =
        gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "viewer", nullptr);
    gchar* basic = gst_rtsp_auth_make_basic(credentials.substr(0, colon).c_str(),
                                            credentials.substr(colon + 1).c_str());
    gst_rtsp_auth_add_basic(auth, basic, token);
    g_free(basic);
    gst_rtsp_token_unref(token);
  }
  gst_rtsp_server_set_auth(s.server, auth);
  g_object_unref(auth);
  GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(s.server);
  for (int n = 1; n <= stream::kChannelCount; ++n) {
    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, "( appsrc name=src ! rtph263ppay name=pay0 pt=96 )");
    gst_rtsp_media_factory_set_shared(factory, FALSE);
    if (!credentials.empty()) {
      gst_rtsp_media_factory_add_role(factory, "viewer", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                      G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT,
                                      G_TYPE_BOOLEAN, TRUE, nullptr);
    }
    s.mounts.push_back(std::make_unique<Mount>(Mount{&s, n}));
    g_signal_connect(factory, "media-configure", G_CALLBACK(State::onConfigure),
                     s.mounts.back().get());
    gst_rtsp_mount_points_add_factory(mounts, ("/ch/" + std::to_string(n)).c_str(), factory);
  }
  g_object_unref(mounts);
  g_signal_connect(s.server, "client-connected", G_CALLBACK(State::onClient), &s);
  GError* failure = nullptr;
  GSource* serving = gst_rtsp_server_create_source(s.server, nullptr, &failure);
  if (serving == nullptr) {
    error = "cannot serve RTSP on " + s.settings.address + ":" + std::to_string(s.settings.port) +
            ": " + (failure != nullptr ? failure->message : "unknown error");
    if (failure != nullptr) g_error_free(failure);
    g_object_unref(s.server);
    s.server = nullptr;
    g_main_loop_unref(s.loop);
    g_main_context_unref(s.context);
    return false;
  }
  s.source = g_source_attach(serving, s.context);
  g_source_unref(serving);
  GSource* sweep = g_timeout_source_new_seconds(1);
  g_source_set_callback(sweep, State::closeIdleClients, &s, nullptr);
  s.sweep = g_source_attach(sweep, s.context);
  g_source_unref(sweep);
  s.thread = std::thread([&s] {
    g_main_context_push_thread_default(s.context);
    g_main_loop_run(s.loop);
    g_main_context_pop_thread_default(s.context);
  });
  return true;
}

uint16_t RtspServer::port() const {
  return state_->server != nullptr ? uint16_t(gst_rtsp_server_get_bound_port(state_->server)) : 0;
}

void RtspServer::stop() {
  State& s = *state_;
  if (!s.thread.joinable()) return;
  // The clients are let go on the server's own thread, then its loop ends.
  g_main_context_invoke(
      s.context,
      [](gpointer data) -> gboolean {
        auto* state = static_cast<State*>(data);
        gst_rtsp_server_client_filter(
            state->server,
            [](GstRTSPServer*, GstRTSPClient*, gpointer) { return GST_RTSP_FILTER_REMOVE; },
            nullptr);
        g_main_loop_quit(state->loop);
        return G_SOURCE_REMOVE;
      },
      &s);
  s.thread.join();
  // The clients' medias are unprepared on the library's threads: every
  // feed is gone before the recorder may go, and then those threads end.
  bool allGone = false;
  {
    std::unique_lock guard(s.feeds.lock);
    allGone =
        s.feeds.gone.wait_for(guard, std::chrono::seconds(10), [&] { return s.feeds.alive == 0; });
  }
  for (const guint id : {s.source, s.sweep}) {
    if (GSource* source = g_main_context_find_source_by_id(s.context, id)) g_source_destroy(source);
  }
  g_object_unref(s.server);
  s.server = nullptr;
  g_main_loop_unref(s.loop);
  g_main_context_unref(s.context);
  if (allGone) gst_rtsp_thread_pool_cleanup();
  // The clients' threads have ended: what they left is let go here.
  std::lock_guard guard(s.clientsLock);
  s.clients.clear();
}

}  // namespace zenta::bridge
