#include "vfs_link/sm_module_server.h"

// Skeleton: filled in with the server.
sm_module_server_t::sm_module_server_t(sm_app_t& app) : app(app) {}
sm_module_server_t::~sm_module_server_t() = default;
void sm_module_server_t::init() {}
