#include "framework/exe_info/cf_exe_info.h"

#include <cerrno>
#include <memory>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/archive/iterators/base64_from_binary.hpp>
#include <boost/archive/iterators/transform_width.hpp>
#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/system/system_error.hpp>
#include <google/protobuf/util/json_util.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "error.pb.h"
#include "framework/error/cf_error_conversions.h"
#include "framework/error/cf_proto_error_impl.h"
#include "framework/error/cf_proto_exception.h"

namespace {

boost::system::error_code errno_code(int err) {
  return boost::system::error_code(err, boost::system::system_category());
}

struct md_ctx_deleter_t {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

std::string digest_file(std::string const& path, EVP_MD const* md) {
  std::unique_ptr<EVP_MD_CTX, md_ctx_deleter_t> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) throw std::runtime_error("digest init");

  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw boost::system::system_error(errno_code(errno), "open");

  try {
    std::vector<char> block(8192);
    for (;;) {
      ssize_t n = ::read(fd, block.data(), block.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        throw boost::system::system_error(errno_code(errno), "read");
      }
      if (n == 0) break;
      if (EVP_DigestUpdate(ctx.get(), block.data(), static_cast<std::size_t>(n)) != 1)
        throw std::runtime_error("digest update");
    }
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);

  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(ctx.get(), out, &size) != 1) throw std::runtime_error("digest final");
  return std::string(reinterpret_cast<char const*>(out), size);
}

std::string digest_file_as_proto(std::string const& path, EVP_MD const* md, char const* label) {
  try {
    return digest_file(path, md);
  } catch (std::exception const& e) {
    std::ostringstream text;
    text << label << ": " << cf_exception_to_text(e) << ": " << boost::filesystem::path(path);
    throw cf_proto_exception_t(cf_exception_to_proto_code(e), text.str());
  }
}

std::string owner_name(uid_t uid) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = 16384;
  std::vector<char> buffer(static_cast<std::size_t>(size));
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) return found->pw_name;
  return std::to_string(uid);
}

}  // namespace

qn::AppExeInfo cf_make_app_exe_info(char const* version, int argc, char const* const* argv) {
  if (argc < 1) throw std::runtime_error("Unknown exe path");
  return cf_fill_app_exe_info(version, argv[0]);
}

qn::AppExeInfo cf_fill_app_exe_info(char const* version, std::string const& path) {
  boost::filesystem::path canonical = boost::filesystem::canonical(path);

  struct stat st;
  if (::stat(canonical.c_str(), &st) != 0)
    throw boost::filesystem::filesystem_error("stat", canonical, errno_code(errno));
  if (!S_ISREG(st.st_mode)) throw boost::system::system_error(qn::make_error_code(qn::EC_NOT_A_REGULAR_FILE));

  std::string md5 = cf_file_md5(path);

  qn::AppExeInfo info;
  info.set_version(version ? version : "");
  info.set_install_time(static_cast<std::uint64_t>(st.st_ctim.tv_sec));
  info.set_modification_time(static_cast<std::uint64_t>(st.st_mtim.tv_sec));
  info.set_exe_size(static_cast<std::uint64_t>(st.st_size));
  info.set_exe_md5(md5);
  info.set_exe_owner(owner_name(st.st_uid));
  return info;
}

void cf_print_app_exe_info(std::ostream& out, qn::AppExeInfo const& info) {
  std::string json;
  try {
    // A failed status still leaves usable text in json.
    (void)google::protobuf::util::MessageToJsonString(info, &json);
  } catch (std::exception const&) {
    json.clear();
    (void)google::protobuf::util::MessageToJsonString(qn::AppExeInfo(), &json);
  }
  out << json;
}

std::string cf_file_md5(std::string const& path) { return digest_file_as_proto(path, EVP_md5(), "MD5"); }

std::string cf_file_sha256(std::string const& path) { return digest_file_as_proto(path, EVP_sha256(), "SHA256"); }

std::string cf_compute_password(std::string const& key, std::string const& message) {
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
            reinterpret_cast<unsigned char const*>(message.data()), message.size(), mac, &size) ||
      size < 8)
    throw boost::system::system_error(qn::make_error_code(qn::EC_UNEXPECTED_ERROR), "Cannot compute password");

  using namespace boost::archive::iterators;
  using base64_t = base64_from_binary<transform_width<unsigned char const*, 6, 8>>;
  // Eight Base64 characters are exactly the first six bytes, so no partial group arises.
  return std::string(base64_t(mac), base64_t(mac + 6));
}
