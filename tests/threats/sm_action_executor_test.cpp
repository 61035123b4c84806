#include "tests/threats/threats_app_fixture.h"

#include <sys/stat.h>

#include <boost/filesystem/operations.hpp>
#include <fstream>
#include <sstream>

namespace {

class sm_action_executor_test : public threats_app_test {
 protected:
  // The database opens when the file checker answers the subscription. Earlier links are gone.
  void subscribe() {
    conns.clear(), fc = &accept_fc(), serial = 0;
    EXPECT_EQ("SUBSCRIBE_TO_THREATS", collect(1));
    send(*fc, server_t::THREATS_SUBSCRIBED, [&](server_t& m) { m.set_dbpath(db.db_path().string()); });
    pump([&] { return app->threat_base->is_opened(); });
  }

  // Seconds since the start on the daemon's clocks, which tests move.
  double now() const {
    return std::chrono::duration<double>(sm_clock_t::system::now().time_since_epoch()).count() - start;
  }
  void at(double s) {
    sm_clock_t::advance(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(s - now())));
  }

  // A detection by this daemon `moment` seconds after the start, of file /s/<id> with dev and ino
  // <id>, announced by the file checker when asked; a loaded threat comes to the executor.
  std::int64_t add(std::int64_t moment, bool announce, std::string const& tag = "q", bool report = true,
                   bool locked = true) {
    std::string const path = "/s/" + std::to_string(++last);
    EXPECT_EQ(last, db.add_threat(path, last, last));
    std::int64_t const history = db.add_history(
        {last, start + moment, tag, locked, report ? std::optional(db.report_blob(path)) : std::nullopt});
    if (!announce) return last;
    send(*fc, server_t::THREATS_NOTIFICATION, [&](server_t& m) { m.set_history_id(history); });
    pump([&] { return count("Debug: sm_threat_handler_t: threat #" + std::to_string(last) + ":"); });
    return last;
  }
  void neutralize(std::int64_t id) { db.add_history({id, start, {}, {}, {}, 3, 40, true}); }

  // The file checker's answer to the next operation; a success neutralizes the threat first.
  void answer(std::int64_t id, qn::ErrorCode code = qn::EC_OK) {
    if (!code) neutralize(id);
    send(*fc, server_t::THREATS_OP_RESPONSE, [&](server_t& m) {
      if (m.set_serial(++serial), code) m.mutable_error()->set_code(code);
    });
  }

  static std::string act(std::int64_t id, std::string const& end = "", std::string const& level = "Info") {
    std::string const n = std::to_string(id);
    return level + ": Executing delayed action: threat #" + n + ": dev=" + n + " ino=" + n + " path=\"/s/" + n +
           "\" tag='q'" + end;
  }
  std::vector<std::string> acted() const {
    std::vector<std::string> lines = log.lines();
    auto const other = [](std::string const& l) { return l.find(": Executing delayed action: ") == std::string::npos; };
    return lines.erase(std::remove_if(lines.begin(), lines.end(), other), lines.end()), lines;
  }
  // Until the walk has run dry n times; the database thread then rests, so the test may write.
  void idle(int n) {
    pump([&] { return count("Debug: sm_action_executor_t::plan_action: no more") == n; });
  }
  // The operation on `id` comes, and nothing more until it is answered.
  void acts(std::int64_t id, qn::ErrorCode code = qn::EC_OK) {
    EXPECT_EQ("THREAT_OP_REQUEST " + std::to_string(id), collect(1));
    EXPECT_TRUE(quiet());
    answer(id, code);
  }
  // Nothing is asked half a second before `s`, and the operation on `id` comes before a second has passed, and
  // nothing more while `meanwhile` runs. It is answered at a whole second, so that the next one is planned at a
  // whole second.
  void due(
      double s, std::int64_t id, qn::ErrorCode code = qn::EC_OK, std::function<void()> const& meanwhile = [] {}) {
    at(s - 0.5);
    EXPECT_TRUE(quiet()) << s;
    at(s + 0.5);
    EXPECT_EQ("THREAT_OP_REQUEST " + std::to_string(id), collect(1));
    EXPECT_LT(now(), s + 1);
    meanwhile();
    EXPECT_TRUE(quiet()) << s;
    at(s + 1), answer(id, code);
  }

  std::int64_t const start = sm_clock_t::seconds_since_epoch() + 1;  // a whole second
  fc_socket_t* fc = nullptr;
  std::int64_t last = 0;
  std::uint32_t serial = 0;
};

TEST_F(sm_action_executor_test, overdue_threats_act_one_after_another_in_moment_then_id_order) {
  // Taken in (moment, threat id) order, 2, 3, 5, 4, 6, then 1 (a later moment, a smaller id): 3 lies on a
  // share that blocks, 5 on one that reports, 4 has no report to load; 7 is not locked.
  std::tuple<std::int64_t, char const*, bool, bool> const rows[] = {
      {-100, "q", 1, 1},   {-300, "q", 1, 1}, {-300, "blk", 1, 1}, {-200, "q", 0, 1},
      {-250, "rep", 1, 1}, {-150, "q", 1, 1}, {-400, "q", 1, 0}};
  for (auto const& [moment, tag, report, locked] : rows) add(moment, false, tag, report, locked);
  configure(
      "on_known_virus: SMB_QUARANTINE share { item { tag: 'blk' on_known_virus: SMB_BLOCK } item { "
      "tag: 'rep' on_known_virus: SMB_REPORT } }");
  subscribe();
  std::pair<std::int64_t, qn::ErrorCode> const ops[] = {{2, qn::EC_NO_SUCH_ENTRY}, {6, qn::EC_OK}, {1, qn::EC_OK}};
  for (auto const& [id, code] : ops) acts(id, code);  // each only once the one before is answered
  EXPECT_EQ((std::vector<std::string>{act(2), act(2, " not found"),
                                      "Info: Executing delayed action: threat #4 does not exist", act(6), act(1)}),
            acted());
}

TEST_F(sm_action_executor_test, whole_seconds_of_delay_hand_ins_and_suspension) {
  configure("action_delay: 999 on_known_virus: SMB_QUARANTINE");
  subscribe();
  idle(1), at(0);
  std::int64_t const g = add(5, true);  // idle: planned at once
  // 999 ms: at the moment. Restarted while g's operation is under way, the walk waits for that answer.
  due(5, g, qn::EC_OK, [&] { configure("action_delay: 999 on_known_virus: SMB_QUARANTINE"); });
  idle(2);
  configure("action_delay: 1999 on_known_virus: SMB_QUARANTINE");  // restarts the walk
  idle(3), at(6);
  // Idle: f is planned at once. Running behind f: e and d are queued, to act in moment order; l is left to the
  // walk.
  std::int64_t const f = add(15, true), e = add(-50, true), d = add(-100, true), l = add(25, true);
  neutralize(f);        // while it waits
  due(16, d), acts(e);  // 1999 ms: one whole second after f's moment
  due(26, l, qn::EC_CAN_NOT_BE_CURED);
  idle(4);
  // Suspended while h waits, k is queued and the database is reopened, held by another process: that open is
  // closed again. Back again, only the database's opening restarts it, walking from the start.
  std::int64_t const h = add(40, true), k = add(-50, true);
  db.exec("BEGIN EXCLUSIVE;");
  send(*fc, server_t::THREATS_SUBSCRIBED, [&](server_t& m) { m.set_dbpath(db.db_path().string()); });
  pump([&] { return !app->threat_base->is_opened(); });
  configure("", true), db.exec("COMMIT;");
  pump([&] { return count("Debug: Threats base: opened at") == 2; }), at(41);
  EXPECT_TRUE(quiet() && !app->threat_base->is_opened());
  neutralize(k);  // by someone else meanwhile: the queue keeps no trace of it
  configure("action_delay: 1999 on_known_virus: SMB_QUARANTINE");
  subscribe();
  // Stopped by the two restarts and the reopening, and not restarted before the opening.
  EXPECT_EQ(3, count("Debug: sm_action_executor_t::stop"));
  for (std::int64_t id : {l, h}) acts(id);
  idle(5);
  std::string const incurable = ": " + qn::make_error_code(qn::EC_CAN_NOT_BE_CURED).message();
  EXPECT_EQ((std::vector<std::string>{act(g), act(g, " already neutralized"), act(f, " already neutralized"), act(d),
                                      act(e), act(l), act(l, incurable, "Error"), act(l), act(h)}),
            acted());
}

TEST_F(sm_action_executor_test, a_path_that_leads_to_another_file_now_is_left_alone) {
  // Detected files */f. Then the folder "out" is moved out of the chroot and linked back, the same file at the end
  // of the link, and "swapped" becomes a link to "kept", whose f is another file: only that one is acted on.
  namespace fs = boost::filesystem;
  std::ostringstream lines;
  for (std::string const name : {"out", "swapped", "kept"}) {
    std::string const path = root + "/" + name + "/f";
    struct stat st;
    fs::create_directory(root + "/" + name), std::ofstream(path) << name, ::stat(path.c_str(), &st);
    db.add_history({last = db.add_threat(path, st.st_dev, st.st_ino), start - 9, "q", true, db.report_blob(path)});
    lines << (last < 3 ? "Warning" : "Info")
          << ": Executing delayed action: " << sm_threat_t{last, path, st.st_dev, st.st_ino, {}, {}, 0, "q"}
          << (last < 3 ? ": the path names another file now, left alone|" : "|");
  }
  fs::rename(root + "/out", box.path() + "/out"), fs::create_directory_symlink(box.path() + "/out", root + "/out");
  fs::remove_all(root + "/swapped"), fs::create_directory_symlink(root + "/kept", root + "/swapped");
  configure("on_known_virus: SMB_QUARANTINE");
  subscribe(), acts(3), idle(1);
  EXPECT_EQ(lines.str(), boost::algorithm::join(acted(), "|") + "|");
}

}  // namespace
