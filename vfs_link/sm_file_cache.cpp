#include "vfs_link/sm_file_cache.h"

#include <algorithm>
#include <limits>

#include <boost/system/system_error.hpp>

#include "error.pb.h"
#include "framework/error/cf_proto_error_impl.h"
#include "framework/log/cf_log.h"
#include "service/sm_app.h"
#include "service/sm_error.h"
#include "service/sm_settings.h"

namespace {

constexpr std::uint64_t entry_cost = 40;
constexpr std::uint64_t writer_cost = 36;
constexpr std::int64_t looked_up_only = std::numeric_limits<std::int64_t>::min();
// Small enough to stay on the heap's ordinary path, large enough that a
// million entries take about 1200 chunks.
constexpr std::size_t chunk_bytes = 64 * 1024;

std::string identity_text(std::uint64_t dev, std::uint64_t ino) {
  return "dev=" + std::to_string(dev) + " ino=" + std::to_string(ino);
}

}  // namespace

void* sm_file_cache_t::node_pool_t::allocate(std::size_t size) {
  if (block_size == 0 && size >= sizeof(free_block_t) && size % alignof(free_block_t) == 0) block_size = size;
  if (size != block_size) return ::operator new(size);
  void* block;
  if (free_list) {
    block = free_list;
    free_list = free_list->next;
  } else {
    if (cursor == chunk_end) {
      std::size_t const blocks = std::max<std::size_t>(1, chunk_bytes / block_size);
      chunks.emplace_back(new char[blocks * block_size]);
      cursor = chunks.back().get();
      chunk_end = cursor + blocks * block_size;
    }
    block = cursor;
    cursor += block_size;
  }
  ++live;
  return block;
}

void sm_file_cache_t::node_pool_t::deallocate(void* block, std::size_t size) noexcept {
  if (size != block_size) {
    ::operator delete(block);
    return;
  }
  free_list = new (block) free_block_t{free_list};
  if (--live != 0) return;
  chunks.clear();
  free_list = nullptr;
  cursor = chunk_end = nullptr;
}

sm_file_cache_t::sm_file_cache_t(sm_app_t& app)
    : entries(new entries_t(entries_t::ctor_args_list(), pool_allocator_t<entry_t>(pool))), app(app) {}

sm_file_cache_t::~sm_file_cache_t() = default;

void sm_file_cache_t::init() {
  limit = app.settings->max_cache_size();
  if (cf_log_threshold <= CF_LOG_DEBUG)
    cf_log(CF_LOG_DEBUG, "sm_file_cache_t: using MaxCacheSize=" + std::to_string(limit));
  clear();
}

void sm_file_cache_t::clear() {
  if (estimated == 0) return;
  // A new container, so that the pool sees every block back and frees its chunks.
  entries.reset();
  entries.reset(new entries_t(entries_t::ctor_args_list(), pool_allocator_t<entry_t>(pool)));
  writers.clear();
  count = 0;
  estimated = 0;
  if (cf_log_threshold <= CF_LOG_DEBUG) cf_log(CF_LOG_DEBUG, "sm_file_cache_t: cache cleared");
}

bool sm_file_cache_t::is_clean(std::uint64_t dev, std::uint64_t ino, std::shared_ptr<qn::RemoteUser>& writer) {
  if (limit == 0) return false;
  bool clean = false;
  auto const found = find(dev, ino);
  if (found == entries->get<1>().end()) {
    insert(dev, ino, looked_up_only, nullptr);
    purge();
  } else {
    touch(found);
    clean = found->clean;
    if (!clean && found->writer) {
      auto user = std::make_shared<qn::RemoteUser>();
      if (!user->ParseFromString(found->writer->first))
        throw boost::system::system_error(qn::make_error_code(qn::EC_DATA_CORRUPTED), "Cache");
      writer = std::move(user);
    }
  }
  if (cf_log_threshold <= CF_LOG_DEBUG)
    cf_log(CF_LOG_DEBUG, "sm_file_cache_t::is_clean: " + identity_text(dev, ino) + (clean ? " -> 1" : " -> 0"));
  return clean;
}

void sm_file_cache_t::mark_modified(std::uint64_t dev, std::uint64_t ino,
                                    std::shared_ptr<qn::RemoteUser> const& writer) {
  if (limit == 0) return;
  if (cf_log_threshold <= CF_LOG_DEBUG)
    cf_log(CF_LOG_DEBUG, "sm_file_cache_t::mark_modified: " + identity_text(dev, ino));
  std::int64_t const now = sm_clock_t::steady::now().time_since_epoch().count();
  writers_t::value_type* interned = nullptr;
  if (writer) {
    std::string form;
    if (!writer->SerializeToString(&form)) throw boost::system::system_error(sm_make_error_code(1), "Cache");
    auto const added = writers.try_emplace(std::move(form), 0);
    if (added.second) estimated += writer_cost + added.first->first.size();
    // Counted before the old writer is released, which may be this one.
    ++added.first->second;
    interned = &*added.first;
  }
  auto const found = find(dev, ino);
  if (found == entries->get<1>().end()) {
    insert(dev, ino, now, interned);
  } else {
    touch(found);
    release(found->writer);
    found->clean = false;
    found->time = now;
    found->writer = interned;
  }
  purge();
}

void sm_file_cache_t::store_check_result(std::uint64_t dev, std::uint64_t ino, bool clean,
                                         sm_clock_t::steady::time_point const& start) {
  if (limit == 0) return;
  std::int64_t const started = start.time_since_epoch().count();
  bool stored = false;
  auto const found = find(dev, ino);
  if (found != entries->get<1>().end() && found->time < started) {
    touch(found);
    found->clean = clean;
    found->time = started;
    stored = true;
  }
  if (cf_log_threshold <= CF_LOG_DEBUG)
    cf_log(CF_LOG_DEBUG, "sm_file_cache_t::store_check_result: " + identity_text(dev, ino) +
                             (clean ? " clean=1: " : " clean=0: ") + (stored ? "stored" : "skipped"));
}

std::uint64_t sm_file_cache_t::estimate() const { return estimated; }

std::size_t sm_file_cache_t::size() const { return count; }

sm_file_cache_t::entries_t::nth_index<1>::type::iterator sm_file_cache_t::find(std::uint64_t dev, std::uint64_t ino) {
  return entries->get<1>().find(identity_t::result_type(dev, ino));
}

void sm_file_cache_t::touch(entries_t::nth_index<1>::type::iterator found) {
  entries->relocate(entries->begin(), entries->project<0>(found));
}

void sm_file_cache_t::insert(std::uint64_t dev, std::uint64_t ino, std::int64_t time, writers_t::value_type* writer) {
  entries->push_front(entry_t{dev, ino, false, time, writer});
  ++count;
  estimated += entry_cost;
}

void sm_file_cache_t::release(writers_t::value_type* writer) {
  if (!writer || --writer->second != 0) return;
  estimated -= writer_cost + writer->first.size();
  writers.erase(writers.find(writer->first));
}

void sm_file_cache_t::purge() {
  while (estimated > limit && !entries->empty()) {
    entry_t const& oldest = entries->back();
    if (cf_log_threshold <= CF_LOG_DEBUG)
      cf_log(CF_LOG_DEBUG, "sm_file_cache_t::purge: " + identity_text(oldest.dev, oldest.ino));
    release(oldest.writer);
    entries->pop_back();
    --count;
    estimated -= entry_cost;
  }
  if (cf_log_threshold <= CF_LOG_DEBUG)
    cf_log(CF_LOG_DEBUG, "sm_file_cache_t: estimated memory consumption " + std::to_string(estimated) + " from " +
                             std::to_string(limit));
}
