#include "threats/sm_threat_base.h"

#include <algorithm>
#include <limits>
#include <sstream>

#include <boost/asio/post.hpp>
#include <boost/system/system_error.hpp>

#include "framework/error/cf_error_conversions.h"
#include "framework/log/cf_log.h"
#include "service/sm_app.h"
#include "threats/sm_report_compare.h"

namespace {

// The texts are the file checker's contract and the statement cache's keys: keep them byte
// for byte.
char const find_history_sql[] =
    "SELECT h.threat_id,EXISTS(SELECT 1 FROM history        WHERE threat_id = h.threat_id "
    "       AND neutralized) AS neutralized FROM history h WHERE h.history_id = ?;";

// Each threat once, at its earliest detection by this daemon, after the cursor in (moment, threat
// id) order: a detection repeated later neither acts twice nor postpones, and a newer detection
// filed under an older threat is still reached.
char const next_task_sql[] =
    "SELECT t.threat_id, h.moment FROM threat t JOIN (SELECT threat_id, MIN(moment) AS moment "
    "FROM history WHERE event = ?1 AND origin = ?2 GROUP BY threat_id) h ON h.threat_id = t.threat_id "
    "WHERE NOT EXISTS (SELECT 1 FROM history                   WHERE threat_id = t.threat_id "
    "                  AND neutralized) AND (SELECT locked FROM history      WHERE threat_id "
    "= t.threat_id AND event = ?1 AND origin = ?2      ORDER BY history_id DESC LIMIT "
    "1) AND (h.moment > ?4 OR (h.moment = ?4 AND t.threat_id > ?3)) "
    "ORDER BY h.moment ASC   , t.threat_id ASC LIMIT 1;";

char const check_locked_sql[] =
    "SELECT h.locked FROM threat t JOIN session s ON s.threat_id = t.threat_id JOIN history "
    "h ON h.threat_id = t.threat_id     AND h.event = ?1     AND h.origin = ?2     AND "
    "h.tag = ?3 WHERE NOT EXISTS(         SELECT 1 FROM history         WHERE threat_id "
    "= t.threat_id             AND neutralized)     AND t.path = ?4     AND s.dev = ?5 "
    "    AND s.ino = ?6 ORDER BY h.history_id DESC ;";

char const update_remote_user_sql[] =
    "UPDATE threat SET     remote_ip = ?1   , remote_user = ?2   , remote_domain = ?3 "
    "WHERE threat_id =         (SELECT threat_id         FROM history         WHERE history_id "
    "= ?4)     AND (SELECT COUNT(*) FROM history h         JOIN history hh ON h.threat_id "
    "= hh.threat_id         WHERE h.history_id = ?4)        = 1;";

char const update_history_sql[] = "UPDATE history SET     locked = ?2   , tag = ?3 WHERE history_id = ?1;";

char const load_by_history_id_sql[] =
    "SELECT t.threat_id, t.path, hr.scanreport, h.moment, h.locked   , EXISTS(SELECT "
    "1 FROM history WHERE threat_id = t.threat_id        AND neutralized)     AS neutralized "
    "  , h.event, h.origin   , EXISTS(SELECT 1 FROM threat tt         WHERE tt.path = "
    "t.path         AND NOT EXISTS(             SELECT 1 FROM history WHERE threat_id "
    "= tt.threat_id             AND neutralized)         AND EXISTS(             SELECT "
    "1 FROM history WHERE threat_id = tt.threat_id             AND event = ?2        "
    "     AND origin = ?3))     AS has_paths   , hf.tag   , s.dev   , s.ino FROM threat "
    "t JOIN session s ON s.threat_id = t.threat_id JOIN history h ON h.threat_id = t.threat_id "
    "JOIN history hf ON hf.threat_id = t.threat_id    AND hf.event = ?2     AND hf.origin "
    "= ?3 JOIN history hr ON hr.threat_id = t.threat_id     AND hr.scanreport IS NOT "
    "NULL     AND hr.event = ?2 WHERE h.history_id = ?1 ORDER BY hr.history_id DESC  "
    " , hf.history_id DESC ;";

char const load_sql[] =
    "SELECT t.threat_id, t.path, s.dev, s.ino, hr.scanreport   , h.moment, h.tag, h.locked "
    "  , EXISTS(SELECT 1 FROM history WHERE threat_id = t.threat_id AND neutralized) "
    "   AS neutralized FROM threat t JOIN history h ON h.threat_id = t.threat_id     "
    "AND h.event = ?2     AND h.origin = ?3 JOIN session s ON s.threat_id = t.threat_id "
    "JOIN history hr ON hr.threat_id = t.threat_id     AND hr.scanreport IS NOT NULL "
    "    AND hr.event = ?2 WHERE t.threat_id = ?1 ORDER BY h.history_id DESC    , hr.history_id "
    "DESC ;";

char const duplicate_sql[] =
    "SELECT hr.scanreport, ht.locked, ht.tag = ?4 AS tag_eq FROM threat t JOIN session "
    "s ON s.threat_id = t.threat_id JOIN history hr ON hr.threat_id = t.threat_id JOIN "
    "history ht ON ht.threat_id = t.threat_id WHERE NOT EXISTS(         SELECT 1 FROM "
    "history         WHERE threat_id = t.threat_id             AND neutralized)     AND "
    "t.path = ?1     AND s.dev = ?2     AND s.ino = ?3     AND ht.event = ?5     AND "
    "ht.origin = ?6     AND hr.scanreport IS NOT NULL     AND hr.event = ?5 ORDER BY "
    "tag_eq DESC   , ht.history_id DESC   , hr.history_id DESC ;";

// Constants bound as 64-bit integers: the history rows that record a detection, written by
// this daemon.
std::int64_t const detection_event = 1;
std::int64_t const own_origin = 40;

bool read_locked(sm_db_t::statement_t const& st, int c) { return !st.column_is_null(c) && st.column_int64(c) != 0; }

std::string path_bytes(boost::filesystem::path const& path) { return path.native(); }

std::int64_t as_column(std::uint64_t value) {
  // Values of 2^63 and above are stored as negative numbers and read back unchanged.
  return static_cast<std::int64_t>(value);
}

std::uint64_t from_column(std::int64_t value) { return static_cast<std::uint64_t>(value); }

std::string text_of(sm_threat_t const& threat) {
  std::ostringstream out;
  out << threat;
  return out.str();
}

std::string text_of(boost::filesystem::path const& path) {
  std::ostringstream out;
  out << path;
  return out.str();
}

// Same outcome as a plain parse, without the protobuf library's own log line for a report that
// lacks a required field.
bool parse_report(std::string const& blob, qn::ScanReport& report) {
  return report.ParsePartialFromString(blob) && report.IsInitialized();
}

// Both loads take the id, then the detection rows' event and origin; true when a row came back.
bool step_own_detection(sm_db_t::statement_t& st, std::int64_t id) {
  st.bind_int64(1, id);
  st.bind_int64(2, detection_event);
  st.bind_int64(3, own_origin);
  return !st.step();
}

}  // namespace

std::pair<std::int64_t, bool> sm_threat_base_t::find_history(sm_db_t& db, std::int64_t history_id) {
  sm_db_t::statement_t& st = db.statement(find_history_sql);
  sm_db_t::reset_guard_t guard(st);
  st.bind_int64(1, history_id);
  if (st.step()) return {-1, false};
  return {st.column_int64(0), st.column_int64(1) != 0};
}

sm_threat_base_t::task_t sm_threat_base_t::load_next_task(sm_db_t& db, task_t const& cursor) {
  sm_db_t::statement_t& st = db.statement(next_task_sql);
  sm_db_t::reset_guard_t guard(st);
  st.bind_int64(1, detection_event);
  st.bind_int64(2, own_origin);
  st.bind_int64(3, cursor.threat_id);
  st.bind_int64(4, cursor.moment);
  task_t next;
  if (!st.step()) {
    next.threat_id = st.column_int64(0);
    next.moment = st.column_int64(1);
  }
  return next;
}

bool sm_threat_base_t::check_locked(sm_db_t& db, boost::filesystem::path const& path, std::uint64_t dev,
                                    std::uint64_t ino, std::string const& tag) {
  sm_db_t::statement_t& st = db.statement(check_locked_sql);
  sm_db_t::reset_guard_t guard(st);
  st.bind_int64(1, detection_event);
  st.bind_int64(2, own_origin);
  st.bind_text(3, tag);
  st.bind_blob(4, path_bytes(path));
  st.bind_int64(5, as_column(dev));
  st.bind_int64(6, as_column(ino));
  return !st.step() && read_locked(st, 0);
}

void sm_threat_base_t::update_synced(sm_db_t& db, sm_threat_t const& threat, std::int64_t history_id) {
  {
    sm_db_t::statement_t& st = db.statement(update_remote_user_sql);
    sm_db_t::reset_guard_t guard(st);
    // An absent field stays unbound and is written as NULL.
    if (threat.remote_user.has_ip()) st.bind_text(1, threat.remote_user.ip());
    if (threat.remote_user.has_user()) st.bind_text(2, threat.remote_user.user());
    if (threat.remote_user.has_domain()) st.bind_text(3, threat.remote_user.domain());
    st.bind_int64(4, history_id);
    while (!st.step()) {
    }
  }
  {
    sm_db_t::statement_t& st = db.statement(update_history_sql);
    sm_db_t::reset_guard_t guard(st);
    st.bind_int64(1, history_id);
    st.bind_int64(2, threat.locked ? 1 : 0);
    st.bind_text(3, threat.tag);
    while (!st.step()) {
    }
  }
}

std::shared_ptr<sm_threat_t> sm_threat_base_t::load_by_history_id(sm_db_t& db, std::int64_t history_id) {
  sm_db_t::statement_t& st = db.statement(load_by_history_id_sql);
  sm_db_t::reset_guard_t guard(st);
  if (!step_own_detection(st, history_id)) return nullptr;
  auto threat = std::make_shared<sm_threat_t>();
  threat->threat_id = st.column_int64(0);
  threat->path = st.column_blob(1);
  if (!parse_report(st.column_blob(2), threat->report)) return nullptr;
  threat->moment = st.column_int64(3);
  threat->locked = read_locked(st, 4);
  threat->neutralized = st.column_int64(5) != 0;
  threat->event = static_cast<std::uint32_t>(st.column_int64(6));
  threat->origin = static_cast<std::uint32_t>(st.column_int64(7));
  threat->has_paths = st.column_int64(8) != 0;
  threat->tag = st.column_text(9);
  threat->dev = from_column(st.column_int64(10));
  threat->ino = from_column(st.column_int64(11));
  return threat;
}

std::shared_ptr<sm_threat_t> sm_threat_base_t::load(sm_db_t& db, std::int64_t threat_id) {
  sm_db_t::statement_t& st = db.statement(load_sql);
  sm_db_t::reset_guard_t guard(st);
  if (!step_own_detection(st, threat_id)) return nullptr;
  auto threat = std::make_shared<sm_threat_t>();
  threat->threat_id = st.column_int64(0);
  threat->path = st.column_blob(1);
  threat->dev = from_column(st.column_int64(2));
  threat->ino = from_column(st.column_int64(3));
  if (!parse_report(st.column_blob(4), threat->report)) return nullptr;
  threat->moment = st.column_int64(5);
  threat->tag = st.column_text(6);
  threat->locked = read_locked(st, 7);
  threat->neutralized = st.column_int64(8) != 0;
  return threat;
}

bool sm_threat_base_t::is_duplicate(sm_db_t& db, sm_threat_t const& threat) {
  sm_db_t::statement_t& st = db.statement(duplicate_sql);
  sm_db_t::reset_guard_t guard(st);
  st.bind_blob(1, path_bytes(threat.path));
  st.bind_int64(2, as_column(threat.dev));
  st.bind_int64(3, as_column(threat.ino));
  st.bind_text(4, threat.tag);
  st.bind_int64(5, detection_event);
  st.bind_int64(6, own_origin);
  if (st.step()) return false;
  bool const stored_locked = read_locked(st, 1);
  bool const same_tag = !st.column_is_null(2) && st.column_int64(2) != 0;
  // A locked detection never duplicates a stored one that does not block the file on this share.
  if (!(stored_locked && same_tag) && threat.locked) return false;
  qn::ScanReport stored;
  return parse_report(st.column_blob(0), stored) && sm_reports_equal(stored, threat.report);
}

sm_threat_base_t::sm_threat_base_t(sm_app_t& app) : app(app), batch_timer(app.io_context), queue(this) {}

sm_threat_base_t::~sm_threat_base_t() = default;

void sm_threat_base_t::open(boost::filesystem::path const& path) {
  if (is_broken()) return;
  close();
  std::uint64_t const serial = awaited_open = ++opens;
  queue.push([this, path, serial] { open_task(path, serial); });
}

void sm_threat_base_t::open_task(boost::filesystem::path const& path, std::uint64_t serial) {
  try {
    db.reset(new sm_db_t(path, "Threats base: "));
    if (cf_log_threshold <= CF_LOG_DEBUG) cf_log(CF_LOG_DEBUG, "Threats base: opened at " + text_of(path));
  } catch (std::exception const& e) {
    // The waiting syncs are the main thread's: they are dropped there, before the failure is
    // logged and counted.
    post(
        app.io_context, [this](std::string const& text) { open_failed(text); }, std::string(cf_exception_to_text(e)));
    return;
  }
  db.get()->set_trace(cf_log_threshold <= CF_LOG_DEBUG);
  db.get()->check_version("1");
  post(app.io_context, [this, serial] { open_done(serial); });
}

void sm_threat_base_t::open_failed(std::string const& text) {
  drop_waiting_syncs();
  if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, "Threat base: " + text);
  task_failed();
}

void sm_threat_base_t::open_done(std::uint64_t serial) {
  if (serial != awaited_open) {
    // Closed since it was asked for (a suspension while another process held the file): it
    // stays closed. A newer open that is still queued takes its place instead.
    if (awaited_open == 0) close();
    return;
  }
  awaited_open = 0;
  errors = 0;
  opened = true;
  flush_batch();
  opened_signal();
  std::vector<std::shared_ptr<sm_threat_t>> resubmitted;
  for (auto const& share : waiting) resubmitted.insert(resubmitted.end(), share.second.begin(), share.second.end());
  for (auto const& threat : resubmitted) sync_threat_if_not_duplicate(threat);
}

void sm_threat_base_t::close() {
  awaited_open = 0;
  if (!db) return;
  opened = false;
  drop_waiting_syncs();
  boost::system::error_code ec;
  batch_timer.cancel(ec);
  if (ec) throw boost::system::system_error(ec, "cancel");
  queue.stop();
  db.reset();
  while (!parked.empty()) {
    locked_callback_t callback = std::move(parked.front());
    parked.pop_front();
    callback(false);
  }
  *cancelled = true;
  closed_signal();
}

void sm_threat_base_t::drop_waiting_syncs() {
  for (auto const& share : waiting)
    for (auto const& threat : share.second) {
      if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, "Sync " + text_of(*threat) + ": Database closed");
      app.get_proxy_scan(share.first)->ignore_threat(threat->threat_id);
    }
  waiting.clear();
  pending.clear();
  synced.clear();
}

void sm_threat_base_t::init() {
  errors = 0;
  if (app.settings->suspended)
    close();
  else if (db)
    set_trace(cf_log_threshold <= CF_LOG_DEBUG);
}

bool sm_threat_base_t::is_broken() const { return errors > 20; }

bool sm_threat_base_t::is_opened() const { return opened; }

bool sm_threat_base_t::is_idle() { return queue.empty(); }

void sm_threat_base_t::set_trace(bool on) {
  queue.push([this, on] {
    if (sm_db_t* connection = db.get()) connection->set_trace(on);
  });
}

boost::signals2::connection sm_threat_base_t::connect_closed(std::function<void()> const& slot) {
  return closed_signal.connect(slot);
}

boost::signals2::connection sm_threat_base_t::connect_opened(std::function<void()> const& slot) {
  return opened_signal.connect(slot);
}

void sm_threat_base_t::on_task_exception(std::exception const& e) {
  if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, std::string("Threat base: ") + cf_exception_to_text(e));
  post(app.io_context, [this] { task_failed(); });
}

void sm_threat_base_t::task_failed() {
  ++errors;
  if (is_broken() && cf_log_threshold <= CF_LOG_NOTICE)
    cf_log(CF_LOG_NOTICE, "Threat base: too many errors, decided to be broken");
  close();
}

void sm_threat_base_t::async_check_locked(boost::filesystem::path const& path, std::uint64_t dev, std::uint64_t ino,
                                          std::string const& tag, locked_callback_t const& callback) {
  auto const found = pending.find(boost::make_tuple(dev, ino, path, tag));
  if (found != pending.end() || !db) {
    bool const locked = found != pending.end() && (*found)->locked;
    boost::asio::post(app.io_context, [callback, locked] { callback(locked); });
    return;
  }
  parked.push_back(callback);
  queue.push([this, path, dev, ino, tag] {
    bool const locked = check_locked(*db.get(), path, dev, ino, tag);
    // Tasks run in queue order, so the oldest parked callback is this query's.
    post(app.io_context, [this, locked] {
      locked_callback_t callback = std::move(parked.front());
      parked.pop_front();
      callback(locked);
    });
  });
}

void sm_threat_base_t::async_load(std::int64_t threat_id, load_callback_t const& callback) {
  if (!db) return;
  queue.push([this, threat_id, callback] { post(app.io_context, callback, load(*db.get(), threat_id)); });
}

void sm_threat_base_t::async_load_by_history_id(std::int64_t history_id, load_callback_t const& callback) {
  if (!db) return;
  queue.push(
      [this, history_id, callback] { post(app.io_context, callback, load_by_history_id(*db.get(), history_id)); });
}

void sm_threat_base_t::async_load_next_task(task_t const& cursor, task_callback_t const& callback) {
  if (!db) return;
  queue.push([this, cursor, callback] { post(app.io_context, callback, load_next_task(*db.get(), cursor)); });
}

void sm_threat_base_t::sync_new_threat(std::shared_ptr<sm_threat_t> const& threat) {
  if (is_broken()) return;
  if (cf_log_threshold <= CF_LOG_DEBUG)
    cf_log(CF_LOG_DEBUG, "sm_threat_base_t: sync requested for " + text_of(*threat));
  if (!insert_pending(threat)) {
    ignore_duplicate(threat);
    return;
  }
  auto& share = waiting[threat->tag];
  auto const at = std::find_if(share.begin(), share.end(), [&](std::shared_ptr<sm_threat_t> const& t) {
    return t->threat_id >= threat->threat_id;
  });
  share.insert(at, threat);
  if (db) sync_threat_if_not_duplicate(threat);
}

void sm_threat_base_t::ignore_duplicate(std::shared_ptr<sm_threat_t> const& threat) {
  if (cf_log_threshold <= CF_LOG_DEBUG)
    cf_log(CF_LOG_DEBUG, "sm_threat_base_t: sync " + text_of(*threat) + ": ignoring duplicated detect");
  app.get_proxy_scan(threat->tag)->ignore_threat(threat->threat_id);
}

bool sm_threat_base_t::insert_pending(std::shared_ptr<sm_threat_t> const& threat) {
  auto const same_file = pending.equal_range(boost::make_tuple(threat->dev, threat->ino, threat->path));
  bool all_equal = true;
  auto same_tag = pending.end();
  for (auto it = same_file.first; it != same_file.second; ++it) {
    if (!sm_reports_equal((*it)->report, threat->report)) all_equal = false;
    if ((*it)->tag == threat->tag) same_tag = it;
  }
  if (same_file.first != same_file.second && all_equal) {
    if (!threat->locked) return false;
    if (same_tag != pending.end() && (*same_tag)->locked) return false;
  }
  if (same_tag == pending.end())
    pending.insert(threat);
  else
    pending.replace(same_tag, threat);
  return true;
}

void sm_threat_base_t::erase_pending(std::shared_ptr<sm_threat_t> const& threat) {
  auto const found = pending.find(boost::make_tuple(threat->dev, threat->ino, threat->path, threat->tag));
  if (found != pending.end() && *found == threat) pending.erase(found);
}

std::shared_ptr<bool>& sm_threat_base_t::share_flag(std::string const& tag) {
  std::shared_ptr<bool>& flag = share_flags[tag];
  if (!flag) flag = std::make_shared<bool>(false);
  return flag;
}

void sm_threat_base_t::sync_threat_if_not_duplicate(std::shared_ptr<sm_threat_t> const& threat) {
  std::shared_ptr<bool>& current = share_flag(threat->tag);
  if (*current) current = std::make_shared<bool>(false);
  std::shared_ptr<bool> const flag = current;
  queue.push([this, flag, threat] {
    bool const duplicate = is_duplicate(*db.get(), *threat);
    post(app.io_context, [this, flag, threat, duplicate] { duplicate_checked(flag, threat, duplicate); });
  });
}

void sm_threat_base_t::duplicate_checked(std::shared_ptr<bool> const& share_flag,
                                         std::shared_ptr<sm_threat_t> const& threat, bool duplicate) {
  if (*share_flag) return;
  // A detection that came while the open was being confirmed is queried twice; only the first
  // answer finds it still waiting.
  auto const share = waiting.find(threat->tag);
  if (share == waiting.end()) return;
  auto const found = std::find(share->second.begin(), share->second.end(), threat);
  if (found == share->second.end()) return;
  share->second.erase(found);
  if (share->second.empty()) waiting.erase(share);
  if (duplicate) {
    ignore_duplicate(threat);
    erase_pending(threat);
  } else {
    request_sync(threat);
  }
}

void sm_threat_base_t::request_sync(std::shared_ptr<sm_threat_t> const& threat) {
  app.get_proxy_scan(threat->tag)
      ->sync_threat(threat->threat_id, [this, threat](boost::system::error_code const& ec, std::int64_t history_id) {
        if (ec) {
          if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, "Sync " + text_of(*threat) + ": " + ec.message());
          erase_pending(threat);
          return;
        }
        if (cf_log_threshold <= CF_LOG_DEBUG)
          cf_log(CF_LOG_DEBUG,
                 "sm_threat_base_t: sync " + text_of(*threat) + ": history_id=" + std::to_string(history_id));
        synced.emplace_back(threat, history_id);
      });
}

void sm_threat_base_t::flush_batch() {
  if (!synced.empty()) {
    batch_t batch;
    batch.swap(synced);
    share_flags_t snapshot = share_flags;
    queue.push([this, batch, snapshot] { write_synced(batch, snapshot); });
  }
  auto const now = sm_clock_t::system::now();
  auto const period = std::chrono::nanoseconds(250000000);
  auto const latest = (sm_clock_t::system::time_point::max)();
  try {
    batch_timer.expires_at(latest - now < period ? latest : now + period);
  } catch (boost::system::system_error const& e) {
    throw boost::system::system_error(e.code(), "expires_from_now");
  }
  batch_timer.async_wait([this](boost::system::error_code const& ec) {
    if (!ec) flush_batch();
  });
}

void sm_threat_base_t::write_synced(batch_t const& batch, share_flags_t const& snapshot) {
  sm_db_t& connection = *db.get();
  connection.begin();
  std::map<std::string, std::vector<std::int64_t>> written;
  for (auto const& entry : batch) {
    std::pair<std::int64_t, bool> const found = find_history(connection, entry.second);
    if (found.second) {
      if (cf_log_threshold <= CF_LOG_DEBUG)
        cf_log(CF_LOG_DEBUG, "Unable to sync threat #" + std::to_string(found.first) + " : already neutralized ");
      continue;
    }
    update_synced(connection, *entry.first, entry.second);
    written[entry.first->tag].push_back(entry.second);
  }
  connection.commit();
  post(app.io_context, [this, batch, snapshot, written] { synced_written(batch, snapshot, written); });
}

void sm_threat_base_t::synced_written(batch_t const& batch, share_flags_t const& snapshot,
                                      std::map<std::string, std::vector<std::int64_t>> const& written) {
  for (auto const& share : written) {
    auto const flag = snapshot.find(share.first);
    if (flag != snapshot.end() && *flag->second) continue;
    for (std::int64_t history_id : share.second) app.get_proxy_scan(share.first)->notify_threat(history_id);
  }
  for (auto const& entry : batch) erase_pending(entry.first);
}

void sm_threat_base_t::cancel_syncs(std::string const& tag, boost::system::error_code const& ec) {
  pending.get<1>().erase(tag);
  auto const share = waiting.find(tag);
  if (share != waiting.end()) {
    for (auto const& threat : share->second)
      if (cf_log_threshold <= CF_LOG_ERROR) cf_log(CF_LOG_ERROR, "Sync: " + text_of(*threat) + ": " + ec.message());
    waiting.erase(share);
  }
  *share_flag(tag) = true;
}
