// Plays the suite's file checker for the daemon, its tests and the demo: see README.md.

#include <signal.h>

#include <cstdio>
#include <iostream>

#include <boost/asio/io_context.hpp>

#include "tools/fcheck_stub/stub_fcheck_server.h"
#include "tools/fcheck_stub/stub_options.h"
#include "tools/fcheck_stub/stub_scanner.h"
#include "tools/fcheck_stub/stub_threat_db.h"
#include "tools/fcheck_stub/stub_threat_keeper.h"

int main(int argc, char* argv[]) {
  stub_options_t options;
  int status = 0;
  if (!options.parse(argc, argv, status)) return status;
  std::string what;
  if (!options.test_file.empty()) {
    if (stub_scanner_t::write_test_file(options.test_file, what)) return 0;
    std::cerr << "fcheck-stub: " << options.test_file << ": " << what << std::endl;
    return 1;
  }
  // Whoever follows the output sees each line as it is printed; a reader gone does not end us.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  ::signal(SIGPIPE, SIG_IGN);
  try {
    stub_threat_db_t db(options.db_path);
    stub_scanner_t scanner(options);
    stub_threat_keeper_t keeper(options, scanner, db);
    boost::asio::io_context io;
    stub_fcheck_server_t server(io, options, scanner, keeper, db.path());
    server.start();
    io.run();
  } catch (std::exception const& e) {
    std::cerr << "fcheck-stub: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
