#pragma once

// One client connection to the file checker: builds and numbers the daemon's
// requests, checks each incoming message for the fields its tag needs and
// hands the result to its owner. It knows no policy and never reconnects.

#include <cstdint>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>

#include "action.pb.h"
#include "fcheck_client_ipc.pb.h"
#include "framework/ipc_link/cf_basic_ipc_link.h"
#include "scan_report.pb.h"

class sm_fcheck_connector_t : public std::enable_shared_from_this<sm_fcheck_connector_t>, public cf_ipc_link_t {
 public:
  // What the owner is told; called synchronously from the read completion.
  class delegate {
   public:
    virtual ~delegate();
    virtual void threats_op_response_received(std::uint32_t serial, boost::system::error_code const& ec) = 0;
    virtual void proxy_scan_response_received(std::uint32_t serial, qn::ScanReport const& report,
                                              std::int64_t threat_id, boost::system::error_code const& ec) = 0;
    virtual void threats_subscribed(std::string const& dbpath) = 0;
    virtual void threat_sync_response_received(std::uint32_t serial, std::int64_t history_id,
                                               boost::system::error_code const& ec) = 0;
    virtual void threats_notification_received(std::int64_t history_id) = 0;
    virtual void alarm_received(boost::system::error_code const& ec) = 0;
    virtual void connection_error(boost::system::error_code const& ec) = 0;
  };

  // Connects without waiting and starts reading; throws system_error
  // (ENAMETOOLONG for a path over 107 bytes, "connect" otherwise, also for
  // a file checker that cannot take the connection at once).
  static std::shared_ptr<sm_fcheck_connector_t> create(boost::asio::io_context& io,
                                                       boost::filesystem::path const& socket_path);

  // ConfigD's answer to a socket request made into a link for `owner`. On failure logs the
  // owners' Error line ("Failed to get DazaVadov socket: ...", "Failed to create DazaVadov
  // connection: ...") and returns null with the error in `failure`.
  static std::shared_ptr<sm_fcheck_connector_t> create_for(boost::asio::io_context& io,
                                                           boost::system::error_code const& answer,
                                                           boost::filesystem::path const& socket_path, delegate* owner,
                                                           boost::system::error_code& failure);

  // The owner, not owned; set right after create.
  void set_delegate(delegate* owner);
  // For an owner that drops a live link: closes the socket and forgets the
  // owner, so that no late response reaches it.
  void close();

  void subscribe_to_threats();
  std::uint32_t threat_sync_request(std::int64_t threat_id);
  void my_threat_notification(std::int64_t history_id);
  std::uint32_t threat_op_request(std::int64_t threat_id, qn::ThreatOp op);
  void open_proxy();
  void proxy_options_notification(fc::ProxyOptions const& options);
  std::uint32_t proxy_scan_request(std::string const& path);

 protected:
  void on_message(google::protobuf::io::ZeroCopyInputStream* stream) override;
  void on_error(boost::system::error_code const& ec) override;
  std::shared_ptr<cf_ipc_link_t> get_shared() override;

 private:
  sm_fcheck_connector_t();

  void handle_message(fc::ServerMessage const& msg);
  // Logs the failed condition and ends the link with EC_PROTOCOL_VIOLATION.
  void argument_check_failed(fc::ServerMessage const& msg, char const* condition);

  std::uint32_t threat_op_serial = 1;
  std::uint32_t proxy_serial = 1;
  delegate* owner = nullptr;
};
