#pragma once

// Drives a request/reply server over UNIX stream connections: each connection greets, then
// keeps `in_flight` requests outstanding, sending a new one for every reply. Frames in both
// directions are a 4-byte little-endian body length and the body. Connections are spread over
// a few threads, so that the generator outruns a single-threaded server.

#include <cstddef>
#include <cstdint>
#include <string>

class load_generator_t {
 public:
  // How one protocol greets, asks and answers.
  class protocol_t {
   public:
    virtual ~protocol_t() = default;
    // Frames a connection sends first, and the number of replies they get.
    virtual std::string greeting() const = 0;
    virtual std::size_t greeting_replies() const = 0;
    // Appends one request frame about the file numbered `file` (taken modulo the files known).
    virtual void append_request(std::string& out, std::uint32_t serial, std::size_t file) const = 0;
    // An empty text when the body is the wanted answer to the request `serial` (0: to any
    // request), else what is wrong.
    virtual std::string check_reply(char const* body, std::size_t size, std::uint32_t serial) const = 0;
  };

  struct options_t {
    std::string socket;
    std::size_t connections = 1;
    std::size_t in_flight = 1;
    double warmup_seconds = 0.2;
    double seconds = 1;
    // When not 0: each connection sends this many requests, all measured, and the run ends then.
    std::size_t requests = 0;
    // A baseline that answers blindly has its replies checked but not their serials.
    bool check_serials = true;
  };

  struct figures_t {
    std::uint64_t replies = 0;  // measured
    double per_second = 0;
    double p50_us = 0;
    double p99_us = 0;
  };

  // Throws std::runtime_error when a connection fails or a reply is wrong.
  static figures_t run(protocol_t const& protocol, options_t const& options);
};
