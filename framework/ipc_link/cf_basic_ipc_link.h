#pragma once

// Framed protobuf messages over a connected stream socket: every frame is a
// 4-byte little-endian length and one serialized message.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/basic_stream_socket.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/system/error_code.hpp>
#include <boost/system/system_error.hpp>
#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message.h>

#include "error.pb.h"
#include "framework/error/cf_proto_error_impl.h"

// What the link needs to know of its socket type.
template <class Socket>
struct basic_socket_traits {
  typedef Socket socket_type;

  static bool is_open(Socket& socket) { return socket.is_open() && socket.native_handle() != -1; }
};

// Both directions run at once: one read (header or body) is outstanding from the
// first async_read_header on; sends queue into the pending output and leave in
// batches, one asynchronous write at a time. The derived class owns the socket's
// creation and closing and decides what a failure means.
template <class Socket, class Traits = basic_socket_traits<Socket>>
class cf_basic_ipc_link_t {
 public:
  typedef Socket socket_type;
  typedef Traits traits_type;

  // A growable byte array that never shrinks.
  struct buffer_t {
    std::size_t capacity = 0;
    std::size_t size = 0;
    std::unique_ptr<std::uint8_t[]> data;

    // Makes size n; grows the array to max(capacity * 1.5, n) when it is too
    // small, keeping the first min(n, size) bytes unless `discard` is set.
    void resize(std::size_t n, bool discard = false) {
      if (capacity < n) {
        std::size_t const grown = static_cast<std::size_t>(static_cast<double>(capacity) * 1.5);
        std::size_t const new_capacity = std::max(grown, n);
        std::unique_ptr<std::uint8_t[]> fresh(new std::uint8_t[new_capacity]);
        std::size_t const keep = std::min(n, size);
        if (!discard && keep != 0) std::memcpy(fresh.get(), data.get(), keep);
        data = std::move(fresh);
        capacity = new_capacity;
      }
      size = n;
    }

    void clear() { size = 0; }

    void swap(buffer_t& other) noexcept {
      std::swap(capacity, other.capacity);
      std::swap(size, other.size);
      data.swap(other.data);
    }
  };

  explicit cf_basic_ipc_link_t(std::size_t max_message_size) : max_message_size(max_message_size) {}
  virtual ~cf_basic_ipc_link_t() = default;

  cf_basic_ipc_link_t(cf_basic_ipc_link_t const&) = delete;
  cf_basic_ipc_link_t& operator=(cf_basic_ipc_link_t const&) = delete;

  // Frames the message into the pending output and starts a write when none is
  // under way. Throws system_error EC_BAD_MESSAGE_SIZE ("async_send_message")
  // for a message above max_message_size, queueing nothing.
  void async_send_message(google::protobuf::Message const& message) {
    // Compared at full width: a size that only fits after truncation to 32 bits
    // must not slip past the check.
    std::size_t const full_size = message.ByteSizeLong();
    if (full_size > max_message_size || full_size > UINT32_MAX)
      throw boost::system::system_error(qn::make_error_code(qn::EC_BAD_MESSAGE_SIZE), "async_send_message");
    std::uint32_t const n = static_cast<std::uint32_t>(full_size);
    std::size_t const old_size = pending_output.size;
    pending_output.resize(old_size + 4 + n);
    std::uint8_t* frame = pending_output.data.get() + old_size;
    frame[0] = static_cast<std::uint8_t>(n);
    frame[1] = static_cast<std::uint8_t>(n >> 8);
    frame[2] = static_cast<std::uint8_t>(n >> 16);
    frame[3] = static_cast<std::uint8_t>(n >> 24);
    message.SerializeWithCachedSizesToArray(frame + 4);
    do_write();
  }

  // Starts reading the next frame; after the first call the link keeps reading
  // by itself until a failure or a close.
  void async_read_header() {
    input.resize(4, true);
    std::shared_ptr<cf_basic_ipc_link_t> self = get_shared();
    boost::asio::async_read(
        *socket, boost::asio::buffer(input.data.get(), 4),
        [this, self](boost::system::error_code const& ec, std::size_t bytes) { on_read_header(ec, bytes); });
  }

  bool is_open() const { return socket && Traits::is_open(*socket); }

 protected:
  // One received body, valid only during the call.
  virtual void on_message(google::protobuf::io::ZeroCopyInputStream* stream) = 0;
  // Any read, write or framing failure except a cancellation.
  virtual void on_error(boost::system::error_code const& ec) = 0;
  // Every pending operation holds one, so the link outlives its completions.
  virtual std::shared_ptr<cf_basic_ipc_link_t> get_shared() = 0;
  virtual void before_write() {}
  virtual void after_write() {}
  virtual void on_write_queue_empty() {}

  std::size_t max_message_size;
  std::shared_ptr<Socket> socket;
  buffer_t input;
  buffer_t pending_output;
  buffer_t output_in_flight;

 private:
  void on_read_header(boost::system::error_code const& ec, std::size_t /*bytes*/) {
    if (!is_open()) return;
    if (ec) {
      handle_error(ec);
      return;
    }
    std::uint8_t const* header = input.data.get();
    std::uint32_t const n = static_cast<std::uint32_t>(header[0]) | (static_cast<std::uint32_t>(header[1]) << 8) |
                            (static_cast<std::uint32_t>(header[2]) << 16) |
                            (static_cast<std::uint32_t>(header[3]) << 24);
    if (n == 0 || n > max_message_size) {
      handle_error(qn::make_error_code(qn::EC_BAD_MESSAGE_SIZE));
      return;
    }
    input.resize(n, true);
    std::shared_ptr<cf_basic_ipc_link_t> self = get_shared();
    boost::asio::async_read(
        *socket, boost::asio::buffer(input.data.get(), n),
        [this, self](boost::system::error_code const& ec, std::size_t bytes) { on_read_body(ec, bytes); });
  }

  void on_read_body(boost::system::error_code const& ec, std::size_t /*bytes*/) {
    if (!is_open()) return;
    if (ec) {
      handle_error(ec);
      return;
    }
    {
      google::protobuf::io::ArrayInputStream stream(input.data.get(), static_cast<int>(input.size));
      on_message(&stream);
    }
    input.clear();
    if (is_open()) async_read_header();
  }

  void do_write() {
    if (output_in_flight.size != 0) return;
    if (pending_output.size == 0) {
      on_write_queue_empty();
      return;
    }
    // Without a socket the frames wait in the pending output; the first send
    // once there is one takes them along.
    if (!socket) return;
    output_in_flight.swap(pending_output);
    before_write();
    std::shared_ptr<cf_basic_ipc_link_t> self = get_shared();
    boost::asio::async_write(
        *socket, boost::asio::buffer(output_in_flight.data.get(), output_in_flight.size),
        [this, self](boost::system::error_code const& ec, std::size_t bytes) { on_write(ec, bytes); });
  }

  void on_write(boost::system::error_code const& ec, std::size_t /*bytes*/) {
    if (!is_open()) return;
    if (ec) {
      handle_error(ec);
      return;
    }
    output_in_flight.clear();
    after_write();
    do_write();
  }

  void handle_error(boost::system::error_code const& ec) {
    if (ec == boost::asio::error::operation_aborted) return;
    on_error(ec);
  }
};

// The one instantiation: a UNIX-domain stream socket on the polymorphic executor.
typedef boost::asio::basic_stream_socket<boost::asio::local::stream_protocol, boost::asio::any_io_executor>
    cf_local_stream_socket_t;
typedef cf_basic_ipc_link_t<cf_local_stream_socket_t> cf_ipc_link_t;

extern template class cf_basic_ipc_link_t<cf_local_stream_socket_t>;
