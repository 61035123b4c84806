#include "framework/log/cf_log.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

std::atomic<int> cf_log_threshold{CF_LOG_DEBUG};
std::mutex cf_log_mutex;

namespace {

struct entry_t {
  int level;
  std::string text;
};

// Trivially destructible, so they stay usable while other statics are torn
// down at exit.
std::atomic<int> g_mode{CF_LOG_MODE_BUFFERED};
std::atomic<bool> g_state_alive{false};

struct log_state_t {
  std::shared_ptr<cf_log_t> sink;
  std::vector<entry_t> buffer;

  ~log_state_t() { g_state_alive = false; }
};

void finish_at_exit() { cf_log_finish(); }

log_state_t& state() {
  static log_state_t s;
  // Registered after s is built, so it runs before s is destroyed.
  static bool const registered = (g_state_alive = true, std::atexit(&finish_at_exit), true);
  (void)registered;
  return s;
}

void do_nothing(std::string const&) {}

cf_log_t::callback_t or_do_nothing(cf_log_t::callback_t const& callback) {
  if (callback) return callback;
  return &do_nothing;
}

char const* const g_level_names[] = {"Debug", "Info", "Notice", "Warning", "Error"};

bool is_control(char c) {
  unsigned char const byte = static_cast<unsigned char>(c);
  return (byte < 0x20 && byte != '\t') || byte == 0x7f;
}

bool has_control(std::string const& text) { return std::any_of(text.begin(), text.end(), is_control); }

// A line feed in a share user's file name must not forge a record of its own.
std::string escape_controls(std::string const& text) {
  static char const digits[] = "0123456789abcdef";
  std::string escaped;
  escaped.reserve(text.size() + 16);
  for (char c : text) {
    if (!is_control(c)) {
      escaped += c;
      continue;
    }
    unsigned char const byte = static_cast<unsigned char>(c);
    escaped += "\\x";
    escaped += digits[byte >> 4];
    escaped += digits[byte & 0xf];
  }
  return escaped;
}

void replay(std::vector<entry_t>& entries) {
  std::vector<entry_t> pending;
  pending.swap(entries);
  for (entry_t const& e : pending)
    if (e.level >= cf_log_threshold) cf_log(e.level, e.text);
}

}  // namespace

cf_log_t::cf_log_t(callback_t const& additional_log, callback_t const& additional_tagged_log)
    : additional_log(or_do_nothing(additional_log)), additional_tagged_log(or_do_nothing(additional_tagged_log)) {}

cf_log_t::~cf_log_t() = default;

void cf_log_t::set_additional_log(callback_t const& callback) { additional_log = or_do_nothing(callback); }

void cf_log_t::set_additional_tagged_log(callback_t const& callback) {
  additional_tagged_log = or_do_nothing(callback);
}

char const* cf_log_level_name(int level) {
  if (level < CF_LOG_DEBUG || level > CF_LOG_ERROR) return "Unknown";
  return g_level_names[level];
}

int cf_log_level_from_name(std::string const& name) {
  for (int level = CF_LOG_DEBUG; level < CF_LOG_ERROR; ++level)
    if (name == g_level_names[level]) return level;
  return CF_LOG_ERROR;
}

int cf_log_level_from_proto(int value) {
  if (value >= 1 && value <= 4) return value - 1;
  return CF_LOG_ERROR;
}

void cf_log(int level, std::string const& text) {
  if (has_control(text)) {
    cf_log(level, escape_controls(text));
    return;
  }
  switch (g_mode.load()) {
    case CF_LOG_MODE_BUFFERED:
      // Only the main thread logs before the first sink exists: no lock.
      state().buffer.push_back(entry_t{level, text});
      return;
    case CF_LOG_MODE_INSTALLED: {
      std::shared_ptr<cf_log_t> sink = std::atomic_load(&state().sink);
      if (!sink) return;
      sink->write(level, text);
      std::string const line = cf_log_format(level, text);
      std::lock_guard<std::mutex> lock(cf_log_mutex);
      sink->additional_log(line);
      return;
    }
    default:
      if (level >= cf_log_threshold) {
        std::string line = cf_log_format(level, text);
        line += '\n';
        cf_log_write_string(2, line);
      }
      return;
  }
}

void cf_log_tagged(std::string const& tag, int n, std::string const& text) {
  if (has_control(tag) || has_control(text)) {
    cf_log_tagged(escape_controls(tag), n, escape_controls(text));
    return;
  }
  if (g_mode.load() == CF_LOG_MODE_INSTALLED) {
    std::shared_ptr<cf_log_t> sink = std::atomic_load(&state().sink);
    if (sink) {
      sink->write_tagged(tag, n, text);
      std::string const line = cf_log_format_tagged(tag, n, text);
      std::lock_guard<std::mutex> lock(cf_log_mutex);
      sink->additional_tagged_log(line);
      return;
    }
  }
  cf_log(CF_LOG_ERROR, tag + "-" + std::to_string(n) + ": " + text);
}

void cf_set_log(std::shared_ptr<cf_log_t> const& sink) {
  if (!sink) return;
  log_state_t& s = state();
  {
    std::lock_guard<std::mutex> lock(cf_log_mutex);
    std::shared_ptr<cf_log_t> old = std::atomic_exchange(&s.sink, sink);
    // The old sink goes first: a system-log sink must close before the new one opens.
    old.reset();
    sink->open();
    int expected = CF_LOG_MODE_BUFFERED;
    g_mode.compare_exchange_strong(expected, CF_LOG_MODE_INSTALLED);
  }
  replay(s.buffer);
}

bool cf_is_log_set() {
  if (!g_state_alive) return false;
  log_state_t& s = state();
  std::lock_guard<std::mutex> lock(cf_log_mutex);
  return static_cast<bool>(s.sink);
}

void cf_log_out_of_memory() {
  if (g_mode.load() == CF_LOG_MODE_INSTALLED) {
    std::shared_ptr<cf_log_t> sink = std::atomic_load(&state().sink);
    if (sink) {
      sink->out_of_memory();
      return;
    }
  }
  cf_log_write_out_of_memory(2);
}

void cf_log_finish() {
  g_mode = CF_LOG_MODE_FINISHED;
  if (!g_state_alive) return;
  log_state_t& s = state();
  if (s.buffer.empty()) return;
  cf_log(CF_LOG_DEBUG, "Flushing log...");
  replay(s.buffer);
}

cf_log_mode_t cf_log_mode() { return static_cast<cf_log_mode_t>(g_mode.load()); }

void cf_log_reset_for_tests() {
  log_state_t& s = state();
  std::shared_ptr<cf_log_t> old;
  {
    std::lock_guard<std::mutex> lock(cf_log_mutex);
    old = std::atomic_exchange(&s.sink, std::shared_ptr<cf_log_t>());
    s.buffer.clear();
    g_mode = CF_LOG_MODE_BUFFERED;
    cf_log_threshold = CF_LOG_DEBUG;
  }
}

void cf_log_write_fd(int fd, void const* data, std::size_t size) noexcept {
  int const saved_errno = errno;
  char const* p = static_cast<char const*>(data);
  while (size > 0) {
    ssize_t const n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  errno = saved_errno;
}

void cf_log_write_string(int fd, std::string const& text) noexcept { cf_log_write_fd(fd, text.data(), text.size()); }

void cf_log_write_out_of_memory(int fd) noexcept {
  static char const text[] = "Error: Not enough memory\n";
  cf_log_write_fd(fd, text, sizeof text - 1);
}

std::string cf_log_format(int level, std::string const& text) {
  std::string line = cf_log_level_name(level);
  line += ": ";
  line += text;
  return line;
}

std::string cf_log_format_tagged(std::string const& tag, int n, std::string const& text) {
  std::string line = "[";
  line += tag;
  line += '-';
  line += std::to_string(n);
  line += "] ";
  line += text;
  return line;
}
