#pragma once

// The daemon's one channel to ConfigD, on the descriptor ConfigD handed over.
// Every fault on it ends the daemon.

#include <functional>
#include <list>
#include <memory>
#include <string>

#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>

#include "configd_smb_gardix_ipc.pb.h"
#include "framework/ipc_link/cf_basic_ipc_link.h"

class sm_app_t;

class sm_configd_tie_t : public std::enable_shared_from_this<sm_configd_tie_t>, public cf_ipc_link_t {
 public:
  typedef std::function<void(boost::system::error_code const&, boost::filesystem::path const&)> fcheck_callback_t;

  // Adopts the connected descriptor and starts reading. Throws system_error
  // ("assign") when the descriptor cannot be used as a socket.
  static std::shared_ptr<sm_configd_tie_t> create(sm_app_t& app, int fd);

  void get_config_request();
  // Every waiting callback is answered by the next GET_FCHECK_RESPONSE; only
  // the first one of a round sends a request.
  void get_fcheck_request(fcheck_callback_t const& callback);
  void my_stat_notification(qn::SMBGardixAppStat const& stat);
  void my_info_notification();

  // The scan-engine core fingerprint last seen; empty at start.
  std::string const& stored_core_fingerprint() const { return core_fingerprint; }

  // The fingerprint an APPINFO_NOTIFICATION carries: that of the last scan-engine
  // or VornD entry that has one; empty when none does.
  static std::string core_fingerprint_of(qn::Configd2SMBGardixMessage const& message);

 protected:
  void on_message(google::protobuf::io::ZeroCopyInputStream* stream) override;
  void on_error(boost::system::error_code const& ec) override;
  std::shared_ptr<cf_ipc_link_t> get_shared() override;

 private:
  explicit sm_configd_tie_t(sm_app_t& app);

  void handle_message(qn::Configd2SMBGardixMessage const& message);
  void handle_config_response(qn::Configd2SMBGardixMessage const& message);
  void handle_fcheck_response(qn::Configd2SMBGardixMessage const& message);
  void handle_appinfo_notification(qn::Configd2SMBGardixMessage const& message);
  void send(qn::SMBGardix2ConfigdMessage::MessageTag tag);

  sm_app_t& app;
  std::list<fcheck_callback_t> fcheck_callbacks;
  std::string core_fingerprint;
};
