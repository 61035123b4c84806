#pragma once

// ConfigD's side of the link for the stand-in: prints every message the daemon
// sends and answers the two requests.

#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>

#include "configd_smb_gardix_ipc.pb.h"
#include "framework/ipc_link/cf_basic_ipc_link.h"

struct stub_settings_t {
  std::string config_file;  // qn.SMBGardixConfig in text format
  std::uint32_t revision = 1;
  bool suspended = false;
  std::string fcheck_socket;  // empty: the file checker is reported missing
};

class stub_configd_t : public std::enable_shared_from_this<stub_configd_t>, public cf_ipc_link_t {
 public:
  // Adopts `fd` and starts reading; `on_end` runs once the daemon's end is gone.
  static std::shared_ptr<stub_configd_t> create(boost::asio::io_context& io, int fd, stub_settings_t const& settings,
                                                std::function<void()> const& on_end);

  // Reads the settings file; false (after a line on standard error) when it
  // cannot be read or parsed.
  static bool load_config(std::string const& file, qn::SMBGardixConfig& config);
  // Re-reads the settings and sends them as a GET_CONFIG_RESPONSE.
  void push_config();
  void close();

 protected:
  void on_message(google::protobuf::io::ZeroCopyInputStream* stream) override;
  void on_error(boost::system::error_code const& ec) override;
  std::shared_ptr<cf_ipc_link_t> get_shared() override;

 private:
  stub_configd_t(stub_settings_t const& settings, std::function<void()> const& on_end);

  stub_settings_t settings;
  std::function<void()> on_end;
};
