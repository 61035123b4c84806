#include "scanning/sm_fcheck_connector.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include "application.pb.h"
#include "error.pb.h"
#include "framework/error/cf_proto_error_impl.h"
#include "framework/log/cf_log.h"

namespace {

constexpr std::size_t fcheck_message_limit = std::size_t(1) << 26;
// sun_path less its terminating zero.
constexpr std::size_t max_socket_path = sizeof(sockaddr_un::sun_path) - 1;

std::uint32_t own_pid() { return static_cast<std::uint32_t>(::getpid()); }

boost::system::error_code code_of(fc::ServerMessage const& msg) {
  return qn::make_error_code(msg.has_error() ? msg.error().code() : qn::EC_OK);
}

}  // namespace

sm_fcheck_connector_t::delegate::~delegate() = default;

sm_fcheck_connector_t::sm_fcheck_connector_t() : cf_ipc_link_t(fcheck_message_limit) {}

std::shared_ptr<sm_fcheck_connector_t> sm_fcheck_connector_t::create(boost::asio::io_context& io,
                                                                     boost::filesystem::path const& socket_path) {
  if (socket_path.native().size() > max_socket_path)
    throw boost::system::system_error(boost::system::error_code(ENAMETOOLONG, boost::system::system_category()));
  std::shared_ptr<sm_fcheck_connector_t> link(new sm_fcheck_connector_t());
  link->socket = std::make_shared<cf_local_stream_socket_t>(io);
  boost::asio::local::stream_protocol::endpoint const endpoint(socket_path.native());
  boost::system::error_code ec;
  link->socket->open(endpoint.protocol(), ec);
  if (!ec) link->socket->native_non_blocking(true, ec);
  // Never waited for: a file checker whose backlog is full would hold the whole event loop. Such a
  // connect fails at once (EAGAIN), as any other that the system cannot complete on the spot.
  if (!ec && ::connect(link->socket->native_handle(), endpoint.data(), endpoint.size()) != 0)
    ec = boost::system::error_code(errno, boost::system::system_category());
  if (ec) throw boost::system::system_error(ec, "connect");
  link->async_read_header();
  return link;
}

std::shared_ptr<sm_fcheck_connector_t> sm_fcheck_connector_t::create_for(boost::asio::io_context& io,
                                                                         boost::system::error_code const& answer,
                                                                         boost::filesystem::path const& socket_path,
                                                                         delegate* owner,
                                                                         boost::system::error_code& failure) {
  if (answer) {
    if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, "Failed to get DazaVadov socket: " + answer.message());
    failure = answer;
    return nullptr;
  }
  std::shared_ptr<sm_fcheck_connector_t> link;
  try {
    link = create(io, socket_path);
  } catch (boost::system::system_error const& e) {
    if (cf_log_threshold <= CF_LOG_ERROR)
      cf_log(CF_LOG_ERROR, std::string("Failed to create DazaVadov connection: ") + e.what());
    failure = e.code();
    return nullptr;
  }
  link->set_delegate(owner);
  return link;
}

void sm_fcheck_connector_t::set_delegate(delegate* d) { owner = d; }

void sm_fcheck_connector_t::close() {
  owner = nullptr;
  boost::system::error_code ignored;
  if (socket) socket->close(ignored);
}

std::shared_ptr<cf_ipc_link_t> sm_fcheck_connector_t::get_shared() { return shared_from_this(); }

void sm_fcheck_connector_t::subscribe_to_threats() {
  fc::ClientMessage msg;
  msg.set_tag(fc::ClientMessage::SUBSCRIBE_TO_THREATS);
  async_send_message(msg);
}

std::uint32_t sm_fcheck_connector_t::threat_sync_request(std::int64_t threat_id) {
  std::uint32_t const serial = threat_op_serial++;
  fc::ClientMessage msg;
  msg.set_tag(fc::ClientMessage::THREAT_SYNC_REQUEST);
  msg.set_serial(serial);
  msg.set_threat_id(threat_id);
  msg.set_origin(qn::APP_SMB_GARDIX);
  msg.set_pid(own_pid());
  async_send_message(msg);
  return serial;
}

void sm_fcheck_connector_t::my_threat_notification(std::int64_t history_id) {
  fc::ClientMessage msg;
  msg.set_tag(fc::ClientMessage::MY_THREAT_NOTIFICATION);
  msg.set_history_id(history_id);
  async_send_message(msg);
}

std::uint32_t sm_fcheck_connector_t::threat_op_request(std::int64_t threat_id, qn::ThreatOp op) {
  std::uint32_t const serial = threat_op_serial++;
  fc::ClientMessage msg;
  msg.set_tag(fc::ClientMessage::THREAT_OP_REQUEST);
  msg.set_serial(serial);
  msg.set_threat_id(threat_id);
  msg.set_op(op);
  msg.set_origin(qn::APP_SMB_GARDIX);
  msg.set_pid(own_pid());
  async_send_message(msg);
  return serial;
}

void sm_fcheck_connector_t::open_proxy() {
  fc::ClientMessage msg;
  msg.set_tag(fc::ClientMessage::OPEN_PROXY);
  msg.set_origin(qn::APP_SMB_GARDIX);
  msg.set_pid(own_pid());
  async_send_message(msg);
}

void sm_fcheck_connector_t::proxy_options_notification(fc::ProxyOptions const& options) {
  fc::ClientMessage msg;
  msg.set_tag(fc::ClientMessage::PROXY_OPTIONS_NOTIFICATION);
  msg.mutable_proxy_options()->CopyFrom(options);
  async_send_message(msg);
}

std::uint32_t sm_fcheck_connector_t::proxy_scan_request(std::string const& path) {
  std::uint32_t const serial = proxy_serial++;
  fc::ClientMessage msg;
  msg.set_tag(fc::ClientMessage::PROXY_SCAN_REQUEST);
  msg.set_serial(serial);
  msg.set_path(path);
  async_send_message(msg);
  return serial;
}

void sm_fcheck_connector_t::on_message(google::protobuf::io::ZeroCopyInputStream* stream) {
  fc::ServerMessage msg;
  if (!msg.ParseFromZeroCopyStream(stream)) {
    on_error(qn::make_error_code(qn::EC_BAD_MESSAGE_FORMAT));
    return;
  }
  handle_message(msg);
}

void sm_fcheck_connector_t::argument_check_failed(fc::ServerMessage const& msg, char const* condition) {
  if (cf_log_threshold <= CF_LOG_ERROR)
    cf_log(CF_LOG_ERROR, "DazaVadov connection: " + fc::ServerMessage::ServerMessageTag_Name(msg.tag()) +
                             ": argument check failed: " + condition);
  on_error(qn::make_error_code(qn::EC_PROTOCOL_VIOLATION));
}

void sm_fcheck_connector_t::handle_message(fc::ServerMessage const& msg) {
  switch (msg.tag()) {
    case fc::ServerMessage::THREATS_SUBSCRIBED:
      if (!msg.has_dbpath()) return argument_check_failed(msg, "msg.has_dbpath()");
      if (owner) owner->threats_subscribed(msg.dbpath());
      return;
    case fc::ServerMessage::THREATS_ALARM:
    case fc::ServerMessage::PROXY_ALARM:
      if (!msg.has_error()) return argument_check_failed(msg, "msg.has_error()");
      if (owner) owner->alarm_received(qn::make_error_code(msg.error().code()));
      return;
    case fc::ServerMessage::THREATS_NOTIFICATION:
      if (!msg.has_history_id()) return argument_check_failed(msg, "msg.has_history_id()");
      if (owner) owner->threats_notification_received(msg.history_id());
      return;
    case fc::ServerMessage::THREATS_OP_RESPONSE:
      if (!msg.has_serial()) return argument_check_failed(msg, "msg.has_serial()");
      if (owner) owner->threats_op_response_received(msg.serial(), code_of(msg));
      return;
    case fc::ServerMessage::THREAT_SYNC_RESPONSE:
      if (!msg.has_serial()) return argument_check_failed(msg, "msg.has_serial()");
      if (owner) owner->threat_sync_response_received(msg.serial(), msg.history_id(), code_of(msg));
      return;
    case fc::ServerMessage::PROXY_READY:
      if (cf_log_threshold <= CF_LOG_DEBUG) cf_log(CF_LOG_DEBUG, "Proxy ready");
      return;
    case fc::ServerMessage::PROXY_SCAN_RESPONSE:
      if (!msg.has_serial()) return argument_check_failed(msg, "msg.has_serial()");
      if (!msg.has_scan_report() && !msg.has_error())
        return argument_check_failed(msg, "msg.has_scan_report() || msg.has_error()");
      if (owner) owner->proxy_scan_response_received(msg.serial(), msg.scan_report(), msg.threat_id(), code_of(msg));
      return;
    default:
      on_error(qn::make_error_code(qn::EC_UNEXPECTED_MESSAGE));
      return;
  }
}

void sm_fcheck_connector_t::on_error(boost::system::error_code const& ec) {
  boost::system::error_code ignored;
  if (socket) socket->close(ignored);
  if (!owner) return;
  if (ec == boost::asio::error::eof)
    owner->connection_error(qn::make_error_code(qn::EC_LINK_DISCONNECTED));
  else
    owner->connection_error(ec);
}
