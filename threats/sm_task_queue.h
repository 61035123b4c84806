#pragma once

#include <boost/noncopyable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <deque>
#include <exception>
#include <functional>

// Runs tasks one after the other, in push order, on a worker thread that exists only while
// there is work: the push that makes the queue non-empty starts it, and it ends when the
// queue drains.
class sm_task_queue_t : private boost::noncopyable {
 public:
  class delegate_t {
   public:
    virtual ~delegate_t();
    // Called on the worker thread for a task that threw; the next task runs afterwards.
    virtual void on_task_exception(std::exception const& e) = 0;
  };

  explicit sm_task_queue_t(delegate_t* delegate);
  ~sm_task_queue_t();

  // Safe from any thread; never waits for a running task. When no thread can be started the
  // task is not kept and the error propagates.
  void push(std::function<void()> task);

  // Interrupts and joins the worker, then drops what is still queued. A running task finishes
  // first, unless it waits for a locked database: that wait ends at once and the task is dropped
  // with the others. The queue stays usable. Only the owner's thread calls it, never a task and
  // never while another thread pushes.
  void stop();

  // Whether no task is queued or running: the results of every task so far have been handed on.
  bool empty();

 private:
  void run();

  // The running task stays at the front until it has finished.
  std::deque<std::function<void()>> tasks;
  boost::mutex mutex;
  boost::thread worker;
  delegate_t* delegate;
};
