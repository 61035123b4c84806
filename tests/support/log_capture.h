#pragma once

// The process log captured while the object lives: it starts the log afresh, admits every level
// and installs a sink that keeps each line as "Level: text" ("[tag-n] text" for tagged lines).
// Safe from any thread. The log is reset again at destruction, so declare it before the objects
// that log.

#include <memory>
#include <string>
#include <vector>

class test_log_t {
 public:
  test_log_t();
  ~test_log_t();
  test_log_t(test_log_t const&) = delete;
  test_log_t& operator=(test_log_t const&) = delete;

  // Whether some line equals `line` exactly.
  bool contains(std::string const& line) const;
  std::vector<std::string> lines() const;
  // Every line, each ended by a line feed: for failure messages.
  std::string text() const;
  void clear();

  class sink_t;

 private:
  std::shared_ptr<sink_t> sink;
};
