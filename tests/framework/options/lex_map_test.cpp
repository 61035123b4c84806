#include "framework/options/lex_map.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/log/cf_console_log.h"
#include "framework/log/cf_log.h"
#include "lexmap.pb.h"
#include "tests/framework/util/test_child.h"

namespace {

void add_list(qn::LexMap& m, std::string const& key, std::vector<std::string> const& items) {
  qn::LexOption* o = m.add_option();
  o->set_key(key);
  qn::LexValue* v = o->mutable_value();
  for (std::string const& i : items) v->add_item(i);
}

qn::LexMap* add_map(qn::LexMap& m, std::string const& key) {
  qn::LexOption* o = m.add_option();
  o->set_key(key);
  return o->mutable_map();
}

std::vector<std::string> list_of(lex_value_t const* v) {
  return v && v->list ? *v->list : std::vector<std::string>{"<no list>"};
}

TEST(lex_map_t, same_option_twice_under_other_spelling_merges_lists_in_order) {
  qn::LexMap m;
  add_list(m, "Scan_Paths", {"a", "b"});
  add_list(m, "other", {"z"});
  add_list(m, "SCANPATHS_", {"c"});
  lex_map_t tree(m);
  ASSERT_EQ(2u, tree.size());
  EXPECT_EQ("Scan_Paths", tree.entries[0].first);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), list_of(tree.find("scanpaths")));
  EXPECT_EQ((std::vector<std::string>{"z"}), list_of(tree.find("O_THER")));
  EXPECT_EQ(nullptr, tree.find("othe"));
}

TEST(lex_map_t, nested_maps_merge_and_empty_value_makes_empty_list) {
  qn::LexMap m;
  add_list(*add_map(m, "outer"), "inner", {"1"});
  add_list(*add_map(m, "Outer"), "INNER", {"2"});
  add_list(*add_map(m, "outer"), "second", {});
  m.add_option()->set_key("bare");
  lex_map_t tree(m);
  ASSERT_EQ(2u, tree.size());
  lex_value_t const* outer = tree.find("outer");
  ASSERT_TRUE(outer && outer->map);
  EXPECT_FALSE(outer->list);
  EXPECT_EQ((std::vector<std::string>{"1", "2"}), list_of(outer->map->find("inner")));
  lex_value_t const* second = outer->map->find("second");
  ASSERT_TRUE(second && second->list);
  EXPECT_TRUE(second->list->empty());
  lex_value_t const* bare = tree.find("bare");
  ASSERT_TRUE(bare);
  EXPECT_TRUE(bare->is_nil());
}

TEST(lex_map_t, value_from_single_option) {
  qn::LexOption o;
  o.set_key("k");
  EXPECT_TRUE(lex_value_t(o).is_nil());
  o.mutable_value()->add_item("x");
  lex_value_t list_value(o);
  EXPECT_EQ((std::vector<std::string>{"x"}), list_of(&list_value));
  EXPECT_FALSE(list_value.map);
  add_list(*o.mutable_map(), "n", {"y"});
  lex_value_t map_value(o);
  EXPECT_FALSE(map_value.list);
  ASSERT_TRUE(map_value.map);
  EXPECT_EQ((std::vector<std::string>{"y"}), list_of(map_value.map->find("N")));
}

TEST(lex_map_t, get_inserts_nil_once_and_erase_removes_every_match) {
  lex_map_t tree;
  lex_value_t& a = tree.get("my_key");
  EXPECT_TRUE(a.is_nil());
  a.make_list().push_back("v");
  EXPECT_EQ(&a, &tree.get("MYKEY"));
  EXPECT_EQ(1u, tree.size());

  tree.entries.emplace_back("My_Key_", lex_value_t());
  tree.get("other");
  EXPECT_EQ(3u, tree.size());
  EXPECT_EQ(2u, tree.erase("mykey"));
  ASSERT_EQ(1u, tree.size());
  EXPECT_EQ("other", tree.entries[0].first);
  EXPECT_EQ(0u, tree.erase("absent"));
}

lex_map_t sample() {
  lex_map_t t;
  t.get("a").make_list() = {"x", "y"};
  t.get("b").make_map().get("c").make_list() = {"z"};
  t.get("d");
  return t;
}

TEST(lex_map_t, equality) {
  EXPECT_TRUE(sample() == sample());
  EXPECT_TRUE(lex_map_t() == lex_map_t());

  lex_map_t renamed = sample();
  renamed.entries[0].first = "A_";
  EXPECT_TRUE(sample() == renamed);

  lex_map_t reordered = sample();
  std::swap(reordered.entries[0], reordered.entries[1]);
  EXPECT_FALSE(sample() == reordered);

  lex_map_t item_case = sample();
  (*item_case.get("a").list)[0] = "X";
  EXPECT_FALSE(sample() == item_case);

  lex_map_t item_order = sample();
  std::swap((*item_order.get("a").list)[0], (*item_order.get("a").list)[1]);
  EXPECT_FALSE(sample() == item_order);

  lex_map_t empty_list_vs_nil = sample();
  empty_list_vs_nil.get("d").make_list();
  EXPECT_FALSE(sample() == empty_list_vs_nil);

  lex_map_t empty_map_vs_nil = sample();
  empty_map_vs_nil.get("d").make_map();
  EXPECT_FALSE(sample() == empty_map_vs_nil);

  lex_map_t nested = sample();
  nested.get("b").map->get("c").list->push_back("w");
  EXPECT_FALSE(sample() == nested);

  lex_map_t extra = sample();
  extra.get("e");
  EXPECT_FALSE(sample() == extra);
  EXPECT_FALSE(extra == sample());

  lex_map_t both = sample();
  both.get("a").make_map();
  EXPECT_FALSE(sample() == both);
}

TEST(lex_map_t, copies_are_deep) {
  lex_map_t original = sample();
  lex_map_t copy = original;
  copy.get("b").map->get("c").list->push_back("w");
  EXPECT_TRUE(original == sample());
  EXPECT_FALSE(copy == sample());
}

TEST(lex_map_t, writes_message_list_before_map) {
  lex_map_t t = sample();
  t.get("both").make_list() = {"l"};
  t.get("both").make_map().get("m");
  qn::LexMap m;
  t.to_proto(m);
  ASSERT_EQ(4, m.option_size());
  EXPECT_EQ("a", m.option(0).key());
  EXPECT_EQ(2, m.option(0).value().item_size());
  EXPECT_EQ("y", m.option(0).value().item(1));
  EXPECT_TRUE(m.option(1).has_map());
  EXPECT_EQ("c", m.option(1).map().option(0).key());
  EXPECT_EQ("z", m.option(1).map().option(0).value().item(0));
  EXPECT_FALSE(m.option(2).has_value());
  EXPECT_FALSE(m.option(2).has_map());
  EXPECT_TRUE(m.option(3).has_value());
  EXPECT_FALSE(m.option(3).has_map());

  lex_map_t back(m);
  lex_map_t expected = sample();
  expected.get("both").make_list() = {"l"};
  EXPECT_TRUE(back == expected);
}

TEST(lex_map_t, written_empty_list_stays_a_list) {
  lex_map_t t;
  t.get("e").make_list();
  qn::LexMap m;
  t.to_proto(m);
  ASSERT_EQ(1, m.option_size());
  EXPECT_TRUE(m.option(0).has_value());
  EXPECT_TRUE(lex_map_t(m) == t);
}

std::string dump_in_child(lex_map_t const& t, int threshold, int level, std::string const& prefix) {
  return qn_test::run_in_child([&] {
           cf_log_threshold = threshold;
           cf_set_log(cf_make_console_log());
           t.dump(level, prefix);
         })
      .err;
}

TEST(lex_map_t, dump_lines) {
  lex_map_t t;
  t.get("a").make_list() = {"x", "y"};
  t.get("b").make_list();
  t.get("c");
  t.get("d").make_map().get("e").make_list() = {"1"};
  t.get("d").map->get("f").make_map().get("g");
  t.get("h").make_map();
  t.get("i").make_list() = {"l"};
  t.get("i").make_map().get("j").make_list() = {"m"};
  EXPECT_EQ(
      "Info: opt.a = \"x\"\n"
      "Info: opt.a = \"y\"\n"
      "Info: opt.b = <empty list>\n"
      "Info: opt.c = <nil>\n"
      "Info: opt.d.e = \"1\"\n"
      "Info: opt.d.f.g = <nil>\n"
      "Info: opt.h = <empty map>\n"
      "Info: opt.i = \"l\"\n"
      "Info: opt.i.j = \"m\"\n",
      dump_in_child(t, 0, 1, "opt."));
  EXPECT_EQ(
      "Warning: a = \"x\"\n"
      "Warning: a = \"y\"\n"
      "Warning: b.c = \"z\"\n"
      "Warning: d = <nil>\n",
      dump_in_child(sample(), 3, 3, ""));
}

TEST(lex_map_t, dump_of_empty_map_and_threshold) {
  EXPECT_EQ("Info: opt.<empty map>\n", dump_in_child(lex_map_t(), 0, 1, "opt."));
  EXPECT_EQ("Info: <empty map>\n", dump_in_child(lex_map_t(), 1, 1, ""));
  EXPECT_EQ("", dump_in_child(sample(), 2, 1, ""));
  EXPECT_EQ("", dump_in_child(lex_map_t(), 2, 1, ""));
}

}  // namespace
