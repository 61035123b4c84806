#include "threats/sm_action_executor.h"

#include <sys/stat.h>

#include <chrono>
#include <cerrno>
#include <limits>
#include <sstream>

#include <boost/system/system_error.hpp>

#include "error.pb.h"
#include "framework/error/cf_proto_error_impl.h"
#include "framework/log/cf_log.h"
#include "scanning/sm_threat_handler.h"
#include "service/sm_app.h"
#include "service/sm_path.h"
#include "service/sm_settings.h"
#include "threats/sm_fcheck.h"

namespace {

std::string threat_text(sm_threat_t const& threat) {
  std::ostringstream out;
  out << threat;
  return out.str();
}

// Callers test the threshold before they build the text.
void log_action(int level, std::string const& text) { cf_log(level, "Executing delayed action: " + text); }

// Whether the recorded path may go to the file checker: it still leads, inside the chroot, to
// the recorded file, or to nothing at all (the file checker then reports the file gone). A folder
// swapped for a link since the detection leads elsewhere.
bool still_names(sm_threat_t const& threat, std::string const& chroot) {
  int error = 0;
  std::string const real = sm_real_path(threat.path.string(), error);
  if (real.empty()) return error == ENOENT || error == ENOTDIR;
  struct stat st;
  return sm_path_within(sm_real_path(chroot, error), real) && ::stat(real.c_str(), &st) == 0 &&
         static_cast<std::uint64_t>(st.st_dev) == threat.dev && static_cast<std::uint64_t>(st.st_ino) == threat.ino;
}

}  // namespace

sm_action_executor_t::sm_action_executor_t(sm_app_t& app) : app(app), timer(app.io_context) {}

sm_action_executor_t::~sm_action_executor_t() {
  queued_tasks.clear();
  closed_connection.disconnect();
  opened_connection.disconnect();
  boost::system::error_code ignored;
  timer.cancel(ignored);
}

void sm_action_executor_t::init() {
  if (app.settings->suspended) {
    stop();
    return;
  }
  if (!opened_connection.connected()) {
    opened_connection = app.threat_base->connect_opened([this] { restart(); });
    closed_connection = app.threat_base->connect_closed([this] { stop(); });
  }
  if (state != stopped) restart();
}

void sm_action_executor_t::stop() {
  if (state == stopped) return;
  if (cf_log_threshold <= CF_LOG_DEBUG) cf_log(CF_LOG_DEBUG, "sm_action_executor_t::stop");
  state = stopped;
  ++generation;
  queued_tasks.clear();
  cursor = task_t();
  boost::system::error_code ec;
  timer.cancel(ec);
  if (ec) throw boost::system::system_error(ec, "cancel");
}

void sm_action_executor_t::restart() {
  stop();
  plan_action(generation);
}

void sm_action_executor_t::plan_action(int g) {
  if (g != generation) return;
  if (state != running) {
    if (cf_log_threshold <= CF_LOG_DEBUG) cf_log(CF_LOG_DEBUG, "sm_action_executor_t::plan_action");
    state = running;
  }
  if (!queued_tasks.empty()) {
    if (cf_log_threshold <= CF_LOG_DEBUG) cf_log(CF_LOG_DEBUG, "sm_action_executor_t::plan_action: action from queue");
    auto& by_time = queued_tasks.get<by_moment>();
    task_t const earliest = *by_time.begin();
    schedule_action(g, earliest);
    // Scheduling may have run the whole action already and emptied the queue.
    auto found = by_time.find(boost::make_tuple(earliest.moment, earliest.threat_id));
    if (found != by_time.end()) by_time.erase(found);
    return;
  }
  app.threat_base->async_load_next_task(cursor, [this, g](task_t const& next) {
    if (!queued_tasks.empty()) {
      plan_action(g);
    } else if (next.threat_id >= 0) {
      cursor = next;
      schedule_action(g, next);
    } else {
      if (cf_log_threshold <= CF_LOG_DEBUG) cf_log(CF_LOG_DEBUG, "sm_action_executor_t::plan_action: no more threats");
      state = idle;
    }
  });
}

void sm_action_executor_t::schedule_action(int g, task_t const& task) {
  std::int64_t const delay =
      static_cast<std::int64_t>(app.settings->action_delay() / 1000) + task.moment - sm_clock_t::seconds_since_epoch();
  if (delay <= 0) {
    execute_action(g, task.threat_id, boost::system::error_code());
    return;
  }
  boost::system::error_code ec;
  timer.cancel(ec);
  if (ec) throw boost::system::system_error(ec, "cancel");
  // A moment far ahead waits until the end of the clock instead of overflowing.
  sm_clock_t::system::time_point const now = sm_clock_t::system::now();
  sm_clock_t::system::duration const longest = sm_clock_t::system::time_point::max() - now;
  timer.expires_at(delay < std::chrono::duration_cast<std::chrono::seconds>(longest).count()
                       ? now + std::chrono::duration_cast<sm_clock_t::system::duration>(std::chrono::seconds(delay))
                       : sm_clock_t::system::time_point::max());
  std::int64_t const threat_id = task.threat_id;
  timer.async_wait(
      [this, g, threat_id](boost::system::error_code const& error) { execute_action(g, threat_id, error); });
}

void sm_action_executor_t::execute_action(int g, std::int64_t threat_id, boost::system::error_code const& ec) {
  if (ec) return;
  app.threat_base->async_load(threat_id, [this, g, threat_id](std::shared_ptr<sm_threat_t> const& threat) {
    if (!threat) {
      if (cf_log_threshold <= CF_LOG_INFO)
        log_action(CF_LOG_INFO, "threat #" + std::to_string(threat_id) + " does not exist");
      plan_action(g);
      return;
    }
    if (threat->neutralized) {
      if (cf_log_threshold <= CF_LOG_INFO) log_action(CF_LOG_INFO, threat_text(*threat) + " already neutralized");
      plan_action(g);
      return;
    }
    std::pair<bool, qn::ThreatOp> const op = app.threat_handler->threat_op(threat);
    if (!op.first) {
      plan_action(g);
      return;
    }
    if (acting.count(threat->threat_id)) {
      // Asked for by an earlier walk: this one goes on only once that answer is in.
      held = std::make_pair(g, threat->threat_id);
      return;
    }
    if (!still_names(*threat, app.settings->samba_chroot_dir())) {
      if (cf_log_threshold <= CF_LOG_WARNING)
        log_action(CF_LOG_WARNING, threat_text(*threat) + ": the path names another file now, left alone");
      plan_action(g);
      return;
    }
    if (cf_log_threshold <= CF_LOG_INFO) log_action(CF_LOG_INFO, threat_text(*threat));
    acting.insert(threat->threat_id);
    app.fcheck->async_threat_op(
        threat->threat_id, op.second,
        [this, g, threat](boost::system::error_code const& error) { action_done(g, threat, error); });
  });
}

void sm_action_executor_t::action_done(int g, std::shared_ptr<sm_threat_t> const& threat,
                                       boost::system::error_code const& ec) {
  acting.erase(threat->threat_id);
  if (ec == qn::make_error_code(qn::EC_NO_SUCH_ENTRY)) {
    if (cf_log_threshold <= CF_LOG_INFO) log_action(CF_LOG_INFO, threat_text(*threat) + " not found");
  } else if (ec) {
    if (cf_log_threshold <= CF_LOG_ERROR) log_action(CF_LOG_ERROR, threat_text(*threat) + ": " + ec.message());
  }
  if (held.second == threat->threat_id) {
    int const waiting = held.first;
    held = std::make_pair(0, -1);
    if (waiting == generation) execute_action(waiting, threat->threat_id, boost::system::error_code());
  }
  plan_action(g);
}

void sm_action_executor_t::add_threat(std::shared_ptr<sm_threat_t> const& threat) {
  task_t task;
  task.threat_id = threat->threat_id;
  task.moment = threat->moment;
  if (cursor < task && state != idle) return;
  queued_tasks.insert(task);  // refused when either index holds the key already
  if (state == idle) {
    cursor = task;
    plan_action(generation);
  }
}
