#pragma once

// A benchmark's own folder under /tmp, removed when the object goes, with the clean files that
// the benchmark asks about, and the way to the build's programs.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class bench_sandbox_t {
 public:
  struct file_t {
    std::string path;  // absolute
    std::uint64_t dev;
    std::uint64_t ino;
  };

  bench_sandbox_t();
  ~bench_sandbox_t();
  bench_sandbox_t(bench_sandbox_t const&) = delete;
  bench_sandbox_t& operator=(bench_sandbox_t const&) = delete;

  std::string const& path() const { return dir; }
  std::string file(std::string const& name) const { return dir + "/" + name; }
  void write(std::string const& name, std::string const& content) const;
  // Writes the daemon's settings (socket vfs.sock in this folder, the share rooted here) with the
  // given cache size; an error rejects access, so that a failed scan fails the run.
  void write_daemon_config(std::string const& max_cache_size) const;
  // Writes `count` small clean files into the folder `folder`.
  std::vector<file_t> make_files(std::string const& folder, std::size_t count) const;

  // The program `name` beside the running benchmark (the build's bin/).
  static std::string program(std::string const& name);
  // Waits until the UNIX socket at path takes connections; throws after 20 s.
  static void wait_for_socket(std::string const& path);
  // The CPU that a one-connection run pins every process of the road to (--cpu, else the last).
  static int single_cpu(double chosen);
  // The 1-minute load average, as /proc/loadavg gives it.
  static std::string load_average();

 private:
  std::string dir;
};
