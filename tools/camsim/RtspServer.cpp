#include "RtspServer.h"

#include <atomic>
#include <stdexcept>

#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

namespace camsim {

struct RtspServer::Impl {
  RtspSettings settings;
  FaultTable& faults;
  RequestLog& log;
  GMainContext* context = nullptr;
  GMainLoop* loop = nullptr;
  GstRTSPServer* server = nullptr;
  guint source = 0;

  Impl(const RtspSettings& s, FaultTable& f, RequestLog& l) : settings(s), faults(f), log(l) {}
};

namespace {

// What a media's frame probe needs: the fault and the count of frames sent.
struct FrameFault {
  Fault fault;
  GstRTSPServer* server;
  GMainContext* context;
  std::atomic<long> frames{0};
};

GstRTSPFilterResult closeClient(GstRTSPServer*, GstRTSPClient*, gpointer) { return GST_RTSP_FILTER_REMOVE; }

gboolean closeAllClients(gpointer data) {
  gst_rtsp_server_client_filter(static_cast<GstRTSPServer*>(data), closeClient, nullptr);
  return G_SOURCE_REMOVE;
}

GstPadProbeReturn countFrame(GstPad*, GstPadProbeInfo*, gpointer data) {
  auto* fault = static_cast<FrameFault*>(data);
  const long sent = fault->frames.fetch_add(1);
  if (sent < fault->fault.value) return GST_PAD_PROBE_OK;
  if (fault->fault.action == FaultAction::DropAfterParts && sent == fault->fault.value)
    g_main_context_invoke(fault->context, closeAllClients, fault->server);  // the loop's thread closes them
  return GST_PAD_PROBE_DROP;
}

void onMediaConfigure(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer data) {
  auto* impl = static_cast<RtspServer::Impl*>(data);
  const auto fault = impl->faults.take(kRtspStreamPath);
  if (!fault || (fault->action != FaultAction::DropAfterParts && fault->action != FaultAction::StallAfterParts)) return;
  GstElement* bin = gst_rtsp_media_get_element(media);
  GstElement* encoder = gst_bin_get_by_name(GST_BIN(bin), "enc");
  if (encoder) {
    GstPad* pad = gst_element_get_static_pad(encoder, "src");
    auto* probe = new FrameFault{*fault, impl->server, impl->context, {0}};
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, countFrame, probe,
                      [](gpointer p) { delete static_cast<FrameFault*>(p); });
    gst_object_unref(pad);
    gst_object_unref(encoder);
  }
  gst_object_unref(bin);
}

void onDescribe(GstRTSPClient*, GstRTSPContext* ctx, gpointer data) {
  auto* impl = static_cast<RtspServer::Impl*>(data);
  impl->log.arrived("DESCRIBE", ctx && ctx->uri && ctx->uri->abspath ? ctx->uri->abspath : kRtspStreamPath);
}

void onClientConnected(GstRTSPServer*, GstRTSPClient* client, gpointer data) {
  g_signal_connect(client, "describe-request", G_CALLBACK(onDescribe), data);
}

void addAuthentication(const RtspSettings& settings, GstRTSPServer* server, GstRTSPMediaFactory* factory) {
  if (settings.user.empty()) return;
  GstRTSPAuth* auth = gst_rtsp_auth_new();
  gst_rtsp_auth_set_supported_methods(auth, static_cast<GstRTSPAuthMethod>(GST_RTSP_AUTH_BASIC | GST_RTSP_AUTH_DIGEST));
  GstRTSPToken* token = gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "camera", nullptr);
  gchar* basic = gst_rtsp_auth_make_basic(settings.user.c_str(), settings.password.c_str());
  gst_rtsp_auth_add_basic(auth, basic, token);
  g_free(basic);
  gst_rtsp_auth_add_digest(auth, settings.user.c_str(), settings.password.c_str(), token);
  gst_rtsp_token_unref(token);
  gst_rtsp_server_set_auth(server, auth);
  g_object_unref(auth);
  gst_rtsp_media_factory_add_role(factory, "camera", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN, TRUE,
                                  GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE, nullptr);
}

}  // namespace

std::string rtspLaunchLine(const RtspSettings& settings) {
  return "( videotestsrc is-live=true pattern=smpte ! video/x-raw,width=" + std::to_string(settings.width) +
         ",height=" + std::to_string(settings.height) + ",framerate=" + std::to_string(settings.framesPerSecond) +
         "/1 ! x264enc name=enc tune=zerolatency speed-preset=ultrafast key-int-max=" +
         std::to_string(settings.keyFrameInterval) +
         " ! video/x-h264,profile=baseline ! rtph264pay name=pay0 pt=96 config-interval=-1 )";
}

RtspServer::RtspServer(const RtspSettings& settings, FaultTable& faults, RequestLog& log)
    : impl_(std::make_unique<Impl>(settings, faults, log)) {}

RtspServer::~RtspServer() {
  if (impl_->loop) g_main_loop_quit(impl_->loop);
  if (loop_.joinable()) loop_.join();
  if (impl_->source) {
    GSource* source = g_main_context_find_source_by_id(impl_->context, impl_->source);
    if (source) g_source_destroy(source);
  }
  if (impl_->server) g_object_unref(impl_->server);
  if (impl_->loop) g_main_loop_unref(impl_->loop);
  if (impl_->context) g_main_context_unref(impl_->context);
}

std::uint16_t RtspServer::start() {
  gst_init(nullptr, nullptr);
  impl_->context = g_main_context_new();
  impl_->loop = g_main_loop_new(impl_->context, FALSE);
  impl_->server = gst_rtsp_server_new();
  gst_rtsp_server_set_address(impl_->server, impl_->settings.bindAddress.c_str());
  gst_rtsp_server_set_service(impl_->server, std::to_string(impl_->settings.port).c_str());
  GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
  gst_rtsp_media_factory_set_launch(factory, rtspLaunchLine(impl_->settings).c_str());
  // Only over the RTSP connection: a simulator must not open UDP ports to anyone who asks.
  gst_rtsp_media_factory_set_protocols(factory, GST_RTSP_LOWER_TRANS_TCP);
  g_signal_connect(factory, "media-configure", G_CALLBACK(onMediaConfigure), impl_.get());
  addAuthentication(impl_->settings, impl_->server, factory);
  GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(impl_->server);
  gst_rtsp_mount_points_add_factory(mounts, kRtspStreamPath, factory);
  g_object_unref(mounts);
  g_signal_connect(impl_->server, "client-connected", G_CALLBACK(onClientConnected), impl_.get());
  impl_->source = gst_rtsp_server_attach(impl_->server, impl_->context);
  if (impl_->source == 0) throw std::runtime_error("RTSP port " + std::to_string(impl_->settings.port) + " not free");
  const int port = gst_rtsp_server_get_bound_port(impl_->server);
  GMainLoop* loop = impl_->loop;
  GMainContext* context = impl_->context;
  loop_ = std::thread([loop, context] {
    g_main_context_push_thread_default(context);
    g_main_loop_run(loop);
    g_main_context_pop_thread_default(context);
  });
  return static_cast<std::uint16_t>(port);
}

}  // namespace camsim
