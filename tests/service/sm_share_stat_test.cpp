#include "service/sm_share_stat.h"

#include <boost/asio/post.hpp>

#include "tests/support/app_fixture.h"

namespace {

class share_stat_test : public app_fixture_t {
 protected:
  // The statistics sent, or "none".
  std::string report() { return poll(), configd.has_data() ? configd.receive().stat().ShortDebugString() : "none"; }

  std::unique_ptr<sm_share_stat_t, sm_share_stat_t::deleter_t> stat;
};

// A period long enough that only the test's ticks count.
TEST_F(share_stat_test, shares_are_reported_every_period_while_open_or_active) {
  stat.reset(new sm_share_stat_t(*app, std::chrono::hours(1)));
  auto const tick = [&](char const* path, int in, int out) {
    for (int i = 0; i < in; ++i) stat->count_in(path);
    for (int i = 0; i < out; ++i) stat->count_out(path);
    stat->on_timer(boost::system::error_code());
    return report();
  };
  std::string const s = "shares { share_path: \"/s\" ";
  EXPECT_EQ(s + "base: 0 in: 3 out: 1 }", tick("/s", 3, 1));
  EXPECT_EQ(s + "base: 2 in: 0 out: 0 }", tick("/s", 0, 0)) << "two still open";
  EXPECT_EQ(s + "base: 2 in: 0 out: 2 }", tick("/s", 0, 2));
  EXPECT_EQ("none", tick("/s", 0, 0));
  // Element-wise path order puts /srv/a/b before /srv/a-b, unlike plain text order.
  tick("/srv/a-b", 1, 0);
  EXPECT_EQ(
      "shares { share_path: \"/srv/a/b\" base: 0 in: 1 out: 0 } shares { share_path: \"/srv/a-b\" base: 1 in: 0 "
      "out: 0 }",
      tick("/srv/a/b", 1, 0));
}

TEST_F(share_stat_test, ticks_on_the_loop_wait_again_and_a_due_tick_of_a_deleted_object_does_nothing) {
  stat.reset(new sm_share_stat_t(*app, std::chrono::steady_clock::duration::zero()));
  stat->count_in("/srv/a");
  stat->count_out("/srv/a");
  pump([&] { return configd.has_data(); });
  EXPECT_EQ(1u, stat->cancel()) << "the tick waits again";
  EXPECT_EQ("shares { share_path: \"/srv/a\" base: 0 in: 1 out: 1 }", report());
  // A tick already due cannot be cancelled. This runs behind the loop's timer check: it deletes
  // the object once its tick is due, else retries.
  stat->count_in("/srv/b");
  stat->start_timer();
  bool deleted = false;
  std::function<void()> delete_when_due = [&] {
    if (stat->cancel() == 0) return stat.reset(), void(deleted = true);
    stat->start_timer();
    boost::asio::post(app->io_context, delete_when_due);
  };
  boost::asio::post(app->io_context, delete_when_due);
  pump([&] { return deleted; });
  EXPECT_EQ("none", report());
}

}  // namespace
