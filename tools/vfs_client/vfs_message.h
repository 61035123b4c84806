#pragma once

// The VFS-module message as this client speaks it: one kson object whose keys
// are small integers. It writes hellos and file events and reads whatever the
// daemon sends, leniently.

#include <cstdint>
#include <string>
#include <vector>

#include "kson/serializable.h"

class vfs_message_t : public kson::serializable_t {
 public:
  enum : std::uint32_t { HELLO = 1, FILE_EVENT = 2, VERDICT = 3, SHARE_SETTINGS = 4 };
  enum : std::uint32_t { OPEN = 1, CLOSE = 2, READ = 3, WRITE = 4 };

  std::uint32_t type = 0;
  std::string tag;
  std::string basedir;
  std::uint32_t serial = 0;
  std::string path;
  std::string user;
  std::string domain;
  std::string ip;
  bool has_ids = false;  // dev and ino are sent together
  std::uint64_t dev = 0;
  std::uint64_t ino = 0;
  std::uint32_t op = 0;
  std::uint32_t verdict = 0;
  std::vector<std::string> excluded_paths;
  std::vector<std::string> included_paths;

  bool serialize(kson::stream_t& parent) const override;
  bool deserialize(kson::parser_t& parser) override;
};
