#include "service/sm_share_stat.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <boost/asio/post.hpp>
#include <gtest/gtest.h>

#include "tests/service/sm_app_fixture.h"

namespace {

// A statistics object of the test's own, with a period long enough that only the test's ticks count.
class share_stat_test : public sm_app_fixture {
 protected:
  void SetUp() override {
    sm_app_fixture::SetUp();
    stat.reset(new sm_share_stat_t(*app, std::chrono::hours(1)));
  }
  void TearDown() override {
    stat.reset();
    sm_app_fixture::TearDown();
  }
  void count(std::string const& path, int in, int out) {
    for (int i = 0; i < in; ++i) stat->count_in(path);
    for (int i = 0; i < out; ++i) stat->count_out(path);
  }
  void tick() { stat->on_timer(boost::system::error_code()); }
  // "path base/in/out" per share of the next report.
  std::string next_report() {
    qn::SMBGardix2ConfigdMessage const message = receive();
    EXPECT_EQ(qn::SMBGardix2ConfigdMessage::MY_STAT_NOTIFICATION, message.tag());
    std::string out;
    for (qn::SMBGardixShareStat const& s : message.stat().shares())
      out += (out.empty() ? "" : ", ") + s.share_path() + " " + std::to_string(s.base()) + "/" +
             std::to_string(s.in()) + "/" + std::to_string(s.out());
    return out;
  }

  std::unique_ptr<sm_share_stat_t, sm_share_stat_t::deleter_t> stat;
};

TEST_F(share_stat_test, shares_are_reported_every_period_while_open_or_active) {
  count("/s", 2, 1);
  tick();
  poll();
  // MY_STAT_NOTIFICATION, stat { shares { share_path "/s" base 0 in 2 out 1 } }
  EXPECT_EQ(std::string("\x10\x00\x00\x00\x08\x03\x2a\x0c\x0a\x0a\x0a\x02/s\x50\x00\x58\x02\x60\x01", 20),
            peer.read(20));
  tick();
  EXPECT_EQ("/s 1/0/0", next_report()) << "one still open";
  count("/s", 0, 1);
  tick();
  EXPECT_EQ("/s 1/0/1", next_report());
  tick();
  EXPECT_TRUE(nothing_sent());
  // Element-wise path order puts /srv/a/b before /srv/a-b, unlike plain text order.
  count("/srv/a-b", 1, 0);
  count("/srv/a/b", 1, 0);
  tick();
  EXPECT_EQ("/srv/a/b 0/1/0, /srv/a-b 0/1/0", next_report());
}

TEST_F(share_stat_test, tick_runs_on_the_loop_and_restarts_the_timer) {
  stat.reset(new sm_share_stat_t(*app, std::chrono::steady_clock::duration::zero()));
  stat->count_in("/srv/a");
  while (!peer.has_data()) {
    app->io_context.restart();
    app->io_context.run_one();
  }
  EXPECT_EQ(1u, stat->cancel()) << "the tick waits again";
  EXPECT_EQ("/srv/a 0/1/0", next_report());
}

// A tick that is already due cannot be cancelled; once the object is gone it must do nothing.
TEST_F(share_stat_test, due_tick_of_a_deleted_object_does_nothing) {
  stat.reset(new sm_share_stat_t(*app, std::chrono::steady_clock::duration::zero()));
  stat->count_in("/srv/a");
  bool deleted = false;
  // Runs behind the loop's timer check: deletes the object once its tick is due, else retries.
  std::function<void()> delete_when_due = [&] {
    if (stat->cancel() == 0) {
      stat.reset();
      deleted = true;
      return;
    }
    stat->start_timer();
    boost::asio::post(app->io_context, delete_when_due);
  };
  boost::asio::post(app->io_context, delete_when_due);
  while (!deleted) poll();
  EXPECT_TRUE(nothing_sent());
}

}  // namespace
