#pragma once

// The process-wide log: one call (`cf_log`), a threshold that every call site
// tests before it builds its text, and an installable sink.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

typedef int cf_log_level_t;

constexpr cf_log_level_t CF_LOG_DEBUG = 0;
constexpr cf_log_level_t CF_LOG_INFO = 1;
constexpr cf_log_level_t CF_LOG_NOTICE = 2;
constexpr cf_log_level_t CF_LOG_WARNING = 3;
constexpr cf_log_level_t CF_LOG_ERROR = 4;

// A message of level L is wanted when the threshold is at most L; 5 or more
// silences everything. Atomic because the database thread reads it while the
// main thread may set it.
extern std::atomic<int> cf_log_threshold;

// The log's one lock: held around a sink's single line write, around the
// additional-log calls and while a sink is swapped.
extern std::mutex cf_log_mutex;

enum cf_log_mode_t {
  CF_LOG_MODE_BUFFERED = 0,   // from process start until the first sink
  CF_LOG_MODE_INSTALLED = 1,  // a sink writes every message
  CF_LOG_MODE_FINISHED = 2,   // after exit began: plain lines on standard error
};

// Abstract sink.
class cf_log_t {
 public:
  typedef std::function<void(std::string const&)> callback_t;

  cf_log_t(callback_t const& additional_log, callback_t const& additional_tagged_log);
  virtual ~cf_log_t();

  virtual void open() = 0;
  virtual void write(int level, std::string const& text) = 0;
  virtual void write_tagged(std::string const& tag, int n, std::string const& text) = 0;
  // Must not allocate.
  virtual void out_of_memory() = 0;

  void set_additional_log(callback_t const& callback);
  void set_additional_tagged_log(callback_t const& callback);

  // Always callable: an empty function becomes one that does nothing.
  callback_t additional_log;
  callback_t additional_tagged_log;

  cf_log_t(cf_log_t const&) = delete;
  cf_log_t& operator=(cf_log_t const&) = delete;
};

// Level names: "Debug" .. "Error", "Unknown" for any other number.
char const* cf_log_level_name(int level);
// "Debug" 0 .. "Warning" 3, any other text 4 (exact comparison).
int cf_log_level_from_name(std::string const& name);
// A qn::LogLevel value (1 Debug .. 5 Error) to a level: v - 1 for 1..4, else 4.
int cf_log_level_from_proto(int value);

// The one log call. Callers test `cf_log_threshold <= level` first.
void cf_log(int level, std::string const& text);
void cf_log_tagged(std::string const& tag, int n, std::string const& text);

// Installs a sink; the first install replays the buffered messages that pass
// the threshold. An empty pointer changes nothing.
void cf_set_log(std::shared_ptr<cf_log_t> const& sink);
bool cf_is_log_set();

// Reports memory exhaustion without allocating.
void cf_log_out_of_memory();

// Switches to the finished mode and writes what is still buffered; runs once
// among the exit handlers.
void cf_log_finish();

cf_log_mode_t cf_log_mode();

// Back to the state of process start (buffered, no sink, empty buffer,
// threshold 0). For tests only.
void cf_log_reset_for_tests();

// Raw write loop: repeats on EINTR and partial writes, ignores other failures.
void cf_log_write_fd(int fd, void const* data, std::size_t size) noexcept;
void cf_log_write_string(int fd, std::string const& text) noexcept;
// "Error: Not enough memory" and a line feed.
void cf_log_write_out_of_memory(int fd) noexcept;

// level name ": " text
std::string cf_log_format(int level, std::string const& text);
// "[" tag "-" n "] " text
std::string cf_log_format_tagged(std::string const& tag, int n, std::string const& text);
