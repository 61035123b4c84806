#pragma once

// A log sink that keeps every line, for tests that check what was logged.

#include <memory>
#include <string>
#include <vector>

#include "framework/log/cf_log.h"

class sm_test_log_t : public cf_log_t {
 public:
  sm_test_log_t() : cf_log_t(callback_t(), callback_t()) {}

  void open() override {}
  void write(int level, std::string const& text) override { lines.push_back(cf_log_format(level, text)); }
  void write_tagged(std::string const& tag, int n, std::string const& text) override {
    lines.push_back(cf_log_format_tagged(tag, n, text));
  }
  void out_of_memory() override {}

  bool has(std::string const& line) const {
    for (std::string const& l : lines)
      if (l == line) return true;
    return false;
  }
  std::string all() const {
    std::string out;
    for (std::string const& l : lines) out += l + "\n";
    return out;
  }

  std::vector<std::string> lines;

  // Starts the process log afresh with a new capturing sink installed.
  static std::shared_ptr<sm_test_log_t> install() {
    cf_log_reset_for_tests();
    auto sink = std::make_shared<sm_test_log_t>();
    cf_set_log(sink);
    return sink;
  }
};
