#pragma once

namespace kson {

class parser_t;
class stream_t;

// A type that writes itself as one kson value and reads itself back.
class serializable_t {
 public:
  virtual ~serializable_t();
  // Writes the value into parent; must write the same bytes on every call.
  virtual bool serialize(stream_t& parent) const = 0;
  virtual bool deserialize(parser_t& parser) = 0;
};

}  // namespace kson
