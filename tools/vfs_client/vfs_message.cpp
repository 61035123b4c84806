#include "tools/vfs_client/vfs_message.h"

#include "kson/parser.h"
#include "kson/reader.h"
#include "kson/stream.h"

bool vfs_message_t::serialize(kson::stream_t& parent) const {
  kson::stream_t object(kson_writer_open_object(parent.writer(), false));
  if (!object.writer()) return false;
  // Unset fields are left out, as the module does.
  auto number = [&](std::uint32_t key, std::uint32_t value) {
    return value == 0 || (object.write_uint32(key) && object.write_uint32(value));
  };
  auto text = [&](std::uint32_t key, std::string const& value) {
    return value.empty() || (object.write_uint32(key) && object.write_string(value));
  };
  auto ids = [&] {
    return !has_ids ||
           (object.write_uint32(9) && object.write_uint64(dev) && object.write_uint32(10) && object.write_uint64(ino));
  };
  bool const written = number(1, type) && text(2, tag) && text(3, basedir) && number(4, serial) && text(5, path) &&
                       text(6, user) && text(7, domain) && text(8, ip) && ids() && number(11, op) &&
                       number(12, verdict);
  return written && object.close();
}

bool vfs_message_t::deserialize(kson::parser_t& parser) {
  kson::reader_t reader(parser);
  kson::object_iterator_t it;
  if (!reader.begin(it)) return false;
  while (it.next()) {
    kson::value_t const value = it.value();
    std::string text;
    switch (it.key_uint32()) {
      case 1:
        value.get_uint32(type);
        break;
      case 4:
        value.get_uint32(serial);
        break;
      case 5:
        value.get_string(path);
        break;
      case 12:
        value.get_uint32(verdict);
        break;
      case 13:
        if (value.get_string(text)) excluded_paths.push_back(text);
        break;
      case 14:
        if (value.get_string(text)) included_paths.push_back(text);
        break;
      default:
        break;  // nothing else is meant for a module
    }
  }
  return true;
}
