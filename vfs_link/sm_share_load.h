#pragma once

// The requests of one share that wait for their verdict, over all its module connections: scans
// queued or sent, lock checks, and scans of modules that hung up. At the bound the share's
// connections read no further; once a verdict makes room they read on, one after another while
// the room lasts, so that nothing is dropped and other shares are served meanwhile.

#include <cstddef>
#include <deque>
#include <memory>

#include <boost/asio/io_context.hpp>

class sm_module_tie_t;

class sm_share_load_t : public std::enable_shared_from_this<sm_share_load_t> {
 public:
  static constexpr std::size_t max_unanswered = 4096;

  explicit sm_share_load_t(boost::asio::io_context& io);

  sm_share_load_t(sm_share_load_t const&) = delete;
  sm_share_load_t& operator=(sm_share_load_t const&) = delete;

  bool full() const { return unanswered >= max_unanswered; }
  void take() { ++unanswered; }
  void give_back();
  // The connection reads on once the share has room; it asks once until then. Held meanwhile: it has
  // nothing else under way that would keep it.
  void wait(std::shared_ptr<sm_module_tie_t> const& tie);
  // At the end: the waiting connections hold the load, and it them.
  void drop_waiting();

 private:
  void wake();

  boost::asio::io_context& io;
  std::size_t unanswered = 0;
  std::deque<std::shared_ptr<sm_module_tie_t>> waiting;
  bool waking = false;  // a wake is posted or under way
};
