#include "vfs_link/sm_file_cache.h"

// Skeleton: filled in with the cache.
sm_file_cache_t::sm_file_cache_t(sm_app_t& app) : app(app) {}
sm_file_cache_t::~sm_file_cache_t() = default;
void sm_file_cache_t::init() {}
void sm_file_cache_t::clear() {}
bool sm_file_cache_t::is_clean(std::uint64_t, std::uint64_t, std::shared_ptr<qn::RemoteUser>&) { return false; }
void sm_file_cache_t::mark_modified(std::uint64_t, std::uint64_t, std::shared_ptr<qn::RemoteUser> const&) {}
void sm_file_cache_t::store_check_result(std::uint64_t, std::uint64_t, bool, sm_clock_t::steady::time_point const&) {}
std::uint64_t sm_file_cache_t::estimate() const { return 0; }
std::size_t sm_file_cache_t::size() const { return 0; }
