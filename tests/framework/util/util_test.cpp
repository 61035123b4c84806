// Descriptor and file I/O and file identities.
#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <boost/filesystem/exception.hpp>
#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

#include "error.pb.h"
#include "framework/error/cf_proto_error_impl.h"
#include "framework/log/cf_log.h"
#include "framework/util/cf_file_id.h"
#include "framework/util/cf_io.h"
#include "tests/support/child_process.h"
#include "tests/support/sandbox.h"

namespace {

boost::system::error_code const g_ebadf(EBADF, boost::system::system_category());
std::atomic<int> g_signals{0};

// What f throws: "<type>: what()", or "(nothing)".
std::string thrown(std::function<void()> const& f) {
  try {
    f();
  } catch (boost::filesystem::filesystem_error const& e) {
    return "filesystem_error " + e.code().message() + " " + e.path1().string();
  } catch (boost::system::system_error const& e) {
    return "system_error " + std::string(e.what());
  } catch (std::exception const& e) {
    return "exception " + std::string(e.what());
  }
  return "(nothing)";
}

// Waits (bounded) until the thread sleeps in the kernel: state S in its stat line.
bool wait_until_sleeping(pid_t tid) {
  for (int i = 0; i < 20000; ++i) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(in, line);
    std::string::size_type const end = line.rfind(')');
    if (end != std::string::npos && end + 2 < line.size() && line[end + 2] == 'S') return true;
    ::usleep(500);
  }
  return false;
}

// Calls write_to(fd) in a thread of its own on a pipe filled up beforehand. Once the thread waits
// for room, and then before every read of the other end, it gets SIGUSR1 (without SA_RESTART, so
// a blocked write fails with EINTR or returns short). Returns what came through after the filler.
std::string write_under_signals(std::function<void(int fd)> const& write_to) {
  struct sigaction action = {}, previous = {};
  action.sa_handler = [](int) { ++g_signals; };
  ::sigaction(SIGUSR1, &action, &previous);
  g_signals = 0;
  int fds[2];
  if (::pipe(fds) != 0) return "<no pipe>";
  int const flags = ::fcntl(fds[1], F_GETFL);
  ::fcntl(fds[1], F_SETFL, flags | O_NONBLOCK);
  std::size_t filled = 0;
  while (::write(fds[1], "f", 1) == 1) ++filled;
  ::fcntl(fds[1], F_SETFL, flags);
  std::atomic<pid_t> tid{0};
  std::atomic<bool> done{false};
  std::thread writer([&] {
    tid = ::gettid();
    write_to(fds[1]);
    done = true;
    ::close(fds[1]);
  });
  while (tid == 0) std::this_thread::yield();
  bool const blocked = wait_until_sleeping(tid);  // the first signal is then a sure EINTR
  ::pthread_kill(writer.native_handle(), SIGUSR1);
  while (g_signals == 0) std::this_thread::yield();
  std::string received;
  char buffer[1500];
  for (;;) {
    if (!done) ::pthread_kill(writer.native_handle(), SIGUSR1);
    ssize_t const n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  writer.join();
  ::close(fds[0]);
  ::sigaction(SIGUSR1, &previous, nullptr);
  if (!blocked) return "<the write never blocked>";
  if (received.compare(0, filled, std::string(filled, 'f')) != 0) return "<filler damaged>";
  return received.substr(filled);
}

TEST(write_loops, large_buffer_under_signals_arrives_whole_in_order) {
  std::string data(1 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7 + i / 4093) & 0xff);
  for (auto write : std::vector<std::function<void(int)>>{
           [&](int fd) { EXPECT_EQ("(nothing)", thrown([&] { cf_write_all(fd, data.data(), data.size()); })); },
           [&](int fd) { cf_log_write_string(fd, data); }}) {
    std::string const received = write_under_signals(write);
    EXPECT_EQ(data.size(), received.size());
    EXPECT_TRUE(received == data);
  }
}

TEST(cf_write_all, failures_even_for_empty_buffers_and_a_write_that_moves_nothing) {
  EXPECT_EQ("system_error write: Bad file descriptor", thrown([] { cf_write_all(-1, "", 0); }));
  boost::system::error_code ec = qn::make_error_code(qn::EC_CANCELED);
  cf_write_all(1, "", 0, ec);  // success leaves the code alone
  EXPECT_EQ(qn::make_error_code(qn::EC_CANCELED), ec);
  cf_write_all(-1, "xy", 2, ec);
  EXPECT_EQ(g_ebadf, ec);

  // In the child a seccomp filter makes writes to one descriptor return 0 without an error,
  // which no file does on demand; the answer comes back as the exit status.
  test_run_t const r = run_child([] {
    int const fd = ::open("/dev/null", O_WRONLY);
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_write, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(fd), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {sizeof filter / sizeof filter[0], filter};
    if (fd < 0 || ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
      ::_exit(3);
    cf_write_all(fd, "", 0);  // nothing was to be written: no failure
    boost::system::error_code ec;
    cf_write_all(fd, "abc", 3, ec);
    if (ec != qn::make_error_code(qn::EC_UNEXPECTED_ERROR)) ::_exit(4);
    try {
      cf_write_all(fd, "abc", 3);
    } catch (boost::system::system_error const& e) {
      ::_exit(e.code() == ec && std::string(e.what()) == "write: Unexpected error" ? 0 : 5);
    }
    ::_exit(6);
  });
  if (r.status == 3) GTEST_SKIP() << "no seccomp filters here";
  EXPECT_EQ(0, r.status);
}

TEST(cf_read_all, short_input_and_bad_descriptors) {
  test_sandbox_t box;
  int const fd = ::open(box.write("three", std::string("1\0003", 3)).c_str(), O_RDONLY);
  char buf[8];
  boost::system::error_code ec = qn::make_error_code(qn::EC_CANCELED);
  cf_read_all(fd, buf, 3, ec);  // success leaves the code alone
  EXPECT_EQ(qn::make_error_code(qn::EC_CANCELED), ec);
  EXPECT_EQ(std::string("1\0003", 3), std::string(buf, 3));
  EXPECT_EQ("exception unexpected eof", thrown([&] { cf_read_all(fd, buf, 1); }));
  cf_read_all(fd, buf, 1, ec);
  EXPECT_EQ(qn::make_error_code(qn::EC_UNEXPECTED_EOF), ec);
  ::close(fd);
  for (std::size_t size : {5, 0}) {
    EXPECT_EQ("system_error read: Bad file descriptor", thrown([&] { cf_read_all(-1, buf, size); }));
    cf_read_all(-1, buf, size, ec);
    EXPECT_EQ(g_ebadf, ec);
  }
}

TEST(cf_read_file, whole_files_and_failures) {
  test_sandbox_t box;
  std::string content(70000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 253);
  EXPECT_TRUE(content == cf_read_file(box.write("bin", content)));
  EXPECT_EQ("", cf_read_file("/proc/self/status"));  // claims size 0
  EXPECT_EQ("filesystem_error No such file or directory " + box.file("missing"),
            thrown([&] { cf_read_file(box.file("missing")); }));
  // Directories open but cannot be read, whatever size they report; the descriptor is closed.
  int const free_fd = ::dup(0);
  ::close(free_fd);
  for (std::string const& dir : {box.path(), std::string("/proc/self")})
    EXPECT_EQ("system_error read: Is a directory", thrown([&] { cf_read_file(dir); })) << dir;
  int const after = ::dup(0);
  ::close(after);
  EXPECT_EQ(free_fd, after);
}

TEST(cf_file_id_t, device_inode_and_change_second_make_the_identity_and_changes_are_seen) {
  struct stat st = {};
  st.st_dev = 1;
  st.st_ino = 2;
  st.st_ctim.tv_sec = 3;
  st.st_ctim.tv_nsec = 999;  // below a second: no part of the identity
  cf_file_id_t id(st);
  for (int member = 0; member < 3; ++member) {
    struct stat other = st;
    if (member == 0) other.st_dev = 9;
    if (member == 1) other.st_ino = 9;
    if (member == 2) other.st_ctim.tv_sec = 9;
    EXPECT_TRUE(id != other && !(id == cf_file_id_t(other))) << member;
  }
  struct stat same = st;
  same.st_ctim.tv_nsec = 0;
  same.st_size = 12345;
  EXPECT_TRUE(id == same);
  id.clear();
  EXPECT_TRUE(id == cf_file_id_t() && id.st_dev == 0 && id.st_ino == 0 && id.st_ctime == 0);

  test_sandbox_t box;
  std::string const path = box.write("f", "x");
  ASSERT_EQ(0, ::stat(path.c_str(), &st));
  cf_file_id_t const real(st);
  EXPECT_FALSE(real.changed(path));
  ASSERT_EQ(0, std::rename(box.write("g", "x").c_str(), path.c_str()));  // another inode
  EXPECT_TRUE(real.changed(path));
  ASSERT_EQ(0, std::remove(path.c_str()));
  EXPECT_TRUE(real.changed(path));
  EXPECT_EQ("system_error stat: Not a directory", thrown([&] { real.changed(box.write("h", "x") + "/below"); }));
}

}  // namespace
