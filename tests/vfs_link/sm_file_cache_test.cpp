#include <sstream>

#include "tests/vfs_link/vfs_link_fixture.h"

namespace {

// Steps: "c<n>" asks whether file n is clean and answers "1", or "0" and the writer's name;
// "w<n>" and "W<n>" mark file n modified without a writer and by bob; "t" starts a scan 1 ms
// after the step before; "s<n>" stores the last scan's clean result for file n; "x" clears.
std::string run(sm_file_cache_t& cache, std::string const& script) {
  std::istringstream steps(script);
  std::string answers;
  sm_clock_t::steady::time_point start;
  auto bob = std::make_shared<qn::RemoteUser>();
  bob->set_user("bob");
  for (std::string step; steps >> step;) {
    std::uint64_t const n = step.size() > 1 ? std::stoull(step.substr(1)) : 0;
    std::shared_ptr<qn::RemoteUser> writer;
    if (step[0] == 'c') answers += cache.is_clean(n, n, writer) ? "1 " : "0" + (writer ? writer->user() : "") + " ";
    if (step[0] == 'w' || step[0] == 'W') cache.mark_modified(n, n, step[0] == 'W' ? bob : nullptr);
    if (step[0] == 't') sm_clock_t::advance(1ms), start = sm_clock_t::steady::now();
    if (step[0] == 's') cache.store_check_result(n, n, true, start);
    if (step[0] == 'x') cache.clear();
  }
  return answers;
}

}  // namespace

TEST_F(vfs_link_test, cache_scripts) {
  // Answers "=" the estimate after the script; Debug lines of the cache ("Debug:
  // sm_file_cache_t" left out), and no others when whole_log is set.
  // clang-format off
  struct { std::uint32_t limit; char const *script, *answers; std::vector<std::string> lines; bool whole_log = false; }
  const cases[] = {
      // The entry touched longest ago goes first; a stored result touches its entry.
      {100, "c1 c2 t s2 c3 c2 c4 c2", "0 0 0 1 0 1 =80",
       {"::purge: dev=1 ino=1", "::purge: dev=3 ino=3", ": estimated memory consumption 80 from 100"}},
      // bob counts once (36 + his 5 bytes), and no more once no entry refers to him.
      {1000, "W1 W2 c1 c3", "0bob 0 =161", {}},
      {1000, "W1 W2 w1 w2 c1", "0 =80", {}},
      // A write after the scan started makes its result stale.
      {1000, "c5 t w5 s5 c5 t s5 c5", "0 0 1 =40",
       {"::store_check_result: dev=5 ino=5 clean=1: skipped", "::store_check_result: dev=5 ino=5 clean=1: stored"}},
      {0, "c1 W1 t s1 c1", "0 0 =0", {": using MaxCacheSize=0"}, true},
      {1000, "x c1 x x", "0 =0", {": using MaxCacheSize=1000", ": estimated memory consumption 40 from 1000",
                                 "::is_clean: dev=1 ino=1 -> 0", ": cache cleared"}, true},
  };
  // clang-format on
  for (auto const& c : cases) {
    config.set_max_cache_size(c.limit);
    app->settings->apply(1, config, false);
    log.clear();
    app->file_cache->init();
    std::string const answers = run(*app->file_cache, c.script);
    EXPECT_EQ(c.answers, answers + "=" + std::to_string(app->file_cache->estimate())) << c.script;
    for (std::string const& line : c.lines) EXPECT_TRUE(log.contains("Debug: sm_file_cache_t" + line)) << line;
    EXPECT_TRUE(!c.whole_log || c.lines.size() == log.lines().size()) << log.text();
    app->file_cache->clear();
  }
}
