#include "framework/util/cf_io.h"

#include <cstddef>
#include <string>

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
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

boost::system::error_code const g_ebadf(EBADF, boost::system::system_category());

// The lowest free descriptor: the same before and after a call that leaks none.
int lowest_free_fd() {
  int const fd = ::dup(0);
  ::close(fd);
  return fd;
}

TEST(cf_write_all, large_buffer_under_signals_arrives_whole_in_order) {
  std::string data(1 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7 + i / 4093) & 0xff);
  std::string const received = qn_test::write_under_signals([&](int fd) {
    try {
      cf_write_all(fd, data.data(), data.size());
    } catch (std::exception const& e) {
      ADD_FAILURE() << e.what();
    }
  });
  EXPECT_EQ(data.size(), received.size());
  EXPECT_TRUE(received == data);
}

TEST(cf_write_all, failures_of_the_call_even_for_empty_buffers) {
  // Even an empty buffer makes the call that notices a bad descriptor.
  EXPECT_THROW(cf_write_all(-1, "", 0), boost::system::system_error);
  boost::system::error_code ec = qn::make_error_code(qn::EC_CANCELED);
  cf_write_all(1, "", 0, ec);  // success leaves the code alone
  EXPECT_EQ(qn::make_error_code(qn::EC_CANCELED), ec);
  cf_write_all(-1, "xy", 2, ec);
  EXPECT_EQ(g_ebadf, ec);
}

TEST(cf_write_all, write_that_moves_nothing_is_unexpected_error) {
  // In the child a seccomp filter makes writes to one descriptor return 0 without an error,
  // which no file does on demand; the answer comes back as the exit status.
  qn_test::child_result_t const r = qn_test::run_in_child([] {
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
  qn_test::sandbox_t box;
  std::string const content(
      "1\0"
      "345",
      5);
  std::string const path = box.write("five", content);
  int const fd = ::open(path.c_str(), O_RDONLY);
  char buf[8];
  boost::system::error_code ec = qn::make_error_code(qn::EC_CANCELED);
  cf_read_all(fd, buf, 5, ec);  // success leaves the code alone
  EXPECT_EQ(qn::make_error_code(qn::EC_CANCELED), ec);
  EXPECT_EQ(content, std::string(buf, 5));
  ASSERT_EQ(0, ::lseek(fd, 0, SEEK_SET));
  try {
    cf_read_all(fd, buf, 8);
    ADD_FAILURE() << "no exception";
  } catch (boost::system::system_error const&) {
    ADD_FAILURE() << "end of file reported as a system error";
  } catch (std::runtime_error const& e) {
    EXPECT_STREQ("unexpected eof", e.what());
  }
  ASSERT_EQ(0, ::lseek(fd, 0, SEEK_SET));
  cf_read_all(fd, buf, 8, ec);
  EXPECT_EQ(qn::make_error_code(qn::EC_UNEXPECTED_EOF), ec);
  ::close(fd);

  for (std::size_t size : {std::size_t(5), std::size_t(0)}) {
    try {
      cf_read_all(-1, buf, size);
      ADD_FAILURE() << "no exception for " << size;
    } catch (boost::system::system_error const& e) {
      EXPECT_EQ(g_ebadf, e.code()) << size;
      EXPECT_EQ(0u, std::string(e.what()).rfind("read", 0)) << e.what();
    }
    ec.clear();
    cf_read_all(-1, buf, size, ec);
    EXPECT_EQ(g_ebadf, ec) << size;
  }
}

TEST(cf_read_file, whole_files_and_failures) {
  qn_test::sandbox_t box;
  std::string content(70000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 253);
  EXPECT_TRUE(content == cf_read_file(box.write("bin", content)));
  EXPECT_EQ("", cf_read_file(box.write("empty", "")));
  // Files of the proc file system report size 0 although they have content.
  EXPECT_EQ("", cf_read_file("/proc/self/status"));

  std::string const missing = box.file("missing");
  try {
    cf_read_file(missing);
    ADD_FAILURE() << "no exception";
  } catch (boost::filesystem::filesystem_error const& e) {
    EXPECT_EQ(boost::system::error_code(ENOENT, boost::system::system_category()), e.code());
    EXPECT_EQ(missing, e.path1().string());
    EXPECT_EQ(0u, std::string(e.what()).rfind("open", 0)) << e.what();
  }

  // A directory opens but cannot be read; its descriptor is closed all the same.
  struct stat st;
  ASSERT_EQ(0, ::stat(box.path().c_str(), &st));
  int const free_fd = lowest_free_fd();
  if (st.st_size > 0) {
    try {
      cf_read_file(box.path());
      ADD_FAILURE() << "no exception";
    } catch (boost::system::system_error const& e) {
      EXPECT_EQ(boost::system::error_code(EISDIR, boost::system::system_category()), e.code());
    }
  }
  EXPECT_EQ(free_fd, lowest_free_fd());
}

}  // namespace
