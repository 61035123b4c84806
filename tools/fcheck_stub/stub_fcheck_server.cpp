#include "tools/fcheck_stub/stub_fcheck_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <vector>

#include "tools/fcheck_stub/stub_text.h"

namespace {

typedef fc::ClientMessage in_t;
typedef fc::ServerMessage out_t;

// After a failed accept (descriptors or memory running short), accepting resumes after this pause.
constexpr std::chrono::milliseconds accept_retry(100);

// The fields a request needs; a request without one of them ends the connection.
std::string missing_field(in_t const& message) {
  static std::map<int, std::vector<char const*>> const needs = {
      {in_t::PROXY_OPTIONS_NOTIFICATION, {"proxy_options"}}, {in_t::PROXY_SCAN_REQUEST, {"serial", "path"}},
      {in_t::THREAT_SYNC_REQUEST, {"serial", "threat_id"}},  {in_t::THREAT_OP_REQUEST, {"serial", "threat_id", "op"}},
      {in_t::MY_THREAT_NOTIFICATION, {"history_id"}},
  };
  auto const found = needs.find(message.tag());
  if (found == needs.end()) return std::string();
  for (char const* name : found->second)
    if (!message.GetReflection()->HasField(message, in_t::descriptor()->FindFieldByName(name))) return name;
  return std::string();
}

out_t reply(out_t::ServerMessageTag tag, std::uint32_t serial) {
  out_t message;
  message.set_tag(tag);
  message.set_serial(serial);
  return message;
}

void set_error(out_t& message, qn::ErrorCode code, std::string const& what) {
  message.mutable_error()->set_code(code);
  if (!what.empty()) message.mutable_error()->set_what(what);
}

}  // namespace

stub_fcheck_server_t::stub_fcheck_server_t(boost::asio::io_context& io, stub_options_t const& options,
                                           stub_scanner_t const& scanner, stub_threat_keeper_t& keeper,
                                           std::string const& db_path)
    : io(io),
      options(options),
      scanner(scanner),
      keeper(keeper),
      db_path(db_path),
      acceptor(io),
      accept_pause(io),
      signals(io, SIGTERM, SIGINT, SIGUSR1) {
  signals.add(SIGUSR2);
}

stub_fcheck_server_t::~stub_fcheck_server_t() {
  if (listening) ::unlink(options.socket_path.c_str());
  for (int fd : backlog) ::close(fd);
}

void stub_fcheck_server_t::start() {
  ::unlink(options.socket_path.c_str());
  try {
    boost::asio::local::stream_protocol::endpoint const endpoint(options.socket_path);
    acceptor.open(endpoint.protocol());
    acceptor.bind(endpoint);
    listening = true;
    acceptor.listen(options.full_backlog ? 0 : 128);
  } catch (std::exception const& e) {
    throw std::runtime_error("cannot listen on " + options.socket_path + ": " + e.what());
  }
  signals.async_wait([this](boost::system::error_code const& ec, int number) { on_signal(ec, number); });
  if (options.full_backlog)
    fill_backlog();
  else
    accept();
  std::cout << "ready" << std::endl;
}

void stub_fcheck_server_t::accept() {
  std::shared_ptr<cf_local_stream_socket_t> socket = std::make_shared<cf_local_stream_socket_t>(io);
  acceptor.async_accept(*socket, [this, socket](boost::system::error_code const& ec) {
    if (ec == boost::asio::error::operation_aborted) return;
    if (ec) {
      std::cout << "accept: " << ec.message() << std::endl;
      accept_pause.expires_after(accept_retry);
      accept_pause.async_wait([this](boost::system::error_code const& ec) {
        if (!ec) accept();
      });
      return;
    }
    std::shared_ptr<stub_client_t> client =
        std::make_shared<stub_client_t>(socket, next_number++, options.close_after, *this);
    clients[client->number()] = client;
    client->print("connected");
    client->async_read_header();
    accept();
  });
}

void stub_fcheck_server_t::fill_backlog() {
  // Connections of its own, never accepted, until the system takes no more: a connect that would
  // wait for room.
  for (;;) {
    int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un addr{AF_UNIX, {}};
    options.socket_path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      int const error = errno;
      ::close(fd);
      if (error == EAGAIN) break;
      throw std::runtime_error("filling the backlog: " + std::string(std::strerror(error)));
    }
    backlog.push_back(fd);
  }
  std::cout << "backlog full with " << backlog.size() << " connections" << std::endl;
}

void stub_fcheck_server_t::forget(int number) { clients.erase(number); }

void stub_fcheck_server_t::on_signal(boost::system::error_code const& ec, int signal_number) {
  if (ec) return;
  if (signal_number == SIGUSR1) {
    alarm(out_t::PROXY_ALARM, &stub_client_t::proxy_open);
  } else if (signal_number == SIGUSR2) {
    alarm(out_t::THREATS_ALARM, &stub_client_t::subscribed);
  } else {
    std::cout << "exit" << std::endl;
    io.stop();
    return;
  }
  signals.async_wait([this](boost::system::error_code const& ec, int number) { on_signal(ec, number); });
}

void stub_fcheck_server_t::alarm(out_t::ServerMessageTag tag, bool stub_client_t::*flag) {
  out_t message;
  message.set_tag(tag);
  set_error(message, qn::EC_NOT_READY, "alarm on signal");
  int count = 0;
  for (auto const& entry : clients) {
    if (!(entry.second.get()->*flag)) continue;
    entry.second.get()->*flag = false;
    entry.second->send(message);
    ++count;
  }
  std::cout << out_t::ServerMessageTag_Name(tag) << " to " << count << " connections" << std::endl;
}

void stub_fcheck_server_t::handle(std::shared_ptr<stub_client_t> const& client, fc::ClientMessage const& message) {
  std::string const missing = missing_field(message);
  if (!missing.empty()) {
    client->close("protocol violation: " + in_t::ClientMessageTag_Name(message.tag()) + " without " + missing);
    return;
  }
  std::uint32_t const origin = message.has_origin() ? message.origin() : qn::APP_SMB_GARDIX;
  switch (message.tag()) {
    case in_t::OPEN_PROXY:
      client->proxy_open = true;
      break;
    case in_t::PROXY_OPTIONS_NOTIFICATION:
      client->proxy_options = message.proxy_options();
      break;
    case in_t::PROXY_SCAN_REQUEST:
      scan(client, message.serial(), message.path());
      break;
    case in_t::SUBSCRIBE_TO_THREATS: {
      client->subscribed = true;
      out_t answer;
      answer.set_tag(out_t::THREATS_SUBSCRIBED);
      answer.set_dbpath(db_path);
      client->send(answer);
      break;
    }
    case in_t::UNSUBSCRIBE_FROM_THREATS:
      client->subscribed = false;
      break;
    case in_t::THREAT_SYNC_REQUEST: {
      stub_threat_keeper_t::outcome_t const out = keeper.sync(message.threat_id(), origin);
      out_t answer = reply(out_t::THREAT_SYNC_RESPONSE, message.serial());
      if (out.code != qn::EC_OK) {
        set_error(answer, out.code, out.what);
      } else {
        answer.set_threat_id(out.threat_id);
        answer.set_history_id(out.history_id);
      }
      client->send(answer);
      if (out.history_id != 0) notify(out.history_id);
      break;
    }
    case in_t::THREAT_OP_REQUEST: {
      stub_threat_keeper_t::outcome_t const out = keeper.apply(message.threat_id(), message.op(), origin);
      out_t answer = reply(out_t::THREATS_OP_RESPONSE, message.serial());
      answer.set_threat_id(message.threat_id());
      answer.set_op(message.op());
      if (out.code != qn::EC_OK) set_error(answer, out.code, out.what);
      client->send(answer);
      if (out.history_id != 0) notify(out.history_id);
      break;
    }
    case in_t::MY_THREAT_NOTIFICATION:
      notify(message.history_id());
      break;
    default:
      client->print(in_t::ClientMessageTag_Name(message.tag()) + " not handled");
      break;
  }
}

void stub_fcheck_server_t::scan(std::shared_ptr<stub_client_t> const& client, std::uint32_t serial,
                                std::string const& path) {
  if (!client->proxy_open) {
    out_t answer = reply(out_t::PROXY_SCAN_RESPONSE, serial);
    set_error(answer, qn::EC_INVALID_STATE, "no proxy open on this connection");
    client->send(answer);
    return;
  }
  std::weak_ptr<stub_client_t> const weak = client;
  // The file is read once the delay is over, so that whatever lies at the path then is scanned.
  after(options.scan_delay_ms, [this, weak, serial, path] {
    std::shared_ptr<stub_client_t> const client = weak.lock();
    if (!client) return;
    run_hook("before", path);
    exchange(path);
    std::shared_ptr<stub_scanner_t::result_t> const result =
        std::make_shared<stub_scanner_t::result_t>(scanner.scan(path, client->proxy_options.scan_timeout_ms()));
    exchange(path);
    run_hook("after", path);
    client->print("scan " + std::to_string(serial) + " read " + stub_text_t::quote(path));
    after(result->delay_ms, [this, weak, serial, result] { answer_scan(weak, serial, *result); });
  });
}

void stub_fcheck_server_t::run_hook(char const* when, std::string const& path) const {
  if (options.scan_hook.empty()) return;
  char const* const argv[] = {options.scan_hook.c_str(), when, path.c_str(), nullptr};
  pid_t pid;
  // The hook plays a share user between the scan's request, its read and its answer; the loop waits for it.
  int const error = ::posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char* const*>(argv), environ);
  int status = 0;
  while (!error && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) continue;
  if (error || status != 0)
    std::cout << "scan hook " << when << " " << stub_text_t::quote(path)
              << " failed: " << (error ? std::strerror(error) : "status " + std::to_string(status)) << std::endl;
}

void stub_fcheck_server_t::exchange(std::string const& path) const {
  if (options.exchange_on_read.empty()) return;
  // In process and at once: a share user fast enough to swap within one tick of the file system's clock.
  std::string const other = path.substr(0, path.rfind('/') + 1) + options.exchange_on_read;
  if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE) != 0)
    std::cout << "exchange " << stub_text_t::quote(path) << " failed: " << std::strerror(errno) << std::endl;
}

void stub_fcheck_server_t::after(std::uint32_t delay_ms, std::function<void()> const& then) {
  if (delay_ms == 0) {
    then();
    return;
  }
  std::shared_ptr<boost::asio::steady_timer> const timer =
      std::make_shared<boost::asio::steady_timer>(io, std::chrono::milliseconds(delay_ms));
  timer->async_wait([timer, then](boost::system::error_code const& ec) {
    if (!ec) then();
  });
}

void stub_fcheck_server_t::answer_scan(std::weak_ptr<stub_client_t> const& weak, std::uint32_t serial,
                                       stub_scanner_t::result_t const& result) {
  // A threat is held only for a client still there to hear of it.
  std::shared_ptr<stub_client_t> const client = weak.lock();
  if (!client || !client->is_open()) return;
  out_t answer = reply(out_t::PROXY_SCAN_RESPONSE, serial);
  if (result.error != qn::EC_OK) {
    set_error(answer, result.error, std::string());
  } else {
    *answer.mutable_scan_report() = result.report;
    if (result.infected)
      answer.set_threat_id(keeper.hold(result.report.object(), result.dev, result.ino, result.report));
  }
  if (options.stuck_scans == "silent") {
    client->print("scan " + std::to_string(serial) + " not answered");
  } else if (options.stuck_scans == "half-frame") {
    client->send_half(answer);
  } else {
    if (options.stuck_scans == "wrong-serial") answer.set_serial(serial + 0x80000000u);
    client->send(answer);
  }
}

void stub_fcheck_server_t::notify(std::int64_t history_id) {
  out_t message;
  message.set_tag(out_t::THREATS_NOTIFICATION);
  message.set_history_id(history_id);
  for (auto const& entry : clients)
    if (entry.second->subscribed) entry.second->send(message);
}
