#pragma once

// One module's side of a connection to the daemon: says hello, sends file
// events and prints the share settings and verdicts as they arrive.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "kson/transport_stream.h"
#include "tools/vfs_client/vfs_message.h"

class vfs_client_t : private kson::transport_stream_t {
 public:
  struct request_t {
    std::uint32_t op = 0;
    std::string path;
    std::string user;
    std::string domain;
    std::string ip;
  };

  // "open PATH", "close PATH", "read PATH" or "write PATH [USER[@DOMAIN]] [IP]";
  // false for anything else.
  static bool parse(std::string const& line, request_t& request);

  // Device and inode come from the file at `chroot` joined with the path.
  vfs_client_t(int fd, std::string const& tag, std::string const& chroot);

  void hello(std::string const& basedir);
  void send(request_t const& request);
  // Handles what the socket holds; false once the daemon has closed the
  // connection or sent something unreadable.
  bool receive();

  bool has_settings() const { return settings_seen; }
  std::size_t outstanding() const { return waiting.size(); }

 private:
  void on_message(kson::parser_t& parser) override;
  void write_frame(vfs_message_t const& msg);

  int fd;
  std::string tag;
  std::string chroot;
  std::uint32_t next_serial = 1;
  std::map<std::uint32_t, std::string> waiting;  // serial -> "op path"
  bool settings_seen = false;
  bool broken = false;
};
