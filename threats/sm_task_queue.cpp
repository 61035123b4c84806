#include "threats/sm_task_queue.h"

#include <unistd.h>

#include <string>
#include <utility>

#include "error.pb.h"
#include "framework/error/cf_error_conversions.h"
#include "framework/log/cf_log.h"

sm_task_queue_t::delegate_t::~delegate_t() = default;

sm_task_queue_t::sm_task_queue_t(delegate_t* delegate) : delegate(delegate) {}

sm_task_queue_t::~sm_task_queue_t() {
  stop();
  worker.detach();
}

bool sm_task_queue_t::empty() {
  boost::lock_guard<boost::mutex> lock(mutex);
  return tasks.empty();
}

void sm_task_queue_t::push(std::function<void()> task) {
  boost::unique_lock<boost::mutex> lock(mutex);
  tasks.push_back(std::move(task));
  if (tasks.size() != 1) return;  // the running worker takes it
  // The queue was empty, so the previous worker, if any, has let go of the lock for good and
  // is returning: joining it under the lock cannot deadlock, and keeps two pushing threads
  // from handling `worker` at once. A push from a running task never gets here (its task is
  // still queued), so the worker never joins itself.
  if (worker.joinable()) worker.join();
  try {
    worker = boost::thread(&sm_task_queue_t::run, this);
  } catch (...) {
    // Left queued without a worker, the task would hold every later push back forever.
    tasks.pop_front();
    throw;
  }
}

void sm_task_queue_t::stop() {
  if (worker.joinable()) {
    worker.interrupt();
    worker.join();
  }
  std::deque<std::function<void()>> dropped;
  {
    boost::lock_guard<boost::mutex> lock(mutex);
    dropped.swap(tasks);
  }
}

void sm_task_queue_t::run() {
  try {
    boost::unique_lock<boost::mutex> lock(mutex);
    while (!tasks.empty()) {
      boost::this_thread::interruption_point();
      std::function<void()> task = tasks.front();
      lock.unlock();
      try {
        task();
      } catch (std::exception const& e) {
        delegate->on_task_exception(e);
      }
      task = nullptr;
      lock.lock();
      tasks.pop_front();
    }
  } catch (boost::thread_interrupted const&) {
    // stop() asked for it
  } catch (qn::ErrorCode code) {
    // A task ending the process, as components do on the main thread.
    if (cf_log_threshold <= 2)
      cf_log(2,
             "Exit with status " + std::to_string(static_cast<int>(code)) + " (" + cf_proto_code_to_text(code) + ")");
    _exit(code);
  } catch (std::exception const& e) {
    if (cf_log_threshold <= 4) cf_log(4, std::string("Task queue unexpected: ") + cf_exception_to_text(e));
    throw cf_exception_to_proto_code(e);
  }
}
