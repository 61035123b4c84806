#include "service/sm_configd_tie.h"

#include <unistd.h>

#include <boost/system/system_error.hpp>

#include "error.pb.h"
#include "framework/error/cf_proto_error_impl.h"
#include "framework/log/cf_log.h"
#include "se_appinfo.pb.h"
#include "service/sm_app.h"
#include "service/sm_settings.h"
#include "vornd_appinfo.pb.h"

namespace {

// 64 MiB both ways.
constexpr std::size_t configd_message_limit = std::size_t(1) << 26;

[[noreturn]] void argument_check_failed(char const* text) {
  if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, text);
  throw qn::EC_PROTOCOL_VIOLATION;
}

}  // namespace

sm_configd_tie_t::sm_configd_tie_t(sm_app_t& app) : cf_ipc_link_t(configd_message_limit), app(app) {}

std::shared_ptr<sm_configd_tie_t> sm_configd_tie_t::create(sm_app_t& app, int fd) {
  std::shared_ptr<sm_configd_tie_t> tie(new sm_configd_tie_t(app));
  tie->socket = std::make_shared<cf_local_stream_socket_t>(app.io_context);
  boost::system::error_code ec;
  tie->socket->assign(boost::asio::local::stream_protocol(), fd, ec);
  if (ec) throw boost::system::system_error(ec, "assign");
  tie->async_read_header();
  return tie;
}

std::shared_ptr<cf_ipc_link_t> sm_configd_tie_t::get_shared() { return shared_from_this(); }

void sm_configd_tie_t::send(qn::SMBGardix2ConfigdMessage::MessageTag tag) {
  qn::SMBGardix2ConfigdMessage message;
  message.set_tag(tag);
  async_send_message(message);
}

void sm_configd_tie_t::get_config_request() { send(qn::SMBGardix2ConfigdMessage::GET_CONFIG_REQUEST); }

void sm_configd_tie_t::get_fcheck_request(fcheck_callback_t const& callback) {
  fcheck_callbacks.push_back(callback);
  if (fcheck_callbacks.size() != 1) return;
  qn::SMBGardix2ConfigdMessage message;
  message.set_tag(qn::SMBGardix2ConfigdMessage::GET_FCHECK_REQUEST);
  message.set_uid(::getuid());
  async_send_message(message);
}

void sm_configd_tie_t::my_stat_notification(qn::SMBGardixAppStat const& stat) {
  qn::SMBGardix2ConfigdMessage message;
  message.set_tag(qn::SMBGardix2ConfigdMessage::MY_STAT_NOTIFICATION);
  message.mutable_stat()->CopyFrom(stat);
  async_send_message(message);
}

void sm_configd_tie_t::my_info_notification() {
  qn::SMBGardix2ConfigdMessage message;
  message.set_tag(qn::SMBGardix2ConfigdMessage::MY_INFO_NOTIFICATION);
  message.set_config_revision(app.settings->config_revision());
  message.mutable_info()->set_state(app.settings->suspended ? qn::EC_APP_SUSPENDED : qn::EC_OK);
  async_send_message(message);
}

void sm_configd_tie_t::on_message(google::protobuf::io::ZeroCopyInputStream* stream) {
  qn::Configd2SMBGardixMessage message;
  if (!message.ParseFromZeroCopyStream(stream)) {
    on_error(qn::make_error_code(qn::EC_BAD_MESSAGE_FORMAT));
    return;
  }
  handle_message(message);
}

void sm_configd_tie_t::on_error(boost::system::error_code const& ec) {
  if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, "Monitor connection: " + ec.message());
  throw qn::EC_MONITOR_IPC_ERROR;
}

void sm_configd_tie_t::handle_message(qn::Configd2SMBGardixMessage const& message) {
  switch (message.tag()) {
    case qn::Configd2SMBGardixMessage::GET_CONFIG_RESPONSE:
      handle_config_response(message);
      return;
    case qn::Configd2SMBGardixMessage::GET_FCHECK_RESPONSE:
      handle_fcheck_response(message);
      return;
    case qn::Configd2SMBGardixMessage::APPINFO_NOTIFICATION:
      handle_appinfo_notification(message);
      return;
  }
  if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, "Monitor connection: unknown IPC message tag");
  throw qn::EC_MONITOR_IPC_ERROR;
}

void sm_configd_tie_t::handle_config_response(qn::Configd2SMBGardixMessage const& message) {
  if (!message.has_config_revision())
    argument_check_failed("Monitor: GET_CONFIG_RESPONSE: argument check failed: message.has_config_revision()");
  if (!message.has_config())
    argument_check_failed("Monitor: GET_CONFIG_RESPONSE: argument check failed: message.has_config()");
  bool const suspended = message.has_control() && message.control().suspended();
  app.settings->apply(message.config_revision(), message.config(), suspended);
  app.reconfigure();
  my_info_notification();
}

void sm_configd_tie_t::handle_fcheck_response(qn::Configd2SMBGardixMessage const& message) {
  if (!message.has_uid())
    argument_check_failed("Monitor: GET_FCHECK_RESPONSE: argument check failed: message.has_uid()");
  if (!message.has_socket_path() && !message.has_error())
    argument_check_failed(
        "Monitor: GET_FCHECK_RESPONSE: argument check failed: message.has_socket_path() || message.has_error()");
  if (message.uid() != ::getuid())
    argument_check_failed("Monitor: GET_FCHECK_RESPONSE: argument check failed: message.uid() == getuid()");

  // Emptied first, so that a callback asking again starts a new request.
  std::list<fcheck_callback_t> waiting;
  waiting.swap(fcheck_callbacks);
  boost::system::error_code ec = qn::make_error_code(qn::EC_OK);
  boost::filesystem::path path;
  if (message.has_error())
    ec = qn::make_error_code(message.error().code());
  else
    path = message.socket_path();
  for (fcheck_callback_t const& callback : waiting) callback(ec, path);
}

std::string sm_configd_tie_t::core_fingerprint_of(qn::Configd2SMBGardixMessage const& message) {
  std::string candidate;
  for (qn::AppInfo const& info : message.appinfo()) {
    qn::SEAppInfo const* engine = nullptr;
    if (info.app() == qn::APP_SCAN_ENGINE && info.HasExtension(qn::se_info))
      engine = &info.GetExtension(qn::se_info);
    else if (info.app() == qn::APP_VORND && info.HasExtension(qn::vornd_info))
      engine = &info.GetExtension(qn::vornd_info).se_adaptor_info();
    if (engine && engine->has_core_fingerprint()) candidate = engine->core_fingerprint();
  }
  return candidate;
}

void sm_configd_tie_t::handle_appinfo_notification(qn::Configd2SMBGardixMessage const& message) {
  std::string candidate = core_fingerprint_of(message);
  if (candidate.empty() || candidate == core_fingerprint) return;
  core_fingerprint.swap(candidate);
  // A new scan-engine core may judge files differently.
  app.file_cache->clear();
}
