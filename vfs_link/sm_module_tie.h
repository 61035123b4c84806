#pragma once

// One VFS module's connection: hello, share settings, file events and their
// verdicts, as kson frames.

#include <chrono>
#include <cstddef>
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
#include "service/sm_clock.h"
#include "service/sm_path_stamp.h"
#include "vfs_link/sm_module_msg.h"

class sm_app_t;
class sm_share_load_t;

class sm_module_tie_t : private kson::transport_stream_t, public std::enable_shared_from_this<sm_module_tie_t> {
 public:
  typedef boost::asio::local::stream_protocol::socket socket_t;

  // A module's hello and file events take a few KiB; a longer frame closes the connection.
  static constexpr std::size_t max_frame_body = std::size_t(64) << 10;
  // Queued replies beyond which the connection reads no further; the frame that passes it is the last.
  static constexpr std::size_t max_unsent = std::size_t(32) << 10;
  // Requests waiting for their scan or lock check at which the connection reads no further.
  static constexpr std::size_t max_unanswered = 256;
  // How long a scan waits at most for the clock to pass the changes on its path; after that its allowed
  // answer is not cached.
  static constexpr std::chrono::milliseconds max_clock_wait{50};

  static std::shared_ptr<sm_module_tie_t> create(sm_app_t& app, std::shared_ptr<socket_t> const& socket);
  ~sm_module_tie_t() override;

  // The connection's share has room again.
  void room_made();

 private:
  sm_module_tie_t(sm_app_t& app, std::shared_ptr<socket_t> const& socket);

  void on_message(kson::parser_t& parser) override;
  void on_hello(sm_module_msg_t const& msg);
  void on_file_event(sm_module_msg_t const& msg);
  void check_file(sm_module_msg_t const& msg);
  // `chroot_size`: the length of the canonical chroot directory that `path` begins with.
  void scan(boost::filesystem::path const& path, std::size_t chroot_size, std::uint64_t dev, std::uint64_t ino,
            std::shared_ptr<qn::RemoteUser> const& last_writer, std::uint32_t serial);
  // Stamps the path before its scan is sent; when the clock has not yet passed the changes on it, stamps it
  // once more after waiting for the clock to pass them.
  void stamp_and_send(std::uint32_t serial, std::shared_ptr<sm_threat_handler_t::scan_info_t> const& info,
                      std::size_t chroot_size);
  // Looks at the clock a tick from now: once it has passed the changes `info->sent` saw, or at `deadline`,
  // stamps the path anew and sends the scan; otherwise looks again a tick later.
  void await_clock(std::uint32_t serial, std::shared_ptr<sm_threat_handler_t::scan_info_t> const& info,
                   std::size_t chroot_size, sm_clock_t::steady::time_point deadline);
  // Sends the scan whose stamp has `trust`; an untrusted one keeps its allowed answer out of the cache, and
  // a line says why: for a stamp too recent, whether the clock `passed` the changes of the one before it.
  void send_stamped(std::uint32_t serial, std::shared_ptr<sm_threat_handler_t::scan_info_t> const& info,
                    sm_path_stamp_t::trust_t trust, bool passed);
  void send_scan(std::uint32_t serial, std::shared_ptr<sm_threat_handler_t::scan_info_t> const& info);
  void scan_done(std::uint32_t serial, boost::filesystem::path const& path,
                 std::shared_ptr<sm_threat_handler_t::scan_info_t>& info, boost::system::error_code const& ec,
                 qn::ScanReport const& report, std::int64_t threat_id);

  // Handles the bytes held from the last read, then reads more, unless something holds it back.
  void read_on();
  // Replies unsent, requests unanswered or the share's load at their bounds.
  bool held_back() const;
  bool share_full() const;
  void start_read();
  void handle_read(boost::system::error_code const& ec, std::size_t size);
  void send_verdict(std::uint32_t serial, std::uint32_t verdict);
  void send_message(sm_module_msg_t const& msg);
  void write_pending();
  void handle_write(boost::system::error_code const& ec);
  void send_share_settings();
  void close_connection();
  void close_with_error(std::string const& text);
  void handle_error(boost::system::error_code const& ec);

  sm_app_t* app;
  std::shared_ptr<socket_t> socket;
  std::string tag;                        // normalised; empty before the hello
  std::string basedir;                    // set by the hello that was accepted
  std::shared_ptr<sm_share_load_t> load;  // the share's, from the hello on
  std::vector<char> read_buffer;          // 5120 bytes; each read fills its start
  std::size_t unread = 0;                 // read_buffer[unread, read_end) waits to be handled
  std::size_t read_end = 0;
  std::vector<char> pending_output;    // frames queued behind the write under way
  std::vector<char> in_flight_output;  // the write under way; empty when none is
  bool settings_deferred = false;
  bool reading = false;        // a read is under way, or its bytes are being handled
  bool awaiting_room = false;  // asked the share's load to be woken
  std::size_t unanswered = 0;  // requests without a verdict yet
  sm_module_msg_t received;    // read into again for every frame, keeping its strings' room
  boost::signals2::scoped_connection settings_slot;
};
