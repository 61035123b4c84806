#include "framework/util/cf_file_id.h"

#include <cstdio>
#include <string>

#include <sys/stat.h>

#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

#include "tests/framework/util/test_child.h"

namespace {

TEST(cf_file_id_t, built_from_stat_and_cleared) {
  qn_test::sandbox_t box;
  std::string path = box.write("f", "x");
  struct stat st;
  ASSERT_EQ(0, ::stat(path.c_str(), &st));
  cf_file_id_t id(st);
  EXPECT_EQ(static_cast<std::uint64_t>(st.st_dev), id.st_dev);
  EXPECT_EQ(static_cast<std::uint64_t>(st.st_ino), id.st_ino);
  EXPECT_EQ(st.st_ctime, id.st_ctime);
  EXPECT_TRUE(id == st);
  EXPECT_FALSE(id != st);

  id.clear();
  EXPECT_EQ(0u, id.st_dev);
  EXPECT_EQ(0u, id.st_ino);
  EXPECT_EQ(0, id.st_ctime);
  EXPECT_TRUE(id == cf_file_id_t());
}

TEST(cf_file_id_t, any_member_makes_a_difference) {
  struct stat st = {};
  st.st_dev = 1;
  st.st_ino = 2;
  st.st_ctim.tv_sec = 3;
  st.st_ctim.tv_nsec = 999;  // below a second: no part of the identity
  cf_file_id_t const base(st);
  for (int member = 0; member < 3; ++member) {
    struct stat other = st;
    if (member == 0) other.st_dev = 9;
    if (member == 1) other.st_ino = 9;
    if (member == 2) other.st_ctim.tv_sec = 9;
    EXPECT_TRUE(base != other) << member;
    EXPECT_TRUE(base != cf_file_id_t(other)) << member;
  }
  struct stat same = st;
  same.st_ctim.tv_nsec = 0;
  same.st_size = 12345;
  EXPECT_TRUE(base == same);
}

TEST(cf_file_id_t, changed_by_replacement_and_removal) {
  qn_test::sandbox_t box;
  std::string path = box.write("f", "x");
  struct stat st;
  ASSERT_EQ(0, ::stat(path.c_str(), &st));
  cf_file_id_t id(st);
  EXPECT_FALSE(id.changed(path));

  // Another file renamed over it keeps a different inode.
  std::string other = box.write("g", "x");
  ASSERT_EQ(0, std::rename(other.c_str(), path.c_str()));
  EXPECT_TRUE(id.changed(path));

  ASSERT_EQ(0, std::remove(path.c_str()));
  EXPECT_TRUE(id.changed(path));
}

TEST(cf_file_id_t, stat_failure_other_than_missing_throws) {
  qn_test::sandbox_t box;
  std::string file = box.write("f", "x");
  cf_file_id_t id;
  try {
    id.changed(file + "/below");
    ADD_FAILURE() << "no exception";
  } catch (boost::system::system_error const& e) {
    EXPECT_EQ(boost::system::error_code(ENOTDIR, boost::system::system_category()), e.code());
    EXPECT_EQ(0, std::string(e.what()).rfind("stat", 0)) << e.what();
  }
}

}  // namespace
