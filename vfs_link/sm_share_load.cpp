#include "vfs_link/sm_share_load.h"

#include <boost/asio/post.hpp>

#include "vfs_link/sm_module_tie.h"

constexpr std::size_t sm_share_load_t::max_unanswered;

sm_share_load_t::sm_share_load_t(boost::asio::io_context& io) : io(io) {}

void sm_share_load_t::give_back() {
  --unanswered;
  if (waking || waiting.empty() || full()) return;
  // From the loop: the verdict that made room may be sent inside another connection's frame or
  // inside a scanner failing its scans, neither of which may run a connection's reading.
  waking = true;
  boost::asio::post(io, [self = shared_from_this()] { self->wake(); });
}

void sm_share_load_t::wait(std::shared_ptr<sm_module_tie_t> const& tie) { waiting.push_back(tie); }

void sm_share_load_t::drop_waiting() { waiting.clear(); }

void sm_share_load_t::wake() {
  // A connection that reads on takes room at once for the bytes it holds, and waits again at the
  // back when it fills the share anew.
  while (!full() && !waiting.empty()) {
    std::shared_ptr<sm_module_tie_t> const tie = waiting.front();
    waiting.pop_front();
    tie->room_made();
  }
  waking = false;
}
