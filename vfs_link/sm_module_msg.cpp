#include "vfs_link/sm_module_msg.h"

#include "kson/parser.h"
#include "kson/reader.h"
#include "kson/stream.h"

namespace {

enum : uint32_t {
  KEY_TYPE = 1,
  KEY_TAG = 2,
  KEY_BASEDIR = 3,
  KEY_SERIAL = 4,
  KEY_PATH = 5,
  KEY_USER = 6,
  KEY_DOMAIN = 7,
  KEY_IP = 8,
  KEY_DEV = 9,
  KEY_INO = 10,
  KEY_OP = 11,
  KEY_VERDICT = 12,
  KEY_EXCLUDED_PATH = 13,
  KEY_INCLUDED_PATH = 14,
};

bool write_uint32(kson::stream_t& object, uint32_t key, uint32_t value) {
  return object.write_uint32(key) && object.write_uint32(value);
}

bool write_uint64(kson::stream_t& object, uint32_t key, uint64_t value) {
  return object.write_uint32(key) && object.write_uint64(value);
}

bool write_string(kson::stream_t& object, uint32_t key, std::string const& value) {
  return object.write_uint32(key) && object.write_string(value);
}

bool read_uint32(kson::value_t const& value, uint32_t max, uint32_t& out) {
  uint32_t number = 0;
  if (!value.get_uint32(number) || number > max) return false;
  out = number;
  return true;
}

bool read_uint64(kson::value_t const& value, uint64_t& out, bool& present) {
  if (!value.get_uint64(out)) return false;
  present = true;
  return true;
}

bool append_string(kson::value_t const& value, std::vector<std::string>& out) {
  std::string text;
  if (!value.get_string(text)) return false;
  out.push_back(std::move(text));
  return true;
}

}  // namespace

sm_module_msg_t sm_module_msg_t::make_verdict(uint32_t serial, uint32_t verdict) {
  sm_module_msg_t msg;
  msg.type = TYPE_VERDICT;
  msg.serial = serial;
  msg.verdict = verdict;
  return msg;
}

sm_module_msg_t sm_module_msg_t::make_share_settings() {
  sm_module_msg_t msg;
  msg.type = TYPE_SHARE_SETTINGS;
  return msg;
}

void sm_module_msg_t::add_excluded_path(std::string const& path) { excluded_paths.push_back(path); }

void sm_module_msg_t::add_included_path(std::string const& path) { included_paths.push_back(path); }

void sm_module_msg_t::clear() {
  // Field by field, so that a message read again and again keeps its strings' room.
  type = 0;
  tag.clear();
  basedir.clear();
  serial = 0;
  path.clear();
  user.clear();
  domain.clear();
  ip.clear();
  dev = 0;
  has_dev = false;
  ino = 0;
  has_ino = false;
  op = 0;
  verdict = 0;
  excluded_paths.clear();
  included_paths.clear();
}

bool sm_module_msg_t::serialize(kson::stream_t& parent) const {
  // Opened through the core so that a parent without room is a false result, not an exception.
  kson::stream_t object(kson_writer_open_object(parent.writer(), false));
  if (!object.writer()) return false;
  if (type != 0 && !write_uint32(object, KEY_TYPE, type)) return false;
  if (!tag.empty() && !write_string(object, KEY_TAG, tag)) return false;
  if (!basedir.empty() && !write_string(object, KEY_BASEDIR, basedir)) return false;
  if (serial != 0 && !write_uint32(object, KEY_SERIAL, serial)) return false;
  if (!path.empty() && !write_string(object, KEY_PATH, path)) return false;
  if (!user.empty() && !write_string(object, KEY_USER, user)) return false;
  if (!domain.empty() && !write_string(object, KEY_DOMAIN, domain)) return false;
  if (!ip.empty() && !write_string(object, KEY_IP, ip)) return false;
  if (has_dev && !write_uint64(object, KEY_DEV, dev)) return false;
  if (has_ino && !write_uint64(object, KEY_INO, ino)) return false;
  if (op != 0 && !write_uint32(object, KEY_OP, op)) return false;
  if (verdict != 0 && !write_uint32(object, KEY_VERDICT, verdict)) return false;
  for (auto const& p : excluded_paths)
    if (!write_string(object, KEY_EXCLUDED_PATH, p)) return false;
  for (auto const& p : included_paths)
    if (!write_string(object, KEY_INCLUDED_PATH, p)) return false;
  return object.close();
}

bool sm_module_msg_t::deserialize(kson::parser_t& parser) {
  clear();
  kson::reader_t reader(parser);
  kson::object_iterator_t it;
  if (!reader.begin(it)) return false;
  while (it.next()) {
    kson::value_t value = it.value();
    bool ok = true;
    switch (it.key_uint32()) {
      case 0:
        ok = false;
        break;
      case KEY_TYPE:
        ok = read_uint32(value, TYPE_SHARE_SETTINGS, type);
        break;
      case KEY_TAG:
        ok = value.get_string(tag);
        break;
      case KEY_BASEDIR:
        ok = value.get_string(basedir);
        break;
      case KEY_SERIAL:
        ok = read_uint32(value, UINT32_MAX, serial);
        break;
      case KEY_PATH:
        ok = value.get_string(path);
        break;
      case KEY_USER:
        ok = value.get_string(user);
        break;
      case KEY_DOMAIN:
        ok = value.get_string(domain);
        break;
      case KEY_IP:
        ok = value.get_string(ip);
        break;
      case KEY_DEV:
        ok = read_uint64(value, dev, has_dev);
        break;
      case KEY_INO:
        ok = read_uint64(value, ino, has_ino);
        break;
      case KEY_OP:
        ok = read_uint32(value, OP_WRITE, op);
        break;
      case KEY_VERDICT:
        ok = read_uint32(value, VERDICT_REJECTED, verdict);
        break;
      case KEY_EXCLUDED_PATH:
        ok = append_string(value, excluded_paths);
        break;
      case KEY_INCLUDED_PATH:
        ok = append_string(value, included_paths);
        break;
      default:
        break;  // keys above 14 are skipped, whatever their value
    }
    if (!ok) return false;
  }
  return true;
}
