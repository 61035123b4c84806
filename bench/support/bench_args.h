#pragma once

// A benchmark's command line: "--name value" pairs, each with a default.

#include <iostream>
#include <map>
#include <stdexcept>
#include <string>

class bench_args_t {
 public:
  bench_args_t(int argc, char** argv) {
    for (int i = 1; i < argc; i += 2) {
      std::string const name = argv[i];
      if (name.compare(0, 2, "--") != 0 || i + 1 >= argc) throw std::runtime_error("usage: [--name value]...");
      values[name.substr(2)] = argv[i + 1];
    }
  }

  std::string text(std::string const& name, std::string const& fallback) const {
    auto const found = values.find(name);
    return found == values.end() ? fallback : found->second;
  }
  double number(std::string const& name, double fallback) const {
    auto const found = values.find(name);
    return found == values.end() ? fallback : std::stod(found->second);
  }

 private:
  std::map<std::string, std::string> values;
};

// Runs a benchmark, reporting what stopped it on standard error with status 1.
inline int bench_main(char const* name, int argc, char** argv, int (*run)(bench_args_t const&)) {
  try {
    return run(bench_args_t(argc, argv));
  } catch (std::exception const& e) {
    std::cerr << name << ": " << e.what() << std::endl;
    return 1;
  }
}
