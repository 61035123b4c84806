#include "threats/sm_db_error.h"

#include <sqlite3.h>

#include <sstream>

sm_db_error_t::sm_db_error_t(std::string const& what) : std::runtime_error(what) {}

sm_db_error_t::~sm_db_error_t() = default;

void sm_db_throw(sqlite3* db, int code, std::string const& what) {
  std::ostringstream text;
  text << '\'' << what << "' -> (result code 0x" << std::hex << code << std::dec << ": "
       << (db ? sqlite3_errmsg(db) : sqlite3_errstr(code)) << ')';
  throw sm_db_error_t(text.str());
}
