#pragma once

// One VFS module's connection: hello, share settings, file events and their
// verdicts, as kson frames.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/local/stream_protocol.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/signals2/connection.hpp>
#include <boost/system/error_code.hpp>

#include "kson/transport_stream.h"
#include "remote_user.pb.h"
#include "scan_report.pb.h"
#include "scanning/sm_threat_handler.h"
#include "vfs_link/sm_module_msg.h"

class sm_app_t;

class sm_module_tie_t : private kson::transport_stream_t, public std::enable_shared_from_this<sm_module_tie_t> {
 public:
  typedef boost::asio::local::stream_protocol::socket socket_t;

  static std::shared_ptr<sm_module_tie_t> create(sm_app_t& app, std::shared_ptr<socket_t> const& socket);
  ~sm_module_tie_t() override;

 private:
  sm_module_tie_t(sm_app_t& app, std::shared_ptr<socket_t> const& socket);

  void on_message(kson::parser_t& parser) override;

  sm_app_t* app;
  std::shared_ptr<socket_t> socket;
};
