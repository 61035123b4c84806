#include "vfs_link/sm_module_tie.h"

// Skeleton: filled in with the connection.
sm_module_tie_t::sm_module_tie_t(sm_app_t& app, std::shared_ptr<socket_t> const& socket) : app(&app), socket(socket) {}
sm_module_tie_t::~sm_module_tie_t() = default;
std::shared_ptr<sm_module_tie_t> sm_module_tie_t::create(sm_app_t& app, std::shared_ptr<socket_t> const& socket) {
  return std::shared_ptr<sm_module_tie_t>(new sm_module_tie_t(app, socket));
}
void sm_module_tie_t::on_message(kson::parser_t&) {}
