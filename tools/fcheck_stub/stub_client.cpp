#include "tools/fcheck_stub/stub_client.h"

#include <iostream>
#include <string>

#include <boost/asio/write.hpp>

#include "tools/fcheck_stub/stub_fcheck_server.h"
#include "tools/fcheck_stub/stub_text.h"

namespace {

// Far above any request a client sends; a bad header costs no more than this.
constexpr std::size_t max_frame = std::size_t(1) << 20;

}  // namespace

stub_client_t::stub_client_t(std::shared_ptr<cf_local_stream_socket_t> socket, int number, std::uint32_t close_after,
                             stub_fcheck_server_t& server)
    : cf_ipc_link_t(max_frame), id(number), close_after(close_after), server(server) {
  this->socket = std::move(socket);
}

void stub_client_t::print(std::string const& text) const { std::cout << "conn " << id << ": " << text << std::endl; }

void stub_client_t::send(fc::ServerMessage const& message) {
  if (!is_open() || stalled) return;
  print("sent " + stub_text_t::describe(message));
  try {
    async_send_message(message);
  } catch (boost::system::system_error const& e) {
    print(std::string("cannot send: ") + e.what());
  }
}

void stub_client_t::send_half(fc::ServerMessage const& message) {
  if (!is_open() || stalled) return;
  print("sent half of " + stub_text_t::describe(message));
  std::string const body = message.SerializeAsString();
  std::uint32_t const size = static_cast<std::uint32_t>(body.size());
  std::string frame{char(size), char(size >> 8), char(size >> 16), char(size >> 24)};
  frame += body.substr(0, body.size() / 2);
  boost::system::error_code ignored;
  boost::asio::write(*socket, boost::asio::buffer(frame), ignored);
  stalled = true;
}

void stub_client_t::close(std::string const& reason) {
  if (!is_open()) return;
  boost::system::error_code ignored;
  socket->close(ignored);
  print(reason.empty() ? "closed" : "closed: " + reason);
  server.forget(id);
}

void stub_client_t::on_message(google::protobuf::io::ZeroCopyInputStream* stream) {
  std::shared_ptr<stub_client_t> self = shared_from_this();
  fc::ClientMessage message;
  if (!message.ParseFromZeroCopyStream(stream)) {
    close("bad frame: no fc.ClientMessage");
    return;
  }
  print(stub_text_t::describe(message));
  if (close_after != 0 && ++received >= close_after) {
    close("after " + std::to_string(received) + " messages");
    return;
  }
  server.handle(self, message);
}

void stub_client_t::on_error(boost::system::error_code const& ec) {
  if (ec == boost::asio::error::eof)
    close("");
  else if (ec == qn::make_error_code(qn::EC_BAD_MESSAGE_SIZE))
    close("bad frame: " + ec.message());
  else
    close(ec.message());
}
