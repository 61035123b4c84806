#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "framework/log/cf_log.h"

// A sink that keeps every line ("Level: text") in memory; safe from any thread.
class log_capture_t : public cf_log_t {
 public:
  log_capture_t() : cf_log_t(nullptr, nullptr) {}

  void open() override {}
  void write(int level, std::string const& text) override {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(cf_log_format(level, text));
  }
  void write_tagged(std::string const& tag, int n, std::string const& text) override {
    write(4, cf_log_format_tagged(tag, n, text));
  }
  void out_of_memory() override {}

  std::vector<std::string> take() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(lines, {});
  }

  // Installs a fresh capture as the process log, with every level admitted.
  static std::shared_ptr<log_capture_t> install() {
    auto capture = std::make_shared<log_capture_t>();
    cf_log_threshold = 0;
    cf_set_log(capture);
    capture->take();
    return capture;
  }

 private:
  std::mutex mutex;
  std::vector<std::string> lines;
};
