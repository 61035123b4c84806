// The write loops under signals: a blocked write fails with EINTR or returns short.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <thread>

#include "framework/log/cf_log.h"
#include "framework/util/cf_io.h"

namespace {

std::atomic<int> g_signals{0};

bool sleeping(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  std::getline(in, line);
  return line.rfind(") S") != std::string::npos;
}

// Each loop writes 1 MiB in a thread of its own into a pipe filled up beforehand. Once the thread
// waits for room, and then before every read of the other end, it gets SIGUSR1 (no SA_RESTART).
TEST(write_loops, large_buffer_under_signals_arrives_whole_in_order) {
  struct sigaction action = {};
  action.sa_handler = [](int) { ++g_signals; };
  ASSERT_EQ(0, ::sigaction(SIGUSR1, &action, nullptr));
  std::string data(1 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7 + i / 4093) & 0xff);
  for (auto write : {+[](int fd, std::string const&d) { cf_write_all(fd, d.data(), d.size()); },
                     +[](int fd, std::string const&d) { cf_log_write_string(fd, d); }}) {
    int fds[2];
    ASSERT_EQ(0, ::pipe(fds));
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    std::string expected;
    while (::write(fds[1], "f", 1) == 1) expected += 'f';
    ::fcntl(fds[1], F_SETFL, 0);
    std::atomic<pid_t> tid{0};
    std::atomic<bool> done{false};
    g_signals = 0;
    std::thread writer([&] {
      tid = ::gettid();
      write(fds[1], data);
      done = true;
      ::close(fds[1]);
    });
    while (tid == 0) std::this_thread::yield();
    for (int i = 0; i < 20000 && !sleeping(tid); ++i) ::usleep(500);  // the first signal is then a sure EINTR
    ::pthread_kill(writer.native_handle(), SIGUSR1);
    while (g_signals == 0) std::this_thread::yield();
    std::string received;
    char buffer[1500];
    for (ssize_t n = 1; n > 0 || (n < 0 && errno == EINTR);) {
      if (!done) ::pthread_kill(writer.native_handle(), SIGUSR1);
      if ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) received.append(buffer, n);
    }
    writer.join();
    ::close(fds[0]);
    EXPECT_TRUE(received == expected + data) << received.size();
  }
}

}  // namespace
