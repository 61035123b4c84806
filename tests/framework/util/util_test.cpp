// The write loops under signals: a blocked write fails with EINTR or returns short.
#include <atomic>
#include <csignal>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "framework/log/cf_log.h"
#include "framework/util/cf_io.h"

namespace {

std::atomic<int> g_signals{0};

// Waits (bounded) until the thread sleeps in the kernel: state S in its stat line.
bool wait_until_sleeping(pid_t tid) {
  for (int i = 0; i < 20000; ++i, ::usleep(500)) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(in, line);
    std::string::size_type const end = line.rfind(')');
    if (end != std::string::npos && end + 2 < line.size() && line[end + 2] == 'S') return true;
  }
  return false;
}

// Calls write_to(fd) in a thread of its own on a pipe filled up beforehand. Once the thread waits
// for room, and then before every read of the other end, it gets SIGUSR1 (without SA_RESTART).
// Returns what came through after the filler.
std::string write_under_signals(std::function<void(int fd)> const& write_to) {
  struct sigaction action = {}, previous = {};
  action.sa_handler = [](int) { ++g_signals; };
  ::sigaction(SIGUSR1, &action, &previous);
  g_signals = 0;
  int fds[2];
  if (::pipe(fds) != 0 || ::fcntl(fds[1], F_SETFL, O_NONBLOCK) != 0) return "<no pipe>";
  std::string filler;
  while (::write(fds[1], "f", 1) == 1) filler += 'f';
  ::fcntl(fds[1], F_SETFL, 0);
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
    if (n > 0)
      received.append(buffer, static_cast<std::size_t>(n));
    else if (n == 0 || errno != EINTR)
      break;
  }
  writer.join();
  ::close(fds[0]);
  ::sigaction(SIGUSR1, &previous, nullptr);
  if (!blocked) return "<the write never blocked>";
  if (received.compare(0, filler.size(), filler) != 0) return "<filler damaged>";
  return received.substr(filler.size());
}

TEST(write_loops, large_buffer_under_signals_arrives_whole_in_order) {
  std::string data(1 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7 + i / 4093) & 0xff);
  auto const throwing = [&](int fd) { EXPECT_NO_THROW(cf_write_all(fd, data.data(), data.size())); };
  for (auto write : std::vector<std::function<void(int)>>{throwing, [&](int fd) { cf_log_write_string(fd, data); }}) {
    std::string const received = write_under_signals(write);
    EXPECT_EQ(data.size(), received.size());
    EXPECT_TRUE(received == data);
  }
}

}  // namespace
