#pragma once

// One connection of a file-checker client: framed fc::ClientMessage in, fc::ServerMessage out,
// every message and event printed as a line beginning "conn N: ".

#include <cstdint>
#include <memory>
#include <string>

#include "fcheck_client_ipc.pb.h"
#include "framework/ipc_link/cf_basic_ipc_link.h"

class stub_fcheck_server_t;

class stub_client_t : public std::enable_shared_from_this<stub_client_t>, public cf_ipc_link_t {
 public:
  // close_after: received messages after which the connection closes, 0 for never.
  stub_client_t(std::shared_ptr<cf_local_stream_socket_t> socket, int number, std::uint32_t close_after,
                stub_fcheck_server_t& server);

  int number() const { return id; }
  void print(std::string const& text) const;
  // Prints the message and queues it; nothing once the connection is closed.
  void send(fc::ServerMessage const& message);
  // Prints the message and writes its header and half its body; nothing is sent after it.
  void send_half(fc::ServerMessage const& message);
  // Closes the socket once, prints "closed" with the reason (if any) and makes the server
  // forget the connection.
  void close(std::string const& reason);

  bool proxy_open = false;
  fc::ProxyOptions proxy_options;  // the defaults until the client sends its own
  bool subscribed = false;

 protected:
  void on_message(google::protobuf::io::ZeroCopyInputStream* stream) override;
  void on_error(boost::system::error_code const& ec) override;
  std::shared_ptr<cf_ipc_link_t> get_shared() override { return shared_from_this(); }

 private:
  int id;
  std::uint32_t close_after;
  std::uint32_t received = 0;
  bool stalled = false;
  stub_fcheck_server_t& server;
};
