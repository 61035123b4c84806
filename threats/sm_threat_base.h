#pragma once

// The daemon's front to the suite's threat database: opens and checks it when
// the file checker announces it, answers lock checks, loads threats, and syncs
// new detections with the file checker before writing their remote user, lock
// state and share tag in batches. SQLite work runs on the database thread;
// results come back to the event loop. The daemon never creates a table and
// never inserts or deletes a row.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <boost/filesystem/path.hpp>
#include <boost/multi_index/composite_key.hpp>
#include <boost/multi_index/member.hpp>
#include <boost/multi_index/ordered_index.hpp>
#include <boost/multi_index_container.hpp>
#include <boost/noncopyable.hpp>
#include <boost/signals2/connection.hpp>
#include <boost/signals2/signal.hpp>
#include <boost/system/error_code.hpp>

#include "service/sm_clock.h"
#include "threats/callback_wrapper.h"
#include "threats/sm_db.h"
#include "threats/sm_task_queue.h"
#include "threats/sm_threat.h"

class sm_app_t;

class sm_threat_base_t : private boost::noncopyable,
                         public sm_task_queue_t::delegate_t,
                         public util::callback_wrapper_t {
 public:
  // Position of the delayed-action scan; ordered by moment, then threat id.
  struct task_t {
    std::int64_t threat_id = -1;
    std::int64_t moment = 0;  // seconds since the epoch

    friend bool operator<(task_t const& a, task_t const& b) {
      return std::tie(a.moment, a.threat_id) < std::tie(b.moment, b.threat_id);
    }
    friend bool operator==(task_t const& a, task_t const& b) {
      return a.threat_id == b.threat_id && a.moment == b.moment;
    }
  };

  typedef std::function<void(std::shared_ptr<sm_threat_t> const&)> load_callback_t;
  typedef std::function<void(task_t const&)> task_callback_t;
  typedef std::function<void(bool)> locked_callback_t;

  explicit sm_threat_base_t(sm_app_t& app);
  ~sm_threat_base_t() override;

  // Main thread. The database opens only through open(), when the file
  // checker announces its path; init() never opens it.
  void open(boost::filesystem::path const& path);
  void close();
  void init();
  // More than 20 failed tasks since the last successful open or init.
  bool is_broken() const;
  // Whether the main thread has learnt of a successful open (until close).
  bool is_opened() const;
  // Whether the database thread has nothing left to do, its results posted to the event loop.
  bool is_idle();
  void set_trace(bool on);
  boost::signals2::connection connect_closed(std::function<void()> const& slot);
  boost::signals2::connection connect_opened(std::function<void()> const& slot);

  // The callback always runs later on the event loop.
  void async_check_locked(boost::filesystem::path const& path, std::uint64_t dev, std::uint64_t ino,
                          std::string const& tag, locked_callback_t const& callback);
  // The loads do nothing while the database is not open: no callback at all.
  void async_load(std::int64_t threat_id, load_callback_t const& callback);
  void async_load_by_history_id(std::int64_t history_id, load_callback_t const& callback);
  void async_load_next_task(task_t const& cursor, task_callback_t const& callback);

  void sync_new_threat(std::shared_ptr<sm_threat_t> const& threat);
  // A stopping proxy scanner forgets its share's syncs.
  void cancel_syncs(std::string const& tag, boost::system::error_code const& ec);

  // The statements, run on the database thread against an open connection.

  // History id -> (threat id, neutralized); (-1, false) when the row does not exist.
  static std::pair<std::int64_t, bool> find_history(sm_db_t& db, std::int64_t history_id);
  // The next locked, not neutralized threat of this daemon after the cursor; (-1, 0) when none.
  static task_t load_next_task(sm_db_t& db, task_t const& cursor);
  // Whether the latest detection of the file by this daemon on the share is locked.
  static bool check_locked(sm_db_t& db, boost::filesystem::path const& path, std::uint64_t dev, std::uint64_t ino,
                           std::string const& tag);
  // Records the remote user (only while the threat has that one history row), the lock state
  // and the share tag of a synced detection.
  static void update_synced(sm_db_t& db, sm_threat_t const& threat, std::int64_t history_id);
  // Null when there is no such row or its stored report does not parse.
  static std::shared_ptr<sm_threat_t> load_by_history_id(sm_db_t& db, std::int64_t history_id);
  static std::shared_ptr<sm_threat_t> load(sm_db_t& db, std::int64_t threat_id);
  // Whether the database already holds an equal detection of the same file.
  static bool is_duplicate(sm_db_t& db, sm_threat_t const& threat);

 protected:
  void on_task_exception(std::exception const& e) override;

 private:
  typedef std::vector<std::pair<std::shared_ptr<sm_threat_t>, std::int64_t>> batch_t;
  typedef std::map<std::string, std::shared_ptr<bool>> share_flags_t;

  // One entry per file and share; the second index finds a share's threats.
  typedef boost::multi_index_container<
      std::shared_ptr<sm_threat_t>,
      boost::multi_index::indexed_by<
          boost::multi_index::ordered_unique<boost::multi_index::composite_key<
              sm_threat_t, boost::multi_index::member<sm_threat_t, std::uint64_t, &sm_threat_t::dev>,
              boost::multi_index::member<sm_threat_t, std::uint64_t, &sm_threat_t::ino>,
              boost::multi_index::member<sm_threat_t, boost::filesystem::path, &sm_threat_t::path>,
              boost::multi_index::member<sm_threat_t, std::string, &sm_threat_t::tag>>>,
          boost::multi_index::ordered_non_unique<
              boost::multi_index::member<sm_threat_t, std::string, &sm_threat_t::tag>>>>
      pending_t;

  // Owns the connection. The open task publishes it from the database thread while the main
  // thread tests whether there is one; everything else touches it only with the worker joined.
  class db_slot_t : private boost::noncopyable {
   public:
    ~db_slot_t() { reset(); }
    sm_db_t* get() const { return db.load(); }
    explicit operator bool() const { return get() != nullptr; }
    void reset(sm_db_t* fresh = nullptr) { delete db.exchange(fresh); }

   private:
    std::atomic<sm_db_t*> db{nullptr};
  };

  void open_task(boost::filesystem::path const& path, std::uint64_t serial);
  void open_failed(std::string const& text);
  void open_done(std::uint64_t serial);
  void drop_waiting_syncs();
  void task_failed();
  bool insert_pending(std::shared_ptr<sm_threat_t> const& threat);
  void erase_pending(std::shared_ptr<sm_threat_t> const& threat);
  void sync_threat_if_not_duplicate(std::shared_ptr<sm_threat_t> const& threat);
  void duplicate_checked(std::shared_ptr<bool> const& share_flag, std::shared_ptr<sm_threat_t> const& threat,
                         bool duplicate);
  void ignore_duplicate(std::shared_ptr<sm_threat_t> const& threat);
  void request_sync(std::shared_ptr<sm_threat_t> const& threat);
  void flush_batch();
  void write_synced(batch_t const& batch, share_flags_t const& snapshot);
  void synced_written(batch_t const& batch, share_flags_t const& snapshot,
                      std::map<std::string, std::vector<std::int64_t>> const& written);
  std::shared_ptr<bool>& share_flag(std::string const& tag);

  sm_app_t& app;
  batch_t synced;
  pending_t pending;
  std::map<std::string, std::vector<std::shared_ptr<sm_threat_t>>> waiting;
  share_flags_t share_flags;
  db_slot_t db;
  sm_system_timer_t batch_timer;
  sm_task_queue_t queue;
  boost::signals2::signal<void()> closed_signal;
  boost::signals2::signal<void()> opened_signal;
  std::deque<locked_callback_t> parked;
  std::int32_t errors = 0;
  bool opened = false;
  // Opens asked for so far, and the one whose success is awaited (0: none, or closed since).
  std::uint64_t opens = 0;
  std::uint64_t awaited_open = 0;
};
