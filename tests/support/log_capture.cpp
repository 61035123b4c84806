#include "tests/support/log_capture.h"

#include <mutex>

#include "framework/log/cf_log.h"

class test_log_t::sink_t : public cf_log_t {
 public:
  sink_t() : cf_log_t({}, {}) {}
  void open() override {}
  void write(int level, std::string const& text) override { add(cf_log_format(level, text)); }
  void write_tagged(std::string const& tag, int n, std::string const& text) override {
    add(cf_log_format_tagged(tag, n, text));
  }
  void out_of_memory() override {}
  void add(std::string const& line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
  }

  std::mutex mutex;
  std::vector<std::string> lines;
};

test_log_t::test_log_t() : sink(std::make_shared<sink_t>()) {
  cf_log_reset_for_tests();
  cf_set_log(sink);
}

test_log_t::~test_log_t() { cf_log_reset_for_tests(); }

bool test_log_t::contains(std::string const& s) const { return ("\n" + text()).find("\n" + s + "\n") != s.npos; }

std::vector<std::string> test_log_t::lines() const {
  std::lock_guard<std::mutex> lock(sink->mutex);
  return sink->lines;
}

std::string test_log_t::text() const {
  std::string out;
  for (std::string const& line : lines()) out += line + "\n";
  return out;
}

void test_log_t::clear() {
  std::lock_guard<std::mutex> lock(sink->mutex);
  sink->lines.clear();
}
