#include "framework/util/cf_io.h"

#include <atomic>
#include <cstddef>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
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
#include "tests/framework/util/test_child.h"

namespace {

std::atomic<int> signals_seen{0};

void count_signal(int) { ++signals_seen; }

// SIGUSR1 without SA_RESTART, so a blocked call fails with EINTR.
class interrupting_signal_t {
 public:
  interrupting_signal_t() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = count_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    ::sigaction(SIGUSR1, &sa, &old_);
    signals_seen = 0;
  }
  ~interrupting_signal_t() { ::sigaction(SIGUSR1, &old_, nullptr); }

 private:
  struct sigaction old_;
};

// Waits (bounded) until the thread sleeps in the kernel (state S in its stat line).
bool wait_until_blocked(pid_t tid) {
  std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
  for (int i = 0; i < 20000; ++i) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    std::string::size_type close = line.rfind(')');
    if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S') return true;
    ::usleep(500);
  }
  return false;
}

// Waits (bounded) until the handler has run.
bool wait_for_signal() {
  for (int i = 0; i < 20000 && signals_seen == 0; ++i) ::usleep(500);
  return signals_seen != 0;
}

struct pipe_t {
  int fds[2] = {-1, -1};
  pipe_t() { EXPECT_EQ(0, ::pipe(fds)); }
  ~pipe_t() {
    if (fds[0] >= 0) ::close(fds[0]);
    if (fds[1] >= 0) ::close(fds[1]);
  }
  void close_write() {
    ::close(fds[1]);
    fds[1] = -1;
  }
};

// Fills the pipe so that the next write blocks; returns how many bytes went in.
std::size_t fill_pipe(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  std::vector<char> chunk(4096, 'f');
  std::size_t total = 0;
  for (;;) {
    ssize_t n = ::write(fd, chunk.data(), chunk.size());
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
  // Single bytes until really full: a pipe may take a partial chunk.
  while (::write(fd, "f", 1) == 1) ++total;
  ::fcntl(fd, F_SETFL, flags);
  return total;
}

std::string read_to_eof(int fd) {
  std::string result;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.append(buf, static_cast<std::size_t>(n));
  }
  return result;
}

int open_fd_count() {
  int count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (struct dirent* e = ::readdir(dir))
    if (e->d_name[0] != '.') ++count;
  ::closedir(dir);
  return count;
}

TEST(cf_write_all, write_interrupted_before_any_byte_delivers_all_bytes_once) {
  interrupting_signal_t handler;
  pipe_t p;
  std::size_t filled = fill_pipe(p.fds[1]);

  std::atomic<pid_t> tid{0};
  std::exception_ptr failure;
  std::thread writer([&] {
    tid = static_cast<pid_t>(::gettid());
    try {
      cf_write_all(p.fds[1], "0123456789", 10);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  while (tid == 0) std::this_thread::yield();
  bool blocked = wait_until_blocked(tid);
  if (blocked) {
    ::pthread_kill(writer.native_handle(), SIGUSR1);
    EXPECT_TRUE(wait_for_signal());
  }

  // The writer is still waiting for room: nothing of the 10 bytes can be in the pipe yet.
  std::vector<char> drained(filled);
  EXPECT_NO_THROW(cf_read_all(p.fds[0], drained.data(), drained.size()));
  writer.join();
  ASSERT_TRUE(blocked) << "the write never blocked";
  EXPECT_EQ(std::string(filled, 'f'), std::string(drained.begin(), drained.end()));
  ASSERT_FALSE(failure);
  p.close_write();
  EXPECT_EQ("0123456789", read_to_eof(p.fds[0]));
  EXPECT_EQ(1, signals_seen.load());
}

TEST(cf_write_all, large_buffer_under_signals_arrives_whole_in_order) {
  interrupting_signal_t handler;
  pipe_t p;
  std::string data(1 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7 + i / 4093) & 0xff);

  std::atomic<bool> done{false};
  std::exception_ptr failure;
  std::thread writer([&] {
    try {
      cf_write_all(p.fds[1], data.data(), data.size());
    } catch (...) {
      failure = std::current_exception();
    }
    // The end of the data, or of a failed writer, shows as end of file.
    p.close_write();
    done = true;
  });

  std::string received;
  char buf[1000];
  for (;;) {
    if (!done) ::pthread_kill(writer.native_handle(), SIGUSR1);
    ssize_t n = ::read(p.fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    received.append(buf, static_cast<std::size_t>(n));
  }
  writer.join();
  ASSERT_FALSE(failure);
  EXPECT_EQ(data.size(), received.size());
  EXPECT_TRUE(received == data);
}

TEST(cf_write_all, full_disk_throws_enospc_with_write) {
  int fd = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(fd, 0);
  try {
    cf_write_all(fd, "abc", 3);
    ADD_FAILURE() << "no exception";
  } catch (boost::system::system_error const& e) {
    EXPECT_EQ(boost::system::error_code(ENOSPC, boost::system::system_category()), e.code());
    EXPECT_EQ(0, std::string(e.what()).rfind("write", 0)) << e.what();
  }

  boost::system::error_code ec;
  cf_write_all(fd, "abc", 3, ec);
  EXPECT_EQ(boost::system::error_code(ENOSPC, boost::system::system_category()), ec);
  ::close(fd);
}

TEST(cf_write_all, empty_buffer_still_calls_write_once) {
  // Only a real write call can notice the bad descriptor.
  EXPECT_THROW(cf_write_all(-1, "", 0), boost::system::system_error);

  pipe_t p;
  EXPECT_NO_THROW(cf_write_all(p.fds[1], "", 0));
  p.close_write();
  EXPECT_EQ("", read_to_eof(p.fds[0]));
}

// Makes every write to fd return 0 without an error, which no ordinary file does on demand.
bool stall_writes_to(int fd) {
  struct sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_write, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0])),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(fd), 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | 0),  // "error" 0: the call returns 0
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

TEST(cf_write_all, write_that_moves_nothing_is_unexpected_error) {
  qn_test::child_result_t r = qn_test::run_in_child([] {
    int const fd = 100;
    if (::dup2(1, fd) != fd || !stall_writes_to(fd)) {
      (void)!::write(1, "unsupported", 11);
      return;
    }
    cf_write_all(fd, "", 0);  // nothing was to be written: no failure
    std::string out;
    try {
      cf_write_all(fd, "abc", 3);
      out += "no exception";
    } catch (boost::system::system_error const& e) {
      out += std::string(e.code().category().name()) + " " + std::to_string(e.code().value()) + " " + e.what();
    }
    boost::system::error_code ec;
    cf_write_all(fd, "abc", 3, ec);
    out += std::string("|") + ec.category().name() + " " + std::to_string(ec.value());
    (void)!::write(1, out.data(), out.size());
  });
  if (r.out == "unsupported") GTEST_SKIP() << "no seccomp filters here";
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("qn.Error 125 write: Unexpected error|qn.Error 125", r.out);
}

TEST(cf_write_all, error_code_form_leaves_code_untouched_on_success) {
  pipe_t p;
  boost::system::error_code ec = qn::make_error_code(qn::EC_CANCELED);
  cf_write_all(p.fds[1], "xy", 2, ec);
  EXPECT_EQ(qn::make_error_code(qn::EC_CANCELED), ec);
  p.close_write();
  EXPECT_EQ("xy", read_to_eof(p.fds[0]));

  cf_write_all(-1, "xy", 2, ec);
  EXPECT_EQ(boost::system::error_code(EBADF, boost::system::system_category()), ec);
}

TEST(cf_read_all, short_file_throws_unexpected_eof) {
  qn_test::sandbox_t box;
  std::string path = box.write("five", "12345");
  int fd = ::open(path.c_str(), O_RDONLY);
  char buf[8];
  try {
    cf_read_all(fd, buf, 8);
    ADD_FAILURE() << "no exception";
  } catch (boost::system::system_error const&) {
    ADD_FAILURE() << "eof reported as a system error";
  } catch (std::runtime_error const& e) {
    EXPECT_STREQ("unexpected eof", e.what());
  }
  ::close(fd);

  fd = ::open(path.c_str(), O_RDONLY);
  boost::system::error_code ec;
  cf_read_all(fd, buf, 8, ec);
  EXPECT_EQ(qn::make_error_code(qn::EC_UNEXPECTED_EOF), ec);
  EXPECT_STREQ("qn.Error", ec.category().name());
  ::close(fd);
}

TEST(cf_read_all, exact_size_leaves_code_untouched) {
  qn_test::sandbox_t box;
  std::string path = box.write("five", std::string("1\0"
                                                   "345",
                                                   5));
  int fd = ::open(path.c_str(), O_RDONLY);
  char buf[5];
  boost::system::error_code ec = qn::make_error_code(qn::EC_CANCELED);
  cf_read_all(fd, buf, 5, ec);
  EXPECT_EQ(qn::make_error_code(qn::EC_CANCELED), ec);
  EXPECT_EQ(std::string("1\0"
                        "345",
                        5),
            std::string(buf, 5));
  ::close(fd);
}

TEST(cf_read_all, bad_descriptor_fails_even_for_nothing_to_read) {
  boost::system::error_code const ebadf(EBADF, boost::system::system_category());
  char buf[5];
  for (std::size_t size : {std::size_t(5), std::size_t(0)}) {
    try {
      cf_read_all(-1, buf, size);
      ADD_FAILURE() << "no exception for " << size;
    } catch (boost::system::system_error const& e) {
      EXPECT_EQ(ebadf, e.code()) << size;
      EXPECT_EQ(0, std::string(e.what()).rfind("read", 0)) << e.what();
    }
    boost::system::error_code ec;
    cf_read_all(-1, buf, size, ec);
    EXPECT_EQ(ebadf, ec) << size;
  }

  pipe_t p;  // empty and open: a read of nothing must not wait for data
  EXPECT_NO_THROW(cf_read_all(p.fds[0], buf, 0));
}

TEST(cf_read_all, interrupted_read_goes_on) {
  interrupting_signal_t handler;
  pipe_t p;
  std::atomic<pid_t> tid{0};
  char buf[4] = {};
  std::exception_ptr failure;
  std::thread reader([&] {
    tid = static_cast<pid_t>(::gettid());
    try {
      cf_read_all(p.fds[0], buf, 4);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  while (tid == 0) std::this_thread::yield();
  bool blocked = wait_until_blocked(tid);
  if (blocked) {
    ::pthread_kill(reader.native_handle(), SIGUSR1);
    EXPECT_TRUE(wait_for_signal());
  }
  EXPECT_EQ(4, ::write(p.fds[1], "wxyz", 4));
  reader.join();
  ASSERT_TRUE(blocked) << "the read never blocked";
  ASSERT_FALSE(failure);
  EXPECT_EQ("wxyz", std::string(buf, 4));
}

TEST(cf_read_file, reads_whole_binary_file) {
  qn_test::sandbox_t box;
  std::string content(70000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 253);
  EXPECT_TRUE(content == cf_read_file(box.write("bin", content)));
  EXPECT_EQ("", cf_read_file(box.write("empty", "")));
}

TEST(cf_read_file, size_zero_files_read_as_empty) {
  // Files of the proc file system report size 0 although they have content.
  EXPECT_EQ("", cf_read_file("/proc/self/status"));
}

TEST(cf_read_file, missing_file_is_filesystem_error_of_open) {
  qn_test::sandbox_t box;
  std::string path = box.file("missing");
  int before = open_fd_count();
  try {
    cf_read_file(path);
    ADD_FAILURE() << "no exception";
  } catch (boost::filesystem::filesystem_error const& e) {
    EXPECT_EQ(boost::system::error_code(ENOENT, boost::system::system_category()), e.code());
    EXPECT_EQ(path, e.path1().string());
    EXPECT_EQ(0, std::string(e.what()).rfind("open", 0)) << e.what();
  }
  EXPECT_EQ(before, open_fd_count());
}

TEST(cf_read_file, directory_fails_and_closes_descriptor) {
  qn_test::sandbox_t box;
  struct stat st;
  ASSERT_EQ(0, ::stat(box.path().c_str(), &st));
  int before = open_fd_count();
  if (st.st_size > 0) {
    try {
      cf_read_file(box.path());
      ADD_FAILURE() << "no exception";
    } catch (boost::system::system_error const& e) {
      EXPECT_EQ(boost::system::error_code(EISDIR, boost::system::system_category()), e.code());
    }
  } else {
    EXPECT_EQ("", cf_read_file(box.path()));
  }
  EXPECT_EQ(before, open_fd_count());
}

}  // namespace
