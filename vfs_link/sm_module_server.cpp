#include "vfs_link/sm_module_server.h"

#include <sstream>

#include <boost/asio/error.hpp>
#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/system/system_error.hpp>

#include "error.pb.h"
#include "framework/log/cf_log.h"
#include "service/sm_app.h"
#include "service/sm_settings.h"
#include "vfs_link/sm_module_tie.h"
#include "vfs_link/sm_share_load.h"

namespace {

// sockaddr_un's path holds 108 bytes with the terminator.
constexpr std::size_t max_socket_path = 107;

std::string quoted(boost::filesystem::path const& path) {
  std::ostringstream text;
  text << path;
  return text.str();
}

[[noreturn]] void refuse(char const* operation, boost::filesystem::path const& path,
                         boost::system::error_code const& ec) {
  if (cf_log_threshold <= CF_LOG_ERROR)
    cf_log(CF_LOG_ERROR, boost::filesystem::filesystem_error(operation, path, ec).what());
  throw qn::EC_BAD_CONFIG;
}

// Errors that pass once descriptors or memory free up; accepting must not end the daemon for them.
bool out_of_resources(boost::system::error_code const& ec) {
  namespace errc = boost::system::errc;
  return ec == errc::too_many_files_open || ec == errc::too_many_files_open_in_system || ec == errc::no_buffer_space ||
         ec == errc::not_enough_memory || ec == errc::connection_aborted;
}

}  // namespace

constexpr std::chrono::seconds sm_module_server_t::accept_pause;

sm_module_server_t::sm_module_server_t(sm_app_t& app)
    : app(app), acceptor(app.io_context), pause_timer(app.io_context) {}

sm_module_server_t::~sm_module_server_t() {
  for (auto const& entry : loads)
    if (std::shared_ptr<sm_share_load_t> const load = entry.second.lock()) load->drop_waiting();
  if (!socket_path.empty()) remove_socket_file();
  boost::system::error_code ignored;
  acceptor.close(ignored);
  pause_timer.cancel();
}

void sm_module_server_t::init() {
  if (!socket_path.empty()) {
    boost::system::error_code const ec = remove_socket_file();
    if (ec) refuse("remove", socket_path, ec);
  }
  boost::filesystem::path const path =
      boost::filesystem::path(app.settings->samba_chroot_dir()) / app.settings->smb_socket_path();
  socket_path = path.string();
  if (cf_log_threshold <= CF_LOG_DEBUG) cf_log(CF_LOG_DEBUG, "sm_module_server_t: using socket " + quoted(path));
  boost::system::error_code ec = remove_socket_file();
  if (ec) refuse("remove", path, ec);

  if (acceptor.is_open()) acceptor.close(ec);
  pause_timer.cancel();
  pending.reset();
  acceptor.open(boost::asio::local::stream_protocol());
  if (socket_path.size() > max_socket_path) throw boost::system::system_error(boost::asio::error::name_too_long);
  acceptor.bind(boost::asio::local::stream_protocol::endpoint(socket_path), ec);
  if (ec) refuse("bind", path, ec);
  acceptor.listen(128);
  async_accept();
}

boost::system::error_code sm_module_server_t::remove_socket_file() {
  boost::system::error_code ec;
  boost::filesystem::remove(socket_path, ec);
  return ec;
}

void sm_module_server_t::async_accept() {
  std::shared_ptr<socket_t> socket = std::make_shared<socket_t>(app.io_context);
  pending = socket;
  acceptor.async_accept(*socket, [this, socket](boost::system::error_code const& ec) { handle_accept(ec, socket); });
}

void sm_module_server_t::handle_accept(boost::system::error_code const& ec, std::shared_ptr<socket_t> const& socket) {
  if (ec == boost::asio::error::operation_aborted) return;
  // A completion of an acceptor that a reconfiguration has replaced since.
  bool const current = socket == pending;
  if (ec) {
    if (!current) return;
    if (out_of_resources(ec)) {
      pause_accepting(ec);
      return;
    }
    throw boost::system::system_error(ec, "accept");
  }
  sm_module_tie_t::create(app, socket);
  if (current) async_accept();
}

void sm_module_server_t::pause_accepting(boost::system::error_code const& ec) {
  if (cf_log_threshold <= CF_LOG_ERROR)
    cf_log(CF_LOG_ERROR, "sm_module_server_t: accept: " + ec.message() + "; accepting again in " +
                             std::to_string(accept_pause.count()) + " s");
  pending.reset();
  pause_timer.expires_after(accept_pause);
  pause_timer.async_wait([this](boost::system::error_code const& wait_ec) {
    // A reconfiguration during the pause has started accepting already.
    if (wait_ec || pending) return;
    async_accept();
  });
}

std::shared_ptr<sm_share_load_t> sm_module_server_t::share_load(std::string const& tag) {
  std::weak_ptr<sm_share_load_t>& entry = loads[tag];
  std::shared_ptr<sm_share_load_t> load = entry.lock();
  if (load) return load;
  load = std::make_shared<sm_share_load_t>(app.io_context);
  entry = load;
  // Tags of shares gone are dropped here, so that a module naming ever new tags holds nothing.
  for (auto it = loads.begin(); it != loads.end();) it = it->second.expired() ? loads.erase(it) : std::next(it);
  return load;
}
