#include "tools/configd_stub/stub_configd.h"

#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>

#include <google/protobuf/text_format.h>

#include "error.pb.h"

std::shared_ptr<stub_configd_t> stub_configd_t::create(boost::asio::io_context& io, int fd,
                                                       stub_settings_t const& settings,
                                                       std::function<void()> const& on_end) {
  std::shared_ptr<stub_configd_t> link(new stub_configd_t(settings, on_end));
  link->socket = std::make_shared<cf_local_stream_socket_t>(io);
  link->socket->assign(boost::asio::local::stream_protocol(), fd);
  link->async_read_header();
  return link;
}

stub_configd_t::stub_configd_t(stub_settings_t const& settings, std::function<void()> const& on_end)
    : cf_ipc_link_t(std::size_t(1) << 26), settings(settings), on_end(on_end) {}

std::shared_ptr<cf_ipc_link_t> stub_configd_t::get_shared() { return shared_from_this(); }

bool stub_configd_t::load_config(std::string const& file, qn::SMBGardixConfig& config) {
  std::ifstream in(file);
  if (!in) {
    std::cerr << "configd-stub: cannot read " << file << std::endl;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (!google::protobuf::TextFormat::ParseFromString(text.str(), &config)) {
    std::cerr << "configd-stub: " << file << " is no qn.SMBGardixConfig in text format" << std::endl;
    return false;
  }
  return true;
}

void stub_configd_t::push_config() {
  qn::Configd2SMBGardixMessage response;
  if (!load_config(settings.config_file, *response.mutable_config())) return;
  response.set_tag(qn::Configd2SMBGardixMessage::GET_CONFIG_RESPONSE);
  response.set_config_revision(settings.revision);
  response.mutable_control()->set_app(qn::APP_SMB_GARDIX);
  response.mutable_control()->set_suspended(settings.suspended);
  async_send_message(response);
}

void stub_configd_t::close() {
  if (!is_open()) return;
  boost::system::error_code ignored;
  socket->close(ignored);
  if (on_end) on_end();
}

void stub_configd_t::on_message(google::protobuf::io::ZeroCopyInputStream* stream) {
  qn::SMBGardix2ConfigdMessage message;
  if (!message.ParseFromZeroCopyStream(stream)) {
    std::cerr << "configd-stub: a frame that is no qn.SMBGardix2ConfigdMessage" << std::endl;
    return;
  }
  std::cout << message.ShortDebugString() << std::endl;
  switch (message.tag()) {
    case qn::SMBGardix2ConfigdMessage::GET_CONFIG_REQUEST:
      push_config();
      break;
    case qn::SMBGardix2ConfigdMessage::GET_FCHECK_REQUEST: {
      qn::Configd2SMBGardixMessage response;
      response.set_tag(qn::Configd2SMBGardixMessage::GET_FCHECK_RESPONSE);
      response.set_uid(message.has_uid() ? message.uid() : ::getuid());
      if (settings.fcheck_socket.empty())
        response.mutable_error()->set_code(qn::EC_NO_FILE_CHECK);
      else
        response.set_socket_path(settings.fcheck_socket);
      async_send_message(response);
      break;
    }
    default:
      break;
  }
}

void stub_configd_t::on_error(boost::system::error_code const& ec) {
  if (ec != boost::asio::error::eof) std::cerr << "configd-stub: link: " << ec.message() << std::endl;
  close();
}
