#pragma once

// Per-share counts of VFS-module connections, reported to ConfigD once a
// period ("StatTimer") while any share has an open connection or activity.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

#include <boost/asio/steady_timer.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>

class sm_app_t;

class sm_share_stat_t {
 public:
  struct counters_t {
    std::uint64_t base = 0;  // open when the period began
    std::uint64_t in = 0;    // hello completed during the period
    std::uint64_t out = 0;   // closed during the period
  };

  // Cancels a pending wait before destroying the object.
  struct deleter_t {
    void operator()(sm_share_stat_t* stat) const;
  };

  // Starts the timer at once. The period is one second in the daemon.
  explicit sm_share_stat_t(sm_app_t& app, std::chrono::steady_clock::duration period = std::chrono::seconds(1));

  void count_in(boost::filesystem::path const& base_dir);
  void count_out(boost::filesystem::path const& base_dir);

  void start_timer();
  void on_timer(boost::system::error_code const& ec);
  // The number of waits cancelled: 0 when the tick is already due to run.
  std::size_t cancel();

 private:
  sm_app_t& app;
  std::map<boost::filesystem::path, counters_t> counters;
  boost::asio::steady_timer stat_timer;
  std::chrono::steady_clock::duration period;
  // A tick already due when the object is deleted still runs (cancel cannot
  // stop it); this lets it see that the object is gone.
  std::shared_ptr<char> alive;
};
