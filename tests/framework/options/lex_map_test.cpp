#include "framework/options/lex_map.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/log/cf_console_log.h"
#include "framework/log/cf_log.h"
#include "lexmap.pb.h"
#include "tests/framework/util/test_child.h"

namespace {

using list_t = std::vector<std::string>;

void add_list(qn::LexMap& m, std::string const& key, list_t const& items) {
  qn::LexOption* o = m.add_option();
  o->set_key(key);
  for (std::string const& i : items) o->mutable_value()->add_item(i);
  if (items.empty()) o->mutable_value();
}

qn::LexMap* add_map(qn::LexMap& m, std::string const& key) {
  qn::LexOption* o = m.add_option();
  o->set_key(key);
  return o->mutable_map();
}

list_t list_of(lex_value_t const* v) { return v && v->list ? *v->list : list_t{"<no list>"}; }

TEST(lex_map_t, built_from_a_message_merging_options_under_other_spellings) {
  qn::LexMap m;
  add_list(m, "Scan_Paths", {"a", "b"});
  add_list(*add_map(m, "outer"), "inner", {"1"});
  add_list(m, "SCANPATHS_", {"c"});
  add_list(*add_map(m, "Outer"), "INNER", {"2"});
  add_list(*add_map(m, "outer"), "second", {});
  m.add_option()->set_key("bare");
  lex_map_t const tree(m);
  ASSERT_EQ(3u, tree.size());
  EXPECT_EQ("Scan_Paths", tree.entries[0].first);
  EXPECT_EQ((list_t{"a", "b", "c"}), list_of(tree.find("scanpaths")));
  EXPECT_EQ(nullptr, tree.find("scanpath"));
  lex_value_t const* outer = tree.find("OUTER");
  ASSERT_TRUE(outer && outer->map);
  EXPECT_FALSE(outer->list);
  EXPECT_EQ((list_t{"1", "2"}), list_of(outer->map->find("inner")));
  EXPECT_EQ(list_t{}, list_of(outer->map->find("second")));
  ASSERT_TRUE(tree.find("bare"));
  EXPECT_TRUE(tree.find("bare")->is_nil());
}

TEST(lex_map_t, get_inserts_nil_once_and_erase_removes_every_match) {
  lex_map_t tree;
  lex_value_t& a = tree.get("my_key");
  EXPECT_TRUE(a.is_nil());
  a.make_list().push_back("v");
  EXPECT_EQ(&a, &tree.get("MYKEY"));
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

TEST(lex_map_t, equality_and_deep_copies) {
  EXPECT_TRUE(sample() == sample());
  lex_map_t renamed = sample();
  renamed.entries[0].first = "A_";
  EXPECT_TRUE(sample() == renamed);

  for (std::function<void(lex_map_t&)> const& change : std::vector<std::function<void(lex_map_t&)>>{
           [](lex_map_t& t) { std::swap(t.entries[0], t.entries[1]); },
           [](lex_map_t& t) { (*t.get("a").list)[0] = "X"; },
           [](lex_map_t& t) { std::swap((*t.get("a").list)[0], (*t.get("a").list)[1]); },
           [](lex_map_t& t) { t.get("d").make_list(); }, [](lex_map_t& t) { t.get("d").make_map(); },
           [](lex_map_t& t) { t.get("a").make_map(); }, [](lex_map_t& t) { t.get("e"); }}) {
    lex_map_t changed = sample();
    change(changed);
    EXPECT_FALSE(sample() == changed);
    EXPECT_FALSE(changed == sample());
  }

  lex_map_t const original = sample();
  lex_map_t copy = original;
  copy.get("b").map->get("c").list->push_back("w");
  EXPECT_TRUE(original == sample());
  EXPECT_FALSE(copy == original);
}

TEST(lex_map_t, written_message_has_the_list_before_the_map_and_reads_back) {
  lex_map_t t = sample();
  t.get("both").make_list() = {"l"};
  t.get("both").make_map().get("m");
  t.get("empty").make_list();
  qn::LexMap m;
  t.to_proto(m);
  ASSERT_EQ(5, m.option_size());
  EXPECT_EQ("both", m.option(3).key());
  EXPECT_TRUE(m.option(3).has_value());
  EXPECT_FALSE(m.option(3).has_map());
  EXPECT_TRUE(m.option(4).has_value());

  lex_map_t expected = sample();
  expected.get("both").make_list() = {"l"};
  expected.get("empty").make_list();
  EXPECT_TRUE(lex_map_t(m) == expected);
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
      "Info: opt.a = \"x\"\nInfo: opt.a = \"y\"\nInfo: opt.b = <empty list>\nInfo: opt.c = <nil>\n"
      "Info: opt.d.e = \"1\"\nInfo: opt.d.f.g = <nil>\nInfo: opt.h = <empty map>\nInfo: opt.i = \"l\"\n"
      "Info: opt.i.j = \"m\"\n",
      dump_in_child(t, 0, 1, "opt."));
  EXPECT_EQ("Warning: a = \"x\"\nWarning: a = \"y\"\nWarning: b.c = \"z\"\nWarning: d = <nil>\n",
            dump_in_child(sample(), 3, 3, ""));
  EXPECT_EQ("Info: opt.<empty map>\n", dump_in_child(lex_map_t(), 1, 1, "opt."));
  EXPECT_EQ("", dump_in_child(sample(), 2, 1, ""));
}

}  // namespace
