#include "tests/threats/threats_app_fixture.h"

#include <google/protobuf/text_format.h>

namespace {

class sm_threat_base_service_test : public threats_app_test {
 protected:
  void open() {
    app->threat_base->open(db.db_path());
    pump([&] { return app->threat_base->is_opened(); });
  }

  // A detection of /share/<file> whose provisional id -n the file checker records as history row
  // n; the share's proxy scanner is connected first.
  std::shared_ptr<sm_threat_t> detection(std::string const& file, bool locked, std::string const& tag = "s",
                                         std::string const& virus = "Standard-Test-File", bool neutralized = false) {
    std::string const path = "/share/" + file;
    std::int64_t const id = -db.add_history({db.add_threat(path, 1, 7), 100, {}, {}, {}, 1, 40, neutralized});
    made.push_back(
        std::make_shared<sm_threat_t>(sm_threat_t{id, path, 1, 7, db.report(path, virus), {}, 0, tag, locked}));
    if (app->proxy_scans.count(tag)) return made.back();
    app->get_proxy_scan(tag)->async_scan("/share/x", [](auto const&...) {});
    accept_fc();
    EXPECT_EQ("OPEN_PROXY|PROXY_OPTIONS_NOTIFICATION|PROXY_SCAN_REQUEST", collect(3));
    return made.back();
  }

  bool locked(std::string const& file) {
    int answer = -1;
    app->threat_base->async_check_locked("/share/" + file, 1, 7, "s", [&](bool locked) { answer = locked; });
    return pump([&] { return answer >= 0; }) && answer;
  }

  std::vector<std::shared_ptr<sm_threat_t>> made;
};

TEST_F(sm_threat_base_service_test, syncs_detections_writes_them_in_batches_and_closes) {
  // Duplicates in pending: two unlocked, two locked, then another report; a detection that is
  // neutralized before its batch; one of another share that is cancelled while its batch is written.
  db.add_threat("/share/x", 9, 9);  // threat ids run one ahead of history ids
  detection("f", false), detection("f", false), detection("f", true), detection("f", true);
  detection("f", true, "s", "Other-Test"), detection("a", true, "s", "Standard-Test-File", true),
      detection("b", true, "t");
  // Remote users: in full, then only an address where the previous use had more, then of a threat
  // past its first history row, which keeps its own.
  for (auto const& [i, user] : {std::pair(0, "ip: 'a' user: 'u' domain: 'd'"), {2, "ip: 'b'"}, {4, "user: 'c'"}})
    google::protobuf::TextFormat::ParseFromString(user, &made[i]->remote_user);
  db.add_history({6, 200});
  open();
  db.exec("BEGIN IMMEDIATE;");
  for (auto const& t : made) app->threat_base->sync_new_threat(t);
  EXPECT_EQ(
      "THREAT_OP_REQUEST -2|THREAT_OP_REQUEST -4|THREAT_SYNC_REQUEST -1|THREAT_SYNC_REQUEST -3|THREAT_SYNC_REQUEST "
      "-5|THREAT_SYNC_REQUEST -6|THREAT_SYNC_REQUEST -7",
      collect(7));
  EXPECT_TRUE(locked("f"));  // pending: answered before its row is written
  auto const later = [] { sm_clock_t::advance(10ms); };
  pump([&] { return later(), count("Debug: Threats base: BEGIN IMMEDIATE TRANSACTION;") > 0; });
  app->threat_base->cancel_syncs("t", qn::make_error_code(qn::EC_APP_TERMINATED));
  db.exec("COMMIT;");
  EXPECT_EQ("MY_THREAT_NOTIFICATION 1|MY_THREAT_NOTIFICATION 3|MY_THREAT_NOTIFICATION 5", collect(3, later));
  EXPECT_TRUE(quiet());
  EXPECT_EQ("1:0s,2:--,3:1s,4:--,5:1s,6:--,7:1t,8:--",
            db.query_text("SELECT group_concat(history_id||':'||ifnull(locked, '-')||ifnull(tag, '-')) FROM history"));
  EXPECT_EQ("---,aud,---,b--,---,---,---,---",
            db.query_text("SELECT group_concat(ifnull(remote_ip, '-')||ifnull(remote_user, '-')||ifnull(remote_domain, "
                          "'-')) FROM threat"));
  EXPECT_EQ(1, count("Debug: sm_threat_base_t: sync threat #-4: dev=1 ino=7 path=\"/share/f\" tag='s': ignoring "
                     "duplicated detect"));
  EXPECT_EQ(1, count("Debug: Unable to sync threat #7 : already neutralized "));
  EXPECT_FALSE(locked("a"));  // not pending any more
  // Lock checks wait for a database that another process keeps locked: the close must not.
  std::vector<std::string> events;
  app->threat_base->connect_closed([&] { events.push_back("closed"); });
  db.exec("BEGIN EXCLUSIVE;");
  for (int i = 0; i < 3; ++i)
    app->threat_base->async_check_locked(
        "/share/f", 1, 7, "s", [&, i](bool l) { events.push_back(std::to_string(i) + ":" + std::to_string(l)); });
  pump([&] { return count("Debug: Threats base: SELECT h.locked") > 1; });
  app->threat_base->close();  // at once: the lock is never let go
  app->threat_base->close();
  EXPECT_TRUE(quiet());
  EXPECT_EQ((std::vector<std::string>{"0:0", "1:0", "2:0", "closed"}), events);
}

TEST_F(sm_threat_base_service_test, twenty_one_failed_tasks_in_a_row_make_it_broken_until_init) {
  app->threat_base->sync_new_threat(detection("f", true));
  for (int failed = 1; failed <= 41; ++failed) {
    if (failed == 21) open();  // a success starts the count again
    app->threat_base->open(db.sandbox() / "missing" / "threats.db");
    pump([&] { return count("Error: Threat base: unable to open database file") == failed; });
    EXPECT_EQ(failed == 41, count("Notice: Threat base: too many errors, decided to be broken") == 1) << failed;
  }
  EXPECT_EQ("THREAT_OP_REQUEST -1", collect(1));
  EXPECT_EQ(1, count("Error: Sync threat #-1: dev=1 ino=7 path=\"/share/f\" tag='s': Database closed"));
  app->threat_base->open(db.db_path());
  app->threat_base->sync_new_threat(detection("g", true));
  EXPECT_FALSE(locked("g"));  // never pending
  EXPECT_FALSE(app->threat_base->is_opened());
  app->threat_base->init();
  db.exec("UPDATE property SET value = '2';");  // a database of another version
  app->threat_base->open(db.db_path());
  pump([&] { return count("Error: Threat base: Database version mismatch: current is 2, but 1.x is required"); });
  db.exec("UPDATE property SET value = '1';");
  open();
  refuse_syncs = true;  // a refused sync leaves nothing pending: the file's next detection is synced too
  for (int i = 1; i <= 2; ++i) {
    app->threat_base->sync_new_threat(detection("h", true));
    EXPECT_EQ("THREAT_SYNC_REQUEST " + std::to_string(made.back()->threat_id), collect(1));
    pump([&] { return count("Error: Sync threat #") == 1 + i; });
  }
}

}  // namespace
