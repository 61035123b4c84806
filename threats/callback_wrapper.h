#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <memory>
#include <tuple>
#include <utility>

namespace util {

// Carries results from a worker thread to the event loop. A result runs only while the flag it
// was posted with is false: the owner sets `*cancelled` (after its worker is joined) to drop
// everything posted so far; the next post starts a fresh flag.
class callback_wrapper_t {
 public:
  callback_wrapper_t();
  ~callback_wrapper_t();

  callback_wrapper_t(callback_wrapper_t const&) = delete;
  callback_wrapper_t& operator=(callback_wrapper_t const&) = delete;

  template <class Handler, class... Args>
  void post(boost::asio::io_context& io, Handler&& handler, Args&&... args) {
    if (*cancelled) cancelled = std::make_shared<bool>(false);
    boost::asio::post(io, [flag = cancelled, handler = std::forward<Handler>(handler),
                           args = std::make_tuple(std::forward<Args>(args)...)]() mutable {
      if (!*flag) std::apply(handler, args);
    });
  }

 protected:
  std::shared_ptr<bool> cancelled;
};

}  // namespace util
