#pragma once

// Listens on the VFS-module socket and accepts the modules' connections. The
// socket is made anew at every reconfiguration and removed at destruction.

#include <memory>
#include <string>

#include <boost/asio/local/stream_protocol.hpp>
#include <boost/system/error_code.hpp>

class sm_app_t;

class sm_module_server_t {
 public:
  explicit sm_module_server_t(sm_app_t& app);
  ~sm_module_server_t();

  sm_module_server_t(sm_module_server_t const&) = delete;
  sm_module_server_t& operator=(sm_module_server_t const&) = delete;

  void init();

 private:
  sm_app_t& app;
};
