#include "bench/support/load_generator.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/write.hpp>

namespace {

typedef std::chrono::steady_clock clock_type;
typedef boost::asio::local::stream_protocol::socket socket_t;

// Four threads keep up with one server thread without taking the machine's other cores.
constexpr std::size_t max_threads = 4;
constexpr auto drain_limit = std::chrono::seconds(20);

enum phase_t { WARMUP, MEASURE, STOP };

struct worker_t {
  boost::asio::io_context io;
  std::vector<std::uint64_t> samples_ns;  // one per measured reply
  std::string error;
};

class connection_t {
 public:
  connection_t(load_generator_t::protocol_t const& protocol, load_generator_t::options_t const& options,
               std::atomic<int> const& phase, worker_t& worker, std::size_t first_file)
      : protocol(protocol), options(options), phase(phase), worker(worker), socket(worker.io), file(first_file) {}

  // Connects at once; the greeting and everything after it run on the worker's thread.
  void start() {
    socket.connect(boost::asio::local::stream_protocol::endpoint(options.socket));
    greeting_left = protocol.greeting_replies();
    pending = protocol.greeting();
    if (greeting_left == 0) start_requests();
    flush();
    read();
  }

 private:
  bool may_send() const { return phase != STOP && (options.requests == 0 || sent < options.requests); }

  void start_requests() {
    for (std::size_t i = 0; i < options.in_flight && may_send(); ++i) send_request();
  }

  void send_request() {
    ++serial;
    protocol.append_request(pending, serial, file++);
    outstanding.emplace_back(serial, clock_type::now());
    ++sent;
  }

  // One write at a time; requests queued meanwhile leave together after it.
  void flush() {
    if (!flight.empty() || pending.empty() || !socket.is_open()) return;
    flight.swap(pending);
    boost::asio::async_write(socket, boost::asio::buffer(flight), [this](boost::system::error_code ec, std::size_t) {
      flight.clear();
      if (!socket.is_open()) return;
      if (ec) return fail("write: " + ec.message());
      flush();
    });
  }

  void read() {
    socket.async_read_some(boost::asio::buffer(chunk), [this](boost::system::error_code ec, std::size_t size) {
      if (!socket.is_open()) return;
      if (ec) return fail("read: " + ec.message());
      input.append(chunk, size);
      std::size_t used = 0;
      while (input.size() - used >= 4 && socket.is_open()) {
        auto const* head = reinterpret_cast<unsigned char const*>(input.data() + used);
        std::size_t const length = head[0] | head[1] << 8 | head[2] << 16 | std::size_t(head[3]) << 24;
        if (input.size() - used - 4 < length) break;
        on_reply(input.data() + used + 4, length);
        used += 4 + length;
      }
      input.erase(0, used);
      flush();
      if (socket.is_open()) read();
    });
  }

  void on_reply(char const* body, std::size_t size) {
    if (greeting_left > 0) {
      if (--greeting_left == 0) start_requests();
    } else {
      if (outstanding.empty()) return fail("a reply without a request");
      std::uint32_t const serial = options.check_serials ? outstanding.front().first : 0;
      std::string const wrong = protocol.check_reply(body, size, serial);
      if (!wrong.empty()) return fail(wrong);
      if (phase == MEASURE)
        worker.samples_ns.push_back(
            std::chrono::duration_cast<std::chrono::nanoseconds>(clock_type::now() - outstanding.front().second)
                .count());
      outstanding.pop_front();
      if (may_send()) send_request();
    }
    // Done: the run is over and every request has its reply.
    if (greeting_left == 0 && outstanding.empty()) {
      boost::system::error_code ignored;
      socket.close(ignored);
    }
  }

  void fail(std::string const& text) {
    if (worker.error.empty()) worker.error = text;
    boost::system::error_code ignored;
    socket.close(ignored);
  }

  load_generator_t::protocol_t const& protocol;
  load_generator_t::options_t const& options;
  std::atomic<int> const& phase;
  worker_t& worker;
  socket_t socket;
  char chunk[65536];
  std::string input;  // the start of a frame not yet complete
  std::string pending;
  std::string flight;
  std::deque<std::pair<std::uint32_t, clock_type::time_point>> outstanding;
  std::size_t greeting_left = 0;
  std::uint32_t serial = 0;
  std::size_t file;
  std::size_t sent = 0;
};

double percentile_us(std::vector<std::uint64_t>& samples, double fraction) {
  if (samples.empty()) return 0;
  auto const at = samples.begin() + static_cast<std::ptrdiff_t>(fraction * double(samples.size() - 1));
  std::nth_element(samples.begin(), at, samples.end());
  return double(*at) / 1000;
}

}  // namespace

load_generator_t::figures_t load_generator_t::run(protocol_t const& protocol, options_t const& options) {
  std::atomic<int> phase{options.requests != 0 ? MEASURE : WARMUP};
  std::vector<std::unique_ptr<worker_t>> workers(std::min(options.connections, max_threads));
  for (auto& worker : workers) worker.reset(new worker_t);
  std::vector<std::unique_ptr<connection_t>> connections;
  for (std::size_t i = 0; i < options.connections; ++i) {
    connections.emplace_back(new connection_t(protocol, options, phase, *workers[i % workers.size()], i * 7919));
    connections.back()->start();
  }
  std::atomic<std::size_t> finished{0};
  std::vector<std::thread> threads;
  for (auto& worker : workers)
    threads.emplace_back([&worker, &finished] {
      worker->io.run();
      ++finished;
    });

  auto const started = clock_type::now();
  auto measured_from = started;
  if (options.requests == 0) {
    std::this_thread::sleep_for(std::chrono::duration<double>(options.warmup_seconds));
    phase = MEASURE;
    measured_from = clock_type::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds));
    phase = STOP;
  }
  auto measured_to = clock_type::now();
  // Replies still outstanding are awaited, so that the server is idle for the next run.
  while (finished < workers.size() && clock_type::now() - measured_to < drain_limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (options.requests != 0) measured_to = clock_type::now();
  bool const stalled = finished < workers.size();
  for (auto& worker : workers) worker->io.stop();
  for (auto& thread : threads) thread.join();

  std::vector<std::uint64_t> samples;
  for (auto& worker : workers) {
    if (!worker->error.empty()) throw std::runtime_error(options.socket + ": " + worker->error);
    samples.insert(samples.end(), worker->samples_ns.begin(), worker->samples_ns.end());
  }
  if (stalled) throw std::runtime_error(options.socket + ": replies missing");
  figures_t figures;
  figures.replies = samples.size();
  figures.per_second = double(samples.size()) / std::chrono::duration<double>(measured_to - measured_from).count();
  figures.p50_us = percentile_us(samples, 0.50);
  figures.p99_us = percentile_us(samples, 0.99);
  return figures;
}
