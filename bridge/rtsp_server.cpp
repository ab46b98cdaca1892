#include "bridge/rtsp_server.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace zenta::bridge {

namespace {

constexpr double kNanosecondsADay = 86400.0 * 1e9;

// What a channel's factory needs to make a client's pipeline.
struct Mount {
  RtspServer::State* server = nullptr;
  int channel = 0;
};

// One client's pipeline of one channel: its appsrc, fed from the
// recorder's coded pictures while the client plays.
struct Feed {
  Recorder* recorder = nullptr;
  int channel = 0;
  GstElement* source = nullptr;
  int listener = 0;
  std::unique_ptr<Recorder::Watch> watch;
  std::mutex lock;
  double firstStamp = -1;
  GstClockTime last = 0;
  bool started = false;

  void push(const Coded& coded) {
    std::lock_guard guard(lock);
    // A client starts at an intra picture: before one, nothing decodes.
    if (!started && !coded.intra) return;
    started = true;
    if (firstStamp < 0) firstStamp = coded.stamp;
    auto pts =
        GstClockTime(std::max(0.0, std::round((coded.stamp - firstStamp) * kNanosecondsADay)));
    // Stamps that do not advance (a recorder's coarse clock) still give
    // each picture a time of its own.
    if (last != 0 && pts <= last) pts = last + GST_MSECOND;
    last = pts;
    GstBuffer* buffer = gst_buffer_new_memdup(coded.payload.data(), coded.payload.size());
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DTS(buffer) = pts;
    gst_app_src_push_buffer(GST_APP_SRC(source), buffer);
  }
};

void onUnprepared(GstRTSPMedia*, gpointer data) {
  auto* feed = static_cast<Feed*>(data);
  // After this no picture reaches the feed: it can go.
  feed->recorder->stopListening(feed->channel, feed->listener);
  gst_app_src_end_of_stream(GST_APP_SRC(feed->source));
  gst_object_unref(feed->source);
  delete feed;
}

}  // namespace

struct RtspServer::State {
  Recorder& recorder;
  RtspSettings settings;
  GMainContext* context = nullptr;
  GMainLoop* loop = nullptr;
  GstRTSPServer* server = nullptr;
  guint source = 0;
  std::thread thread;
  std::vector<std::unique_ptr<Mount>> mounts;

  State(Recorder& r, RtspSettings s) : recorder(r), settings(std::move(s)) {}

  // A channel the recorder does not have is not found, one the login may
  // not view is forbidden, before any pipeline is made for it.
  static GstRTSPStatusCode checkChannel(GstRTSPClient*, GstRTSPContext* context, gpointer data) {
    auto* state = static_cast<State*>(data);
    if (context == nullptr || context->uri == nullptr || context->uri->abspath == nullptr)
      return GST_RTSP_STS_OK;
    const std::string path = context->uri->abspath;
    if (path.rfind("/ch/", 0) != 0) return GST_RTSP_STS_OK;
    const int n = std::atoi(path.c_str() + 4);
    if (n < 1 || n > stream::kChannelCount) return GST_RTSP_STS_NOT_FOUND;
    const ChannelStatus status = state->recorder.facts(n).status;
    if (status == ChannelStatus::Absent) return GST_RTSP_STS_NOT_FOUND;
    if (status == ChannelStatus::Refused) return GST_RTSP_STS_FORBIDDEN;
    return GST_RTSP_STS_OK;
  }

  static void onClient(GstRTSPServer*, GstRTSPClient* client, gpointer data) {
    g_signal_connect(client, "pre-describe-request", G_CALLBACK(checkChannel), data);
    g_signal_connect(client, "pre-setup-request", G_CALLBACK(checkChannel), data);
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
    feed->watch = std::make_unique<Recorder::Watch>(*feed->recorder, mount->channel);
    std::vector<std::shared_ptr<const Coded>> since;
    feed->listener = feed->recorder->listen(
        mount->channel, [feed](const std::shared_ptr<const Coded>& c) { feed->push(*c); }, since);
    for (const auto& c : since)
      feed->push(*c);
    g_signal_connect(media, "unprepared", G_CALLBACK(onUnprepared), feed);
  }
};

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
  const std::string& credentials = s.settings.credentials;
  if (!credentials.empty()) {
    const size_t colon = credentials.find(':');
    GstRTSPAuth* auth = gst_rtsp_auth_new();
    GstRTSPToken* token =
        gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "viewer", nullptr);
    gchar* basic = gst_rtsp_auth_make_basic(credentials.substr(0, colon).c_str(),
                                            credentials.substr(colon + 1).c_str());
    gst_rtsp_auth_add_basic(auth, basic, token);
    g_free(basic);
    gst_rtsp_token_unref(token);
    gst_rtsp_server_set_auth(s.server, auth);
    g_object_unref(auth);
  }
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
  s.source = gst_rtsp_server_attach(s.server, s.context);
  if (s.source == 0) {
    error = "cannot serve RTSP on " + s.settings.address + ":" + std::to_string(s.settings.port);
    g_object_unref(s.server);
    s.server = nullptr;
    return false;
  }
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
  if (GSource* source = g_main_context_find_source_by_id(s.context, s.source))
    g_source_destroy(source);
  g_object_unref(s.server);
  s.server = nullptr;
  g_main_loop_unref(s.loop);
  g_main_context_unref(s.context);
}

}  // namespace zenta::bridge
