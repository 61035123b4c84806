#include "framework/util/cf_file_id.h"

#include <cstdio>
#include <string>

#include <sys/stat.h>

#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

#include "tests/framework/util/test_child.h"

namespace {

TEST(cf_file_id_t, device_inode_and_change_second_make_the_identity) {
  struct stat st = {};
  st.st_dev = 1;
  st.st_ino = 2;
  st.st_ctim.tv_sec = 3;
  st.st_ctim.tv_nsec = 999;  // below a second: no part of the identity
  cf_file_id_t id(st);
  for (int member = 0; member < 3; ++member) {
    struct stat other = st;
    if (member == 0) other.st_dev = 9;
    if (member == 1) other.st_ino = 9;
    if (member == 2) other.st_ctim.tv_sec = 9;
    EXPECT_TRUE(id != other && !(id == cf_file_id_t(other))) << member;
  }
  struct stat same = st;
  same.st_ctim.tv_nsec = 0;
  same.st_size = 12345;
  EXPECT_TRUE(id == same);
  id.clear();
  EXPECT_TRUE(id == cf_file_id_t() && id.st_dev == 0 && id.st_ino == 0 && id.st_ctime == 0);
}

TEST(cf_file_id_t, changed_by_replacement_and_removal_and_stat_failures_throw) {
  qn_test::sandbox_t box;
  std::string const path = box.write("f", "x");
  struct stat st;
  ASSERT_EQ(0, ::stat(path.c_str(), &st));
  cf_file_id_t const id(st);
  EXPECT_FALSE(id.changed(path));
  // Another file renamed over it has another inode.
  ASSERT_EQ(0, std::rename(box.write("g", "x").c_str(), path.c_str()));
  EXPECT_TRUE(id.changed(path));
  ASSERT_EQ(0, std::remove(path.c_str()));
  EXPECT_TRUE(id.changed(path));

  std::string const file = box.write("h", "x");
  try {
    id.changed(file + "/below");
    ADD_FAILURE() << "no exception";
  } catch (boost::system::system_error const& e) {
    EXPECT_EQ(boost::system::error_code(ENOTDIR, boost::system::system_category()), e.code());
    EXPECT_EQ(0u, std::string(e.what()).rfind("stat", 0)) << e.what();
  }
}

}  // namespace
