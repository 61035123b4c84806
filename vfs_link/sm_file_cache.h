#pragma once

// Remembers per file identity whether the file was last judged clean, and who
// last wrote it. Bounded by its own memory estimate against max_cache_size;
// the least recently touched entries go first. Main thread only.

#include <cstdint>
#include <memory>

#include "remote_user.pb.h"
#include "service/sm_clock.h"

class sm_app_t;

class sm_file_cache_t {
 public:
  explicit sm_file_cache_t(sm_app_t& app);
  ~sm_file_cache_t();

  sm_file_cache_t(sm_file_cache_t const&) = delete;
  sm_file_cache_t& operator=(sm_file_cache_t const&) = delete;

  // Takes the limit from the settings and empties the cache.
  void init();
  void clear();

  // True when the file is known clean. A miss adds a not-clean entry that
  // waits for the scan's result. A known writer of a not-clean entry is
  // handed out through `writer`.
  bool is_clean(std::uint64_t dev, std::uint64_t ino, std::shared_ptr<qn::RemoteUser>& writer);
  void mark_modified(std::uint64_t dev, std::uint64_t ino, std::shared_ptr<qn::RemoteUser> const& writer);
  // Skipped when the file was written (or a later result stored) since `start`.
  void store_check_result(std::uint64_t dev, std::uint64_t ino, bool clean, sm_clock_t::steady::time_point const& start);

  // The memory estimate in bytes: 40 per entry, 36 plus its serialized size per distinct writer.
  std::uint64_t estimate() const;
  std::size_t size() const;

 private:
  sm_app_t& app;
};
