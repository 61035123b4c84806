#include "vfs_link/sm_module_tie.h"

#include <exception>
#include <sstream>

#include <boost/asio/error.hpp>
#include <boost/asio/write.hpp>
#include <boost/system/system_error.hpp>

#include "framework/error/cf_error_conversions.h"
#include "framework/log/cf_log.h"
#include "framework/text/lex_name.h"
#include "scanning/sm_proxy_scan.h"
#include "scanning/sm_report_rules.h"
#include "service/sm_app.h"
#include "service/sm_error.h"
#include "service/sm_path.h"
#include "service/sm_settings.h"
#include "service/sm_share_stat.h"
#include "threats/sm_threat_base.h"
#include "vfs_link/sm_file_cache.h"
#include "vfs_link/sm_module_server.h"
#include "vfs_link/sm_share_load.h"

namespace {

constexpr std::size_t read_size = 5120;

char const* const op_names[] = {"?", "open", "close", "read", "write"};

std::string quoted(boost::filesystem::path const& path) {
  std::ostringstream text;
  text << path;
  return text.str();
}

void debug(std::string const& text) { cf_log(CF_LOG_DEBUG, text); }

// A path that starts with one "/" has the root directory; only other paths take a copy into
// the path type, which every request would otherwise pay for.
bool has_root_directory(std::string const& path) {
  if (!path.empty() && path[0] == '/' && (path.size() == 1 || path[1] != '/')) return true;
  return boost::filesystem::path(path).has_root_directory();
}

}  // namespace

constexpr std::size_t sm_module_tie_t::max_frame_body;
constexpr std::size_t sm_module_tie_t::max_unsent;
constexpr std::size_t sm_module_tie_t::max_unanswered;
constexpr std::chrono::milliseconds sm_module_tie_t::max_clock_wait;

sm_module_tie_t::sm_module_tie_t(sm_app_t& app, std::shared_ptr<socket_t> const& socket) : app(&app), socket(socket) {
  set_frame_limit(max_frame_body);
  settings_slot = app.reconfigured.connect([this] { send_share_settings(); });
}

sm_module_tie_t::~sm_module_tie_t() {
  if (cf_log_threshold <= CF_LOG_DEBUG) debug("sm_module_tie_t: end");
}

std::shared_ptr<sm_module_tie_t> sm_module_tie_t::create(sm_app_t& app, std::shared_ptr<socket_t> const& socket) {
  std::shared_ptr<sm_module_tie_t> tie(new sm_module_tie_t(app, socket));
  if (cf_log_threshold <= CF_LOG_DEBUG) debug("sm_module_tie_t: start");
  tie->start_read();
  return tie;
}

void sm_module_tie_t::room_made() {
  awaiting_room = false;
  read_on();
}

bool sm_module_tie_t::held_back() const {
  return unanswered >= max_unanswered || pending_output.size() + in_flight_output.size() > max_unsent || share_full();
}

bool sm_module_tie_t::share_full() const { return load && load->full(); }

// A module that sends faster than it takes its verdicts in, or a share whose requests pile up, is
// read no further until they have drained: the frames already read wait where they are, and no
// new work is taken.
void sm_module_tie_t::read_on() {
  while (!reading && socket->is_open()) {
    if (held_back()) {
      // Its own verdicts and writes wake a connection; a full share wakes it when it has room.
      if (share_full() && !awaiting_room) {
        awaiting_room = true;
        load->wait(shared_from_this());
      }
      return;
    }
    if (unread == read_end) {
      start_read();
      return;
    }
    // Reading stays set meanwhile: a verdict sent from a frame must not start a read into the buffer.
    reading = true;
    std::size_t used = 0;
    bool const processed = process_some(read_buffer.data() + unread, read_end - unread, used);
    reading = false;
    unread += used;
    if (!processed) {
      // A frame that closed the connection has said what there was to say.
      if (socket->is_open()) close_with_error("failed to process received data");
      return;
    }
  }
}

void sm_module_tie_t::start_read() {
  reading = true;
  // Sized once: cutting it to each read's bytes would zero 5 KiB again before every read.
  read_buffer.resize(read_size);
  std::shared_ptr<sm_module_tie_t> self = shared_from_this();
  socket->async_read_some(boost::asio::buffer(read_buffer), [self](boost::system::error_code const& ec,
                                                                   std::size_t size) { self->handle_read(ec, size); });
}

void sm_module_tie_t::handle_read(boost::system::error_code const& ec, std::size_t size) {
  reading = false;
  if (ec) {
    handle_error(ec);
    return;
  }
  unread = 0;
  read_end = size;
  read_on();
}

void sm_module_tie_t::on_message(kson::parser_t& parser) {
  // Frames behind one that closed the connection are not handled.
  if (!socket->is_open()) return;
  sm_module_msg_t& msg = received;
  if (!msg.deserialize(parser)) {
    close_with_error("failed to deserialize");
  } else if (msg.type == sm_module_msg_t::TYPE_HELLO) {
    on_hello(msg);
  } else if (msg.type == sm_module_msg_t::TYPE_FILE_EVENT) {
    on_file_event(msg);
  } else {
    close_with_error("unknown IPC message");
  }
  // The next frame waits until there is room for what it may ask.
  if (held_back()) pause();
}

void sm_module_tie_t::on_hello(sm_module_msg_t const& msg) {
  if (cf_log_threshold <= CF_LOG_DEBUG)
    debug("sm_module_tie_t: tag=\"" + msg.tag + "\" basedir=" + quoted(msg.basedir));
  if (!basedir.empty() || !has_root_directory(msg.basedir)) {
    close_with_error("bad IPC message");
    return;
  }
  tag = lex_normalize_name(msg.tag);
  basedir = msg.basedir;
  load = app->module_server->share_load(tag);
  app->share_stat->count_in(basedir);
  send_share_settings();
}

void sm_module_tie_t::on_file_event(sm_module_msg_t const& msg) {
  if (cf_log_threshold <= CF_LOG_DEBUG)
    debug("sm_module_tie_t: serial=" + std::to_string(msg.serial) + " path=" + quoted(msg.path) +
          " dev=" + std::to_string(msg.has_dev ? msg.dev : 0) + " ino=" + std::to_string(msg.has_ino ? msg.ino : 0) +
          " " + op_names[msg.op]);
  if (basedir.empty() || !msg.has_dev || !msg.has_ino || msg.op == sm_module_msg_t::OP_NONE) {
    close_with_error("bad IPC message");
    return;
  }
  if (msg.op == sm_module_msg_t::OP_WRITE) {
    if (app->settings->suspended) return;
    std::shared_ptr<qn::RemoteUser> writer;
    if (!msg.ip.empty() || !msg.user.empty()) {
      writer = std::make_shared<qn::RemoteUser>();
      if (!msg.ip.empty()) writer->set_ip(msg.ip);
      if (!msg.user.empty()) {
        writer->set_user(msg.user);
        if (!msg.domain.empty()) writer->set_domain(msg.domain);
      }
    }
    app->file_cache->mark_modified(msg.dev, msg.ino, writer);
    return;
  }
  if (msg.serial == 0 || !has_root_directory(msg.path)) {
    close_with_error("bad IPC message");
    return;
  }
  ++unanswered;
  load->take();
  if (app->settings->suspended)
    send_verdict(msg.serial, app->threat_handler->default_verdict(tag));
  else
    check_file(msg);
}

void sm_module_tie_t::check_file(sm_module_msg_t const& msg) {
  // Before the path is touched: a file known clean costs no file-system call.
  std::shared_ptr<qn::RemoteUser> last_writer;
  if (app->file_cache->is_clean(msg.dev, msg.ino, last_writer)) {
    send_verdict(msg.serial, sm_module_msg_t::VERDICT_ALLOWED);
    return;
  }
  boost::filesystem::path path;
  std::size_t chroot_size = 0;
  try {
    path = sm_normalize_path(app->settings->samba_chroot_dir(), msg.path, chroot_size);
  } catch (std::exception const& e) {
    std::uint32_t const verdict = app->threat_handler->default_verdict(tag);
    if (cf_log_threshold <= CF_LOG_ERROR)
      cf_log(CF_LOG_ERROR, "Failed to normalize path " + quoted(msg.path) + " (" + cf_exception_to_text(e) + "), " +
                               sm_verdict_name(verdict));
    send_verdict(msg.serial, verdict);
    return;
  }
  if (cf_log_threshold <= CF_LOG_DEBUG)
    debug("sm_module_tie_t::check_file: " + quoted(msg.path) + " -> " + quoted(path));
  if (msg.op != sm_module_msg_t::OP_OPEN) {
    scan(path, chroot_size, msg.dev, msg.ino, last_writer, msg.serial);
    return;
  }
  // Detections are recorded under the share's normalised tag from the hello, so that tag keys the
  // lock check; an event's own tag may be missing or spelled otherwise and would never match.
  std::shared_ptr<sm_module_tie_t> self = shared_from_this();
  auto const checked = [self, path, chroot_size, msg, last_writer](bool locked) {
    if (!locked) {
      self->scan(path, chroot_size, msg.dev, msg.ino, last_writer, msg.serial);
      return;
    }
    if (cf_log_threshold <= CF_LOG_DEBUG) debug(quoted(path) + " already locked");
    self->send_verdict(msg.serial, sm_module_msg_t::VERDICT_REJECTED);
  };
  app->threat_base->async_check_locked(path, msg.dev, msg.ino, tag, checked);
}

void sm_module_tie_t::scan(boost::filesystem::path const& path, std::size_t chroot_size, std::uint64_t dev,
                           std::uint64_t ino, std::shared_ptr<qn::RemoteUser> const& last_writer,
                           std::uint32_t serial) {
  auto info = std::make_shared<sm_threat_handler_t::scan_info_t>();
  info->dev = dev;
  info->ino = ino;
  info->path = path.string();
  info->last_writer = last_writer;
  info->tag = tag;
  info->start = sm_clock_t::steady::now();
  // Only an answer that may be kept needs the path's stamp.
  if (app->file_cache->enabled())
    stamp_and_send(serial, info, chroot_size);
  else
    send_scan(serial, info);
}

void sm_module_tie_t::stamp_and_send(std::uint32_t serial,
                                     std::shared_ptr<sm_threat_handler_t::scan_info_t> const& info,
                                     std::size_t chroot_size) {
  // Before the request leaves, so that whatever changes on the path while it is scanned shows; the clock
  // first, so that a change made while the stamp is taken counts as one the clock has not passed.
  timespec const now = sm_clock_t::coarse_real_now();
  info->sent = sm_path_stamp_t(info->path, chroot_size);
  sm_path_stamp_t::trust_t const trust = info->sent.trust(now);
  // A fresh change time may run a few ticks ahead of the clock as it is read here, where the kernel's
  // own times are finer or its clock is updated late; waiting on the loop would stall every share.
  if (trust == sm_path_stamp_t::too_recent)
    await_clock(serial, info, chroot_size, sm_clock_t::steady::now() + max_clock_wait);
  else
    send_stamped(serial, info, trust, true);
}

void sm_module_tie_t::await_clock(std::uint32_t serial, std::shared_ptr<sm_threat_handler_t::scan_info_t> const& info,
                                  std::size_t chroot_size, sm_clock_t::steady::time_point deadline) {
  auto timer = std::make_shared<sm_steady_timer_t>(app->io_context, sm_clock_t::coarse_real_tick());
  std::shared_ptr<sm_module_tie_t> self = shared_from_this();
  timer->async_wait([self, timer, serial, info, chroot_size, deadline](boost::system::error_code const&) {
    timespec const now = sm_clock_t::coarse_real_now();
    bool const passed = info->sent.trust(now) == sm_path_stamp_t::trusted;
    if (!passed && sm_clock_t::steady::now() < deadline) return self->await_clock(serial, info, chroot_size, deadline);
    // Only a stamp taken once the clock has passed the changes holds for what the scan reads.
    info->sent = sm_path_stamp_t(info->path, chroot_size);
    self->send_stamped(serial, info, info->sent.trust(now), passed);
  });
}

void sm_module_tie_t::send_stamped(std::uint32_t serial, std::shared_ptr<sm_threat_handler_t::scan_info_t> const& info,
                                   sm_path_stamp_t::trust_t trust, bool passed) {
  if (trust != sm_path_stamp_t::trusted) {
    info->stamp_untrusted = true;
    if (cf_log_threshold <= CF_LOG_DEBUG) {
      char const* const why = trust == sm_path_stamp_t::whole_seconds
                                  ? "within two seconds on a file system that keeps whole seconds"
                              : passed ? "again while its scan waited for the clock"
                                       : "at a time the clock did not pass within 50 ms";
      debug("sm_module_tie_t::scan: " + quoted(info->path) + " or a folder above it changed " + why + " (dev=" +
            std::to_string(info->dev) + " ino=" + std::to_string(info->ino) + "), access allowed is not cached");
    }
  }
  send_scan(serial, info);
}

void sm_module_tie_t::send_scan(std::uint32_t serial, std::shared_ptr<sm_threat_handler_t::scan_info_t> const& info) {
  std::shared_ptr<sm_module_tie_t> self = shared_from_this();
  boost::filesystem::path path(info->path);
  app->get_proxy_scan(tag)->async_scan(
      info->path, [self, serial, path, held = info](boost::system::error_code const& ec, qn::ScanReport const& report,
                                                    std::int64_t threat_id) mutable {
        self->scan_done(serial, path, held, ec, report, threat_id);
      });
}

void sm_module_tie_t::scan_done(std::uint32_t serial, boost::filesystem::path const& path,
                                std::shared_ptr<sm_threat_handler_t::scan_info_t>& info,
                                boost::system::error_code const& ec, qn::ScanReport const& report,
                                std::int64_t threat_id) {
  std::uint32_t verdict;
  if (ec) {
    verdict = app->threat_handler->default_verdict(tag);
    if (cf_log_threshold <= CF_LOG_WARNING)
      cf_log(CF_LOG_WARNING,
             "Error on scanning " + quoted(path) + " (" + ec.message() + "), " + sm_verdict_name(verdict));
  } else {
    info->report.CopyFrom(report);
    verdict = app->threat_handler->process_scan_info(*info, threat_id);
  }
  send_verdict(serial, verdict);
}

void sm_module_tie_t::send_verdict(std::uint32_t serial, std::uint32_t verdict) {
  send_message(sm_module_msg_t::make_verdict(serial, verdict));
  --unanswered;
  load->give_back();
  read_on();
}

void sm_module_tie_t::send_message(sm_module_msg_t const& msg) {
  if (!kson::transport_stream_t::serialize(msg, pending_output))
    throw boost::system::system_error(sm_make_error_code(1), "VFS module connection");
  write_pending();
}

void sm_module_tie_t::write_pending() {
  if (!socket->is_open() || !in_flight_output.empty() || pending_output.empty()) return;
  // Swapped, not copied: replies queue in the other buffer meanwhile.
  pending_output.swap(in_flight_output);
  std::shared_ptr<sm_module_tie_t> self = shared_from_this();
  boost::asio::async_write(*socket, boost::asio::buffer(in_flight_output),
                           [self](boost::system::error_code const& ec, std::size_t) { self->handle_write(ec); });
}

void sm_module_tie_t::handle_write(boost::system::error_code const& ec) {
  if (ec) {
    handle_error(ec);
    return;
  }
  in_flight_output.clear();
  if (settings_deferred)
    send_share_settings();
  else
    write_pending();
  read_on();
}

void sm_module_tie_t::send_share_settings() {
  if (!in_flight_output.empty()) {
    settings_deferred = true;
    return;
  }
  sm_module_msg_t msg = sm_module_msg_t::make_share_settings();
  for (std::string const& path : app->settings->excluded_paths(tag)) msg.add_excluded_path(path);
  for (std::string const& path : app->settings->included_paths(tag)) msg.add_included_path(path);
  send_message(msg);
  settings_deferred = false;
}

void sm_module_tie_t::close_connection() {
  // Once closed, aborted operations and later errors change nothing, so the
  // connection is counted out once.
  if (!socket->is_open()) return;
  if (cf_log_threshold <= CF_LOG_DEBUG) debug("sm_module_tie_t::close_connection");
  boost::system::error_code ignored;
  socket->close(ignored);
  if (!basedir.empty()) app->share_stat->count_out(basedir);
}

void sm_module_tie_t::close_with_error(std::string const& text) {
  if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, "VFS module connection: " + text);
  close_connection();
}

void sm_module_tie_t::handle_error(boost::system::error_code const& ec) {
  if (!socket->is_open()) return;
  if (ec != boost::asio::error::eof && ec != boost::asio::error::broken_pipe && cf_log_threshold <= CF_LOG_ERROR)
    cf_log(CF_LOG_ERROR, "VFS module connection: " + ec.message());
  close_connection();
}
