#include "tools/fcheck_stub/stub_options.h"

#include <fstream>
#include <iostream>
#include <sstream>

#include <boost/filesystem/path.hpp>
#include <boost/program_options.hpp>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/text_format.h>

namespace po = boost::program_options;

namespace {

constexpr int usage_status = 2;

// A qn::ErrorCode by its name or number.
bool error_code_from_text(std::string const& text, qn::ErrorCode& code) {
  google::protobuf::EnumDescriptor const* type = qn::ErrorCode_descriptor();
  google::protobuf::EnumValueDescriptor const* value = type->FindValueByName(text);
  if (!value && !text.empty() && text.find_first_not_of("0123456789") == std::string::npos && text.size() < 10)
    value = type->FindValueByNumber(std::stoi(text));
  if (!value) return false;
  code = static_cast<qn::ErrorCode>(value->number());
  return true;
}

}  // namespace

bool stub_options_t::parse(int argc, char* argv[], int& status) {
  std::string rules_file, fail_text;
  po::options_description options(
      "Usage: fcheck-stub --socket PATH [options]\n"
      "       fcheck-stub --make-test-file PATH\n"
      "Plays the file checker on a UNIX socket; prints what it receives and does on standard output.\n"
      "Options");
  options.add_options()("help,h", "print this help and exit")("socket", po::value<std::string>(&socket_path),
                                                              "listen on this UNIX socket path (required)")(
      "db", po::value<std::string>(&db_path),
      "threat database file, created when missing (default: threats.db beside the socket)")(
      "rules", po::value<std::string>(&rules_file), "rules file: an fcstub.Rules in protobuf text format")(
      "quarantine", po::value<std::string>(&quarantine_dir),
      "quarantine folder (default: quarantine beside the database)")(
      "scan-delay", po::value<std::uint32_t>(&scan_delay_ms), "read and answer every scan MS milliseconds late")(
      "scan-hook", po::value<std::string>(&scan_hook),
      "run PROGRAM with the arguments 'before PATH' just before reading a scanned file and 'after PATH' just "
      "after, waiting for each to end")(
      "exchange-on-read", po::value<std::string>(&exchange_on_read),
      "swap each scanned file with NAME in its folder (one atomic exchange) just before reading it, and back just "
      "after")("fail-scans", po::value<std::string>(&fail_text),
               "answer every scan with this error code (name or number)")(
      "close-after", po::value<std::uint32_t>(&close_after), "close each connection when it has sent N messages")(
      "backdate", po::value<std::int64_t>(&backdate), "write history moments SECONDS in the past")(
      "reuse-threats", po::bool_switch(&reuse_threats),
      "file a detection of a file already recorded (same path, device, inode; not neutralized) under its threat")(
      "stuck-scans", po::value<std::string>(&stuck_scans),
      "never answer scans (silent), answer them under serials nobody asked (wrong-serial), or send half of the "
      "first answer and then nothing more on that connection (half-frame)")(
      "full-backlog", po::bool_switch(&full_backlog),
      "listen with a backlog kept full by connections of its own, and never accept")(
      "make-test-file", po::value<std::string>(&test_file),
      "write the standard anti-malware test file to PATH and exit");

  std::string problem;
  try {
    po::variables_map vm;
    po::positional_options_description const none;
    po::store(po::command_line_parser(argc, argv).options(options).positional(none).run(), vm);
    po::notify(vm);
    if (vm.count("help")) {
      std::cout << options << std::endl;
      status = 0;
      return false;
    }
    if (!test_file.empty()) return true;
    if (socket_path.empty())
      problem = "--socket is required";
    else if (!fail_text.empty() && (!error_code_from_text(fail_text, fail_scans) || fail_scans == qn::EC_OK))
      problem = "--fail-scans: " + fail_text + " is no error code";
    else if (vm.count("close-after") && close_after == 0)
      problem = "--close-after must be at least 1";
    else if (!stuck_scans.empty() && stuck_scans != "silent" && stuck_scans != "wrong-serial" &&
             stuck_scans != "half-frame")
      problem = "--stuck-scans: " + stuck_scans + " is no mode";
    else if (backdate < 0)
      problem = "--backdate must not be negative";
    else if (!rules_file.empty())
      read_rules(rules_file, problem);
  } catch (std::exception const& e) {
    problem = e.what();
  }
  if (!problem.empty()) {
    std::cerr << "fcheck-stub: " << problem << "\n" << options << std::endl;
    status = usage_status;
    return false;
  }
  boost::filesystem::path const socket(socket_path);
  if (db_path.empty()) db_path = (socket.parent_path() / "threats.db").string();
  if (quarantine_dir.empty()) quarantine_dir = (boost::filesystem::path(db_path).parent_path() / "quarantine").string();
  return true;
}

bool stub_options_t::read_rules(std::string const& file, std::string& problem) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) {
    problem = "cannot read " + file;
    return false;
  }
  // The outermost object of a report is the scanned path, so the rules leave it out.
  google::protobuf::TextFormat::Parser parser;
  parser.AllowPartialMessage(true);
  if (!parser.ParseFromString(text.str(), &rules)) {
    problem = file + " is no fcstub.Rules in text format";
    return false;
  }
  for (int i = 0; i < rules.rule_size(); ++i) {
    fcstub::Rule const& rule = rules.rule(i);
    std::string const where = file + ": rule " + std::to_string(i + 1) + ": ";
    qn::ScanReport report = rule.report();
    if (!report.has_object()) report.set_object("-");
    if (rule.has_error() && rule.error() == qn::EC_OK)
      problem = where + "error must not be EC_OK";
    else if (rule.has_error() && rule.has_report())
      problem = where + "a report or an error, not both";
    else if (rule.has_report() && !report.IsInitialized())
      problem = where + "report lacks " + report.InitializationErrorString();
    else if (rule.curable() && rule.pattern().empty())
      problem = where + "curable needs a pattern";
    if (!problem.empty()) return false;
  }
  return true;
}
