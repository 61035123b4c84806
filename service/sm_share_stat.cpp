#include "service/sm_share_stat.h"

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include "service/sm_app.h"
#include "service/sm_configd_tie.h"
#include "smb_gardix_appstat.pb.h"

void sm_share_stat_t::deleter_t::operator()(sm_share_stat_t* stat) const {
  stat->cancel();
  delete stat;
}

sm_share_stat_t::sm_share_stat_t(sm_app_t& app, std::chrono::steady_clock::duration period)
    : app(app), stat_timer(app.io_context), period(period), alive(std::make_shared<char>(0)) {
  start_timer();
}

void sm_share_stat_t::count_in(boost::filesystem::path const& base_dir) { ++counters[base_dir].in; }

void sm_share_stat_t::count_out(boost::filesystem::path const& base_dir) { ++counters[base_dir].out; }

void sm_share_stat_t::start_timer() {
  boost::system::error_code ec;
  // Setting the expiry cancels a pending wait; the sum saturates at the
  // clock's largest value.
  stat_timer.expires_from_now(period, ec);
  if (ec) throw boost::system::system_error(ec, "expires_from_now");
  std::weak_ptr<char> weak = alive;
  stat_timer.async_wait([this, weak](boost::system::error_code const& ec) {
    if (weak.expired()) return;
    on_timer(ec);
  });
}

std::size_t sm_share_stat_t::cancel() { return stat_timer.cancel(); }

void sm_share_stat_t::on_timer(boost::system::error_code const& ec) {
  if (ec) {
    if (ec == boost::asio::error::operation_aborted) return;
    throw boost::system::system_error(ec, "StatTimer");
  }
  qn::SMBGardixAppStat stat;
  for (auto entry = counters.begin(); entry != counters.end();) {
    counters_t& c = entry->second;
    qn::SMBGardixShareStat* share = stat.add_shares();
    share->set_share_path(entry->first.string());
    share->set_base(c.base);
    share->set_in(c.in);
    share->set_out(c.out);
    c.base = c.base + c.in - c.out;
    if (c.base == 0) {
      entry = counters.erase(entry);
    } else {
      c.in = 0;
      c.out = 0;
      ++entry;
    }
  }
  if (stat.shares_size() > 0) app.configd->my_stat_notification(stat);
  start_timer();
}
