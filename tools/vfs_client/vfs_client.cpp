#include "tools/vfs_client/vfs_client.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <boost/asio/ip/address.hpp>
#include <boost/filesystem/path.hpp>

#include "kson/parser.h"

namespace {

char const* const op_names[] = {"?", "open", "close", "read", "write"};

std::string paths_text(std::vector<std::string> const& paths) {
  if (paths.empty()) return " (none)";
  std::ostringstream text;
  for (std::string const& path : paths) text << ' ' << std::quoted(path);
  return text.str();
}

}  // namespace

bool vfs_client_t::parse(std::string const& line, request_t& request) {
  std::istringstream words(line);
  std::string op;
  words >> op;
  request = request_t();
  for (std::uint32_t i = vfs_message_t::OPEN; i <= vfs_message_t::WRITE; ++i)
    if (op == op_names[i]) request.op = i;
  if (request.op == 0) return false;
  if (request.op != vfs_message_t::WRITE) {
    // The rest of the line, so that a path may hold blanks.
    std::getline(words >> std::ws, request.path);
    while (!request.path.empty() && std::isspace(static_cast<unsigned char>(request.path.back())))
      request.path.pop_back();
    return !request.path.empty();
  }
  std::vector<std::string> rest;
  for (std::string word; words >> word;) rest.push_back(word);
  if (rest.empty() || rest.size() > 3) return false;
  request.path = rest[0];
  boost::system::error_code not_an_address;
  // A lone address after the path is the IP, not a user.
  if (rest.size() == 2) boost::asio::ip::make_address(rest[1], not_an_address);
  if (rest.size() == 2 && !not_an_address) {
    request.ip = rest[1];
  } else if (rest.size() >= 2) {
    std::string::size_type const at = rest[1].find('@');
    request.user = rest[1].substr(0, at);
    if (at != std::string::npos) request.domain = rest[1].substr(at + 1);
    if (rest.size() == 3) request.ip = rest[2];
  }
  return true;
}

vfs_client_t::vfs_client_t(int fd, std::string const& tag, std::string const& chroot)
    : fd(fd), tag(tag), chroot(chroot) {}

void vfs_client_t::hello(std::string const& basedir) {
  vfs_message_t msg;
  msg.type = vfs_message_t::HELLO;
  msg.tag = tag;
  msg.basedir = basedir;
  write_frame(msg);
}

void vfs_client_t::send(request_t const& request) {
  vfs_message_t msg;
  msg.type = vfs_message_t::FILE_EVENT;
  msg.tag = tag;
  msg.path = request.path;
  msg.op = request.op;
  msg.user = request.user;
  msg.domain = request.domain;
  msg.ip = request.ip;
  msg.has_ids = true;
  std::string const local =
      (boost::filesystem::path(chroot) / boost::filesystem::path(request.path).relative_path()).string();
  struct stat st;
  if (::stat(local.c_str(), &st) == 0) {
    msg.dev = st.st_dev;
    msg.ino = st.st_ino;
  } else {
    std::cerr << "vfs-client: cannot stat " << local << ": " << std::strerror(errno) << "; sending dev 0 ino 0"
              << std::endl;
  }
  std::string const what = std::string(op_names[request.op]) + " " + request.path;
  if (request.op == vfs_message_t::WRITE) {
    std::cout << "write " << request.path << ": reported" << std::endl;
  } else {
    msg.serial = next_serial++;
    waiting[msg.serial] = what;
  }
  write_frame(msg);
}

void vfs_client_t::write_frame(vfs_message_t const& msg) {
  std::vector<char> frame;
  if (!kson::transport_stream_t::serialize(msg, frame)) throw std::runtime_error("cannot encode a message");
  std::size_t done = 0;
  while (done < frame.size()) {
    ssize_t const put = ::write(fd, frame.data() + done, frame.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) throw std::runtime_error(std::string("cannot send to the daemon: ") + std::strerror(errno));
    done += static_cast<std::size_t>(put);
  }
}

bool vfs_client_t::receive() {
  std::vector<char> bytes(5120);
  ssize_t const got = ::read(fd, bytes.data(), bytes.size());
  if (got < 0) return errno == EINTR || errno == EAGAIN;
  if (got == 0) return false;
  bytes.resize(static_cast<std::size_t>(got));
  return process(bytes) && !broken;
}

void vfs_client_t::on_message(kson::parser_t& parser) {
  vfs_message_t msg;
  if (!msg.deserialize(parser)) {
    std::cerr << "vfs-client: an unreadable frame from the daemon" << std::endl;
    broken = true;
    return;
  }
  if (msg.type == vfs_message_t::SHARE_SETTINGS) {
    settings_seen = true;
    std::cout << "share settings: excluded" << paths_text(msg.excluded_paths) << "; included"
              << paths_text(msg.included_paths) << std::endl;
    return;
  }
  if (msg.type != vfs_message_t::VERDICT) {
    std::cout << "message of type " << msg.type << std::endl;
    return;
  }
  auto const found = waiting.find(msg.serial);
  std::cout << "#" << msg.serial << " " << (found == waiting.end() ? "(unknown request)" : found->second) << ": "
            << (msg.verdict == 1   ? "access allowed"
                : msg.verdict == 2 ? "access rejected"
                                   : "verdict " + std::to_string(msg.verdict))
            << std::endl;
  if (found != waiting.end()) waiting.erase(found);
}
