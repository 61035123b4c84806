#pragma once

// Remembers per file identity whether the file was last judged clean, and who
// last wrote it. Bounded by its own memory estimate against max_cache_size;
// the least recently touched entries go first. Main thread only.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <boost/multi_index/ordered_index.hpp>
#include <boost/multi_index/sequenced_index.hpp>
#include <boost/multi_index_container.hpp>

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
  void store_check_result(std::uint64_t dev, std::uint64_t ino, bool clean,
                          sm_clock_t::steady::time_point const& start);

  // Whether results are kept at all: max_cache_size is above 0.
  bool enabled() const { return limit != 0; }
  // The memory estimate in bytes: 40 per entry, 36 plus its serialized size per distinct writer.
  std::uint64_t estimate() const;
  std::size_t size() const;

 private:
  // Serialized qn::RemoteUser -> number of entries that refer to it.
  typedef std::map<std::string, std::uint32_t> writers_t;

  struct entry_t {
    std::uint64_t dev;
    std::uint64_t ino;
    // Outside the key, so changed in place.
    mutable bool clean;
    mutable std::int64_t time;  // steady ticks; the minimum for an entry only looked up
    mutable writers_t::value_type* writer;
  };

  struct identity_t {
    typedef std::pair<std::uint64_t, std::uint64_t> result_type;
    result_type operator()(entry_t const& entry) const { return result_type(entry.dev, entry.ino); }
  };

  // Fixed-size blocks for the container's nodes, carved from large chunks:
  // a million entries would otherwise pay a heap header each, about a fifth
  // more memory. Other sizes go to the heap. The chunks are freed when the
  // last block is returned.
  class node_pool_t {
   public:
    node_pool_t() = default;
    node_pool_t(node_pool_t const&) = delete;
    node_pool_t& operator=(node_pool_t const&) = delete;

    void* allocate(std::size_t size);
    void deallocate(void* block, std::size_t size) noexcept;

   private:
    struct free_block_t {
      free_block_t* next;
    };

    std::size_t block_size = 0;  // fixed by the first request
    std::size_t live = 0;
    free_block_t* free_list = nullptr;
    char* cursor = nullptr;
    char* chunk_end = nullptr;
    std::vector<std::unique_ptr<char[]>> chunks;
  };

  template <class T>
  struct pool_allocator_t {
    typedef T value_type;
    template <class U>
    struct rebind {
      typedef pool_allocator_t<U> other;
    };

    explicit pool_allocator_t(node_pool_t& pool) noexcept : pool(&pool) {}
    template <class U>
    pool_allocator_t(pool_allocator_t<U> const& other) noexcept : pool(other.pool) {}

    T* allocate(std::size_t n) {
      return static_cast<T*>(n == 1 ? pool->allocate(sizeof(T)) : ::operator new(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept {
      if (n == 1)
        pool->deallocate(p, sizeof(T));
      else
        ::operator delete(p);
    }
    template <class U>
    bool operator==(pool_allocator_t<U> const& other) const noexcept {
      return pool == other.pool;
    }
    template <class U>
    bool operator!=(pool_allocator_t<U> const& other) const noexcept {
      return pool != other.pool;
    }

    node_pool_t* pool;
  };

  // Front of the sequence: the entry touched last.
  typedef boost::multi_index_container<
      entry_t,
      boost::multi_index::indexed_by<boost::multi_index::sequenced<>, boost::multi_index::ordered_unique<identity_t>>,
      pool_allocator_t<entry_t>>
      entries_t;

  entries_t::nth_index<1>::type::iterator find(std::uint64_t dev, std::uint64_t ino);
  void touch(entries_t::nth_index<1>::type::iterator found);
  void insert(std::uint64_t dev, std::uint64_t ino, std::int64_t time, writers_t::value_type* writer);
  void release(writers_t::value_type* writer);
  void purge();

  node_pool_t pool;  // outlives the entries
  std::unique_ptr<entries_t> entries;
  writers_t writers;
  sm_app_t& app;
  std::size_t count = 0;
  std::uint64_t estimated = 0;
  std::uint64_t limit = 0;
};
