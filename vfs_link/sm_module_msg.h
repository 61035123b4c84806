#pragma once
// The one message of the VFS-module protocol: a kson object with small integer keys.

#include <cstdint>
#include <string>
#include <vector>

#include "kson/serializable.h"

class sm_module_msg_t : public kson::serializable_t {
 public:
  enum : uint32_t { TYPE_HELLO = 1, TYPE_FILE_EVENT = 2, TYPE_VERDICT = 3, TYPE_SHARE_SETTINGS = 4 };
  enum : uint32_t { OP_NONE = 0, OP_OPEN = 1, OP_CLOSE = 2, OP_READ = 3, OP_WRITE = 4 };
  enum : uint32_t { VERDICT_NONE = 0, VERDICT_ALLOWED = 1, VERDICT_REJECTED = 2 };

  uint32_t type = 0;
  std::string tag;
  std::string basedir;
  uint32_t serial = 0;
  std::string path;
  std::string user;
  std::string domain;
  std::string ip;
  uint64_t dev = 0;
  bool has_dev = false;
  uint64_t ino = 0;
  bool has_ino = false;
  uint32_t op = 0;
  uint32_t verdict = 0;
  std::vector<std::string> excluded_paths;
  std::vector<std::string> included_paths;

  static sm_module_msg_t make_verdict(uint32_t serial, uint32_t verdict);
  static sm_module_msg_t make_share_settings();
  void add_excluded_path(std::string const& path);
  void add_included_path(std::string const& path);
  void clear();

  bool serialize(kson::stream_t& parent) const override;
  bool deserialize(kson::parser_t& parser) override;
};
