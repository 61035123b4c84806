#include "bench/support/bench_sandbox.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <boost/filesystem/operations.hpp>

bench_sandbox_t::bench_sandbox_t() {
  char name[] = "/tmp/qn-bench-XXXXXX";
  if (!::mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
  dir = name;
}

bench_sandbox_t::~bench_sandbox_t() {
  boost::system::error_code ignored;
  boost::filesystem::remove_all(dir, ignored);
}

void bench_sandbox_t::write(std::string const& name, std::string const& content) const {
  std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
  out << content;
  if (!out.flush()) throw std::runtime_error("cannot write " + file(name));
}

void bench_sandbox_t::write_daemon_config(std::string const& max_cache_size) const {
  write("smbgardix.conf",
        "log_level: LOG_LEVEL_INFO actual_log { type: STDERR } smb_socket_path: 'vfs.sock' samba_chroot_dir: '" + dir +
            "' max_cache_size: " + max_cache_size + " block_on_error: true");
}

int bench_sandbox_t::single_cpu(double chosen) {
  int const cpu = chosen >= 0 ? static_cast<int>(chosen) : static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN) - 1);
  std::printf(
      "With 1 connection the generator and every server share CPU %d: unpinned, the round trip would "
      "mostly measure how long an idle virtual CPU takes to wake.\n",
      cpu);
  return cpu;
}

std::vector<bench_sandbox_t::file_t> bench_sandbox_t::make_files(std::string const& folder, std::size_t count) const {
  boost::filesystem::create_directories(file(folder));
  std::vector<file_t> files;
  for (std::size_t i = 0; i < count; ++i) {
    std::string const name = folder + "/clean-" + std::to_string(i) + ".txt";
    write(name, "nothing to see in file " + std::to_string(i) + "\n");
    struct stat st;
    if (::stat(file(name).c_str(), &st) != 0) throw std::runtime_error("cannot stat " + file(name));
    files.push_back(file_t{file(name), st.st_dev, st.st_ino});
  }
  return files;
}

std::string bench_sandbox_t::program(std::string const& name) {
  return (boost::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

void bench_sandbox_t::wait_for_socket(std::string const& path) {
  sockaddr_un addr{AF_UNIX, {}};
  if (path.size() >= sizeof addr.sun_path) throw std::runtime_error("socket path too long: " + path);
  std::strcpy(addr.sun_path, path.c_str());
  for (int i = 0; i < 2000; ++i) {
    int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool const up = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    if (up) return;
    ::usleep(10000);
  }
  throw std::runtime_error("nothing listens on " + path);
}

std::string bench_sandbox_t::load_average() {
  std::ifstream in("/proc/loadavg");
  std::string first;
  in >> first;
  return first;
}
