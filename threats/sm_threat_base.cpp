#include "threats/sm_threat_base.h"

#include "threats/sm_report_compare.h"

namespace {

// The texts are the file checker's contract and the statement cache's keys: keep them byte
// for byte.
char const find_history_sql[] =
    "SELECT h.threat_id,EXISTS(SELECT 1 FROM history        WHERE threat_id = h.threat_id "
    "       AND neutralized) AS neutralized FROM history h WHERE h.history_id = ?;";

char const next_task_sql[] =
    "SELECT t.threat_id, h.moment FROM threat t JOIN history h ON h.threat_id = t.threat_id "
    "WHERE NOT EXISTS (SELECT 1 FROM history                   WHERE threat_id = t.threat_id "
    "                  AND neutralized) AND (SELECT locked FROM history      WHERE threat_id "
    "= t.threat_id AND event = ?1 AND origin = ?2      ORDER BY history_id DESC LIMIT "
    "1) AND h.event = ?1 AND h.origin = ?2 AND t.threat_id > ?3 AND h.moment >= ?4 ORDER "
    "BY h.moment ASC   , h.threat_id ASC   , h.history_id DESC;";

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

// Skeleton of the service: filled in with the database service.
sm_threat_base_t::sm_threat_base_t(sm_app_t& app) : app(app) {}
sm_threat_base_t::~sm_threat_base_t() = default;
void sm_threat_base_t::open(boost::filesystem::path const&) {}
void sm_threat_base_t::close() {}
void sm_threat_base_t::init() {}
bool sm_threat_base_t::is_broken() const { return false; }
bool sm_threat_base_t::is_opened() const { return false; }
void sm_threat_base_t::set_trace(bool) {}
boost::signals2::connection sm_threat_base_t::connect_closed(std::function<void()> const&) { return {}; }
boost::signals2::connection sm_threat_base_t::connect_opened(std::function<void()> const&) { return {}; }
void sm_threat_base_t::async_check_locked(boost::filesystem::path const&, std::uint64_t, std::uint64_t,
                                          std::string const&, locked_callback_t const&) {}
void sm_threat_base_t::async_load(std::int64_t, load_callback_t const&) {}
void sm_threat_base_t::async_load_by_history_id(std::int64_t, load_callback_t const&) {}
void sm_threat_base_t::async_load_next_task(task_t const&, task_callback_t const&) {}
void sm_threat_base_t::sync_new_threat(std::shared_ptr<sm_threat_t> const&) {}
void sm_threat_base_t::cancel_syncs(std::string const&, boost::system::error_code const&) {}
void sm_threat_base_t::on_task_exception(std::exception const&) {}
