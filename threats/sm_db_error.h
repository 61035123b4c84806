#pragma once

#include <stdexcept>
#include <string>

struct sqlite3;

// The one exception of the SQLite layer; its what text is the whole message.
class sm_db_error_t : public std::runtime_error {
 public:
  explicit sm_db_error_t(std::string const& what);
  ~sm_db_error_t() override;
};

// Throws sm_db_error_t "'what' -> (result code 0x<hex>: <message>)"; the message is the
// handle's last error when there is a handle, the code's generic text otherwise.
[[noreturn]] void sm_db_throw(sqlite3* db, int code, std::string const& what);
