#pragma once

// Plays ConfigD for one run of the daemon: starts the real program with its
// end of a connected UNIX socket pair at a chosen descriptor, exchanges framed
// messages with it and collects its standard error and exit status.

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "configd_smb_gardix_ipc.pb.h"

class configd_peer_t {
 public:
  // How long a read or the wait for the exit may stall before the test fails.
  static constexpr int stall_ms = 20000;

  // Starts `program` with COM_QUARN_MONITOR set to `monitor` and the daemon's
  // socket end at descriptor `child_fd` (standard input and output are
  // /dev/null, standard error is collected).
  configd_peer_t(std::string const& program, std::string const& monitor, int child_fd);
  // The usual start: the socket at descriptor 3, named as "3".
  explicit configd_peer_t(std::string const& program);
  ~configd_peer_t();

  configd_peer_t(configd_peer_t const&) = delete;
  configd_peer_t& operator=(configd_peer_t const&) = delete;

  // Reads one frame and parses it; false (with a test failure) on a stall, the
  // end of the stream or a frame that does not parse.
  bool receive(qn::SMBGardix2ConfigdMessage& message);
  // Reads one frame and expects its tag; returns the message.
  qn::SMBGardix2ConfigdMessage expect(qn::SMBGardix2ConfigdMessage::MessageTag tag);
  // True when the daemon closes its end before sending anything more.
  bool at_end();

  void send(qn::Configd2SMBGardixMessage const& message);
  // Bytes as they are, framing included.
  void send_raw(std::string const& bytes);
  void close_socket();

  void signal(int signal_number);
  // Waits for the exit (killing the daemon after a stall) and collects its
  // standard error. The status, or 128 + the signal for a killed daemon.
  int wait();
  std::string const& log() const { return stderr_text; }
  pid_t pid() const { return child; }

  // A GET_CONFIG_RESPONSE; `control` is set only when `suspended` is given as
  // set or `with_control` is requested.
  static qn::Configd2SMBGardixMessage config_response(std::uint32_t revision, qn::SMBGardixConfig const& config,
                                                      bool suspended = false, bool with_control = false);
  // Settings that log to standard error at the given level.
  static qn::SMBGardixConfig stderr_config(qn::LogLevel level = qn::LOG_LEVEL_DEBUG);
  // The frame of a serialized body.
  static std::string frame(std::string const& body);

 private:
  void start(std::string const& program, std::string const& monitor, int child_fd);
  bool read_exact(char* data, std::size_t size, bool quiet_at_end);
  void drain_stderr(int timeout_ms);

  pid_t child = -1;
  int socket_fd = -1;
  int stderr_fd = -1;
  int status = -1;
  std::string stderr_text;
};
