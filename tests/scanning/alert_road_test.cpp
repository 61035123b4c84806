// Alert files end to end: the real daemon and the file-checker stand-in, which answers late so
// that the file can be replaced between the module's question and the answer.

#include <cstdio>

#include "tests/support/daemon_rig.h"

namespace {

TEST(alert_road, none_beside_a_file_replaced_after_the_question) {
  rig_t rig("action_delay: 60000 share { item { tag: 'p' alert_files: true on_known_virus: SMB_BLOCK } }",
            "--scan-delay 300");
  std::string const file = rig.root + "/p/swap.com", other = rig.root + "/p/new.com", alert = file + ".quarn.alert.txt";
  ASSERT_EQ(0, ::mkdir((rig.root + "/p").c_str(), 0700));
  for (std::string const& path : {file, other})
    ASSERT_EQ(0, run_program({QN_BIN_DIR "/fcheck-stub", "--make-test-file", path}, {}).status);
  module_t& m = rig.add("p");
  m.event(msg_t::OP_OPEN, "/p/swap.com", ++m.serial);
  ASSERT_EQ(0, ::rename(other.c_str(), file.c_str()));
  std::string const warning = "Warning: Failed to create \"" + alert + "\": the file is not the one asked about\n";
  rig.pump([&] { return rig.log().find(warning) != std::string::npos; });
  EXPECT_NE(0, ::access(alert.c_str(), F_OK));
}

}  // namespace
