#include "framework/cmdline/cf_cmdline.h"

#include <cstdlib>
#include <exception>
#include <iostream>

#include <boost/program_options.hpp>

#include "framework/exe_info/cf_exe_info.h"
#include "framework/log/cf_console_log.h"
#include "framework/log/cf_log.h"

namespace po = boost::program_options;

void cf_run_standalone(char const* program_name, char const* version, int argc, char const* const* argv) {
  cf_log_threshold = CF_LOG_ERROR;
  cf_set_log(cf_make_console_log());

  unsigned const line_length = po::options_description::m_default_line_length;
  po::options_description visible("Command line options", line_length, line_length / 2);
  visible.add_options()("help,h", "print help message and exit")("version,v", "print version and exit");
  po::options_description full("Command line options", line_length, line_length / 2);
  full.add(visible);
  full.add_options()("dump-app-info", "dump exe file info");

  po::variables_map vm;
  po::store(po::command_line_parser(argc, argv)
                .options(full)
                .style(po::command_line_style::unix_style | po::command_line_style::long_case_insensitive)
                .run(),
            vm);
  po::notify(vm);

  int status = 0;
  if (vm.count("help")) {
    std::cout << visible << "\n";
  } else if (vm.count("version")) {
    std::cout << program_name << " " << version << "\n";
  } else if (vm.count("dump-app-info")) {
    qn::AppExeInfo info;
    try {
      info = cf_make_app_exe_info(version, argc, argv);
    } catch (std::exception const&) {
      // Whatever cannot be described prints as an empty object.
    }
    cf_print_app_exe_info(std::cout, info);
    std::cout << "\n";
  } else {
    std::cout << "Cannot run standalone. See " << program_name << "(1) for details.\n";
    status = 1;
  }
  std::exit(status);
}
