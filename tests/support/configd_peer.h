#pragma once

// ConfigD's end of a UNIX socket pair, speaking framed messages. It can also
// start a program (the daemon or the stand-in) holding the other end, and
// collect that program's standard output, standard error and exit status.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "configd_smb_gardix_ipc.pb.h"
#include "tests/kson/kson_bytes.h"
#include "tests/support/child_process.h"

class configd_peer_t {
 public:
  // The pair only: take_other_end() hands the other end to a link in this process.
  configd_peer_t();
  // Starts argv[0] with the other end at descriptor `child_fd` and
  // COM_QUARN_MONITOR set to `monitor`; without a monitor it gets neither.
  // No other COM_QUARN_ variable is passed on; standard input is /dev/null.
  configd_peer_t(std::vector<std::string> argv, char const* monitor, int child_fd = 3);
  ~configd_peer_t();

  configd_peer_t(configd_peer_t const&) = delete;
  configd_peer_t& operator=(configd_peer_t const&) = delete;

  int take_other_end();

  // Exactly `size` bytes; fails the test on a stall or an early end.
  std::string read(std::size_t size);
  // The next frame, parsed; fails the test when there is none or it does not parse.
  qn::SMBGardix2ConfigdMessage receive();
  qn::SMBGardix2ConfigdMessage expect(qn::SMBGardix2ConfigdMessage::MessageTag tag);
  bool has_data();
  // True when the other end closes without sending anything more.
  bool at_end();
  void send(qn::Configd2SMBGardixMessage const& message);
  // Bytes as they are, framing included.
  void send_raw(std::string const& bytes);
  void close_socket();

  // The program started by the second constructor.
  void signal(int signal_number) { child->signal(signal_number); }
  std::string next_line() { return child->next_line(); }
  int wait() { return child->wait(); }
  std::string const& log() const { return child->err(); }
  std::string const& output() const { return child->out(); }

  static std::string frame(std::string const& body) { return kson_test::frame(body); }
  // A GET_CONFIG_RESPONSE; `control` is set only when `suspended` or `with_control` is.
  static qn::Configd2SMBGardixMessage config_response(std::uint32_t revision, qn::SMBGardixConfig const& config,
                                                      bool suspended = false, bool with_control = false);
  // The answer naming the file checker's socket.
  static qn::Configd2SMBGardixMessage fcheck_response(std::string const& path);
  // Settings that log to standard error at the given level.
  static qn::SMBGardixConfig stderr_config(qn::LogLevel level = qn::LOG_LEVEL_DEBUG);

 private:
  long fill(char* data, std::size_t size);

  int socket_fd = -1;
  int other_fd = -1;
  std::unique_ptr<test_child_t> child;
};
