// List wrappers, the option tree, and the small value types.
#include <gtest/gtest.h>

#include <google/protobuf/stubs/logging.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/unknown_field_set.h>

#include <memory>
#include <string>
#include <vector>

#include "lexmap.pb.h"
#include "list.pb.h"
#include "network.pb.h"
#include "pair.pb.h"
#include "protocol.pb.h"
#include "scan_report.pb.h"
#include "socket.pb.h"
#include "url_category.pb.h"

namespace {

using google::protobuf::Message;

std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out.push_back(static_cast<char>(b));
  return out;
}

std::vector<int> items(const Message& list) {
  const auto* field = list.GetDescriptor()->FindFieldByNumber(1);
  std::vector<int> out;
  for (int i = 0; i < list.GetReflection()->FieldSize(list, field); ++i)
    out.push_back(list.GetReflection()->GetRepeatedEnumValue(list, field, i));
  return out;
}

std::vector<uint64_t> unknown_varints(const Message& list) {
  std::vector<uint64_t> out;
  const auto& unknown = list.GetReflection()->GetUnknownFields(list);
  for (int i = 0; i < unknown.field_count(); ++i) {
    EXPECT_EQ(unknown.field(i).number(), 1);
    out.push_back(unknown.field(i).varint());
  }
  return out;
}

// Every enum list, with a number that is no value of its enum.
struct enum_list_row_t {
  const char* name;
  const Message* prototype;
  int foreign;
};

const enum_list_row_t k_enum_lists[] = {
    {"ProtocolList", &qn::ProtocolList::default_instance(), 7},
    {"UrlCategoryList", &qn::UrlCategoryList::default_instance(), 18},
    {"VirusTypeList", &qn::VirusTypeList::default_instance(), 9},
};

TEST(SuiteEnumList, PackedInputKeepsValuesAndSetsAsideTheRest) {
  for (const auto& row : k_enum_lists) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<Message> list(row.prototype->New());
    ASSERT_TRUE(list->ParseFromString(bytes({0x0a, 0x03, 0x01, row.foreign, 0x02})));
    EXPECT_EQ(items(*list), (std::vector<int>{1, 2}));
    EXPECT_EQ(unknown_varints(*list), (std::vector<uint64_t>{static_cast<uint64_t>(row.foreign)}));
    // Written back unpacked; the set-aside number follows the list.
    EXPECT_EQ(list->SerializeAsString(), bytes({0x08, 0x01, 0x08, 0x02, 0x08, row.foreign}));
  }
}

TEST(SuiteEnumList, UnpackedInputKeepsValuesAndSetsAsideTheRest) {
  for (const auto& row : k_enum_lists) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<Message> list(row.prototype->New());
    ASSERT_TRUE(list->ParseFromString(bytes({0x08, 0x01, 0x08, row.foreign, 0x08, 0x02, 0x08, 0x00})));
    EXPECT_EQ(items(*list), (std::vector<int>{1, 2}));
    EXPECT_EQ(unknown_varints(*list), (std::vector<uint64_t>{static_cast<uint64_t>(row.foreign), 0}));
  }
}

TEST(SuiteEnumList, MixedPackedAndUnpackedRunsAppendInOrder) {
  for (const auto& row : k_enum_lists) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<Message> list(row.prototype->New());
    ASSERT_TRUE(list->ParseFromString(bytes({0x08, 0x03, 0x0a, 0x02, 0x01, 0x02, 0x08, 0x03})));
    EXPECT_EQ(items(*list), (std::vector<int>{3, 1, 2, 3}));
  }
}

TEST(SuiteEnumList, WrittenOneKeyPerElement) {
  qn::ProtocolList protocols;
  protocols.add_item(qn::SMTP);
  protocols.add_item(qn::FTP);
  EXPECT_EQ(protocols.SerializeAsString(), bytes({0x08, 0x01, 0x08, 0x05}));

  qn::UrlCategoryList categories;
  categories.add_item(qn::UC_BLACK_LIST);
  EXPECT_EQ(categories.SerializeAsString(), bytes({0x08, 0x14}));

  qn::VirusTypeList types;
  types.add_item(qn::SE_HACKTOOL);
  types.add_item(qn::SE_KNOWN_VIRUS);
  EXPECT_EQ(types.SerializeAsString(), bytes({0x08, 0x08, 0x08, 0x01}));
}

TEST(SuiteList, StringListsAndTheirWireFormat) {
  qn::StringList list;
  EXPECT_EQ(list.SerializeAsString(), "");
  list.add_item("a");
  list.add_item("");
  EXPECT_EQ(list.SerializeAsString(), bytes({0x0a, 0x01, 'a', 0x0a, 0x00}));

  qn::PathList paths;
  paths.add_path("/x");
  EXPECT_EQ(paths.SerializeAsString(), bytes({0x0a, 0x02, '/', 'x'}));
}

TEST(SuiteList, EmptyListIsZeroBytesYetPresentAsAField) {
  qn::IPList list;
  list.mutable_net_list();
  list.mutable_addr_list();
  EXPECT_TRUE(list.IsInitialized());
  EXPECT_EQ(list.net_list().SerializeAsString(), "");
  EXPECT_EQ(list.SerializeAsString(), bytes({0x0a, 0x00, 0x12, 0x00}));
  qn::IPList parsed;
  ASSERT_TRUE(parsed.ParseFromString(list.SerializeAsString()));
  EXPECT_TRUE(parsed.has_net_list());
  EXPECT_TRUE(parsed.has_addr_list());
}

TEST(SuiteList, ListsOfMessagesNeedEveryElementInitialised) {
  struct row_t {
    const char* what;
    bool (*build)(bool complete);
  };
  const row_t rows[] = {
      {"IPList without addr_list",
       [](bool complete) {
         qn::IPList l;
         l.mutable_net_list();
         if (complete) l.mutable_addr_list();
         return l.IsInitialized();
       }},
      {"IPNetwork without mask",
       [](bool complete) {
         qn::IPNetworkList l;
         auto* n = l.add_network();
         n->set_address("10.0.0.0");
         if (complete) n->set_mask(8);
         return l.IsInitialized();
       }},
      {"IPAddress without address",
       [](bool complete) {
         qn::IPAddressList l;
         auto* a = l.add_ip();
         if (complete) a->set_address("::1");
         return l.IsInitialized();
       }},
      {"IPSocket without port",
       [](bool complete) {
         qn::IPSocketList l;
         auto* s = l.add_ip();
         s->set_address("h");
         if (complete) s->set_port(1);
         return l.IsInitialized();
       }},
      {"AnySocket with an incomplete ip",
       [](bool complete) {
         qn::AnySocketList l;
         auto* s = l.add_socket()->mutable_ip();
         s->set_address("h");
         if (complete) s->set_port(1);
         return l.IsInitialized();
       }},
      {"Virus without name",
       [](bool complete) {
         qn::VirusList l;
         auto* v = l.add_item();
         v->set_type(qn::SE_ADWARE);
         if (complete) v->set_name("n");
         return l.IsInitialized();
       }},
      {"StringPair without second",
       [](bool complete) {
         qn::StringPairList l;
         auto* p = l.add_item();
         p->set_first("a");
         if (complete) p->set_second("b");
         return l.IsInitialized();
       }},
      {"DNSxL without value",
       [](bool complete) {
         qn::DNSxLList l;
         auto* d = l.add_item();
         d->set_zone("z");
         d->set_mask(1);
         if (complete) d->set_value(2);
         return l.IsInitialized();
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_FALSE(row.build(false));
    EXPECT_TRUE(row.build(true));
  }
  qn::ConnectionMatchList matches;
  matches.add_item();
  EXPECT_TRUE(matches.IsInitialized());
}

// ---------------------------------------------------------------------------
// Option tree

TEST(SuiteLexMap, SettingOneMemberOfDataDropsTheOther) {
  qn::LexOption option;
  option.set_key("k");
  EXPECT_EQ(option.data_case(), qn::LexOption::DATA_NOT_SET);
  option.mutable_value()->add_item("x");
  EXPECT_EQ(option.data_case(), qn::LexOption::kValue);
  option.mutable_map()->add_option()->set_key("inner");
  EXPECT_EQ(option.data_case(), qn::LexOption::kMap);
  EXPECT_FALSE(option.has_value());
  EXPECT_TRUE(option.has_map());
  EXPECT_EQ(option.value().item_size(), 0);

  option.mutable_value();
  EXPECT_FALSE(option.has_map());
  EXPECT_EQ(option.map().option_size(), 0);

  option.clear_data();
  EXPECT_EQ(option.data_case(), qn::LexOption::DATA_NOT_SET);
  EXPECT_EQ(option.SerializeAsString(), bytes({0x0a, 0x01, 'k'}));
}

TEST(SuiteLexMap, WireFormatAndOrder) {
  qn::LexMap map;
  qn::LexOption* first = map.add_option();
  first->set_key("b");
  first->mutable_value()->add_item("x");
  qn::LexOption* second = map.add_option();
  second->set_key("a");
  second->mutable_map();
  EXPECT_EQ(map.SerializeAsString(), bytes({0x0a, 0x08, 0x0a, 0x01, 'b', 0x12, 0x03, 0x0a, 0x01, 'x',
                                            0x0a, 0x05, 0x0a, 0x01, 'a', 0x1a, 0x00}));
  qn::LexMap back;
  ASSERT_TRUE(back.ParseFromString(map.SerializeAsString()));
  ASSERT_EQ(back.option_size(), 2);
  EXPECT_EQ(back.option(0).key(), "b");
  EXPECT_EQ(back.option(1).key(), "a");
  EXPECT_EQ(back.option(1).data_case(), qn::LexOption::kMap);
}

TEST(SuiteLexMap, LastMemberOnTheWireIsKept) {
  qn::LexOption option;
  ASSERT_TRUE(option.ParseFromString(bytes({0x0a, 0x01, 'k', 0x12, 0x03, 0x0a, 0x01, 'x', 0x1a, 0x00})));
  EXPECT_EQ(option.data_case(), qn::LexOption::kMap);
  ASSERT_TRUE(option.ParseFromString(bytes({0x0a, 0x01, 'k', 0x1a, 0x00, 0x12, 0x00})));
  EXPECT_EQ(option.data_case(), qn::LexOption::kValue);
}

TEST(SuiteLexMap, EveryOptionDownTheTreeNeedsAKey) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  qn::LexMap map;
  qn::LexOption* outer = map.add_option();
  outer->set_key("outer");
  outer->mutable_map()->add_option()->mutable_value()->add_item("x");
  EXPECT_FALSE(map.IsInitialized());
  qn::LexMap parsed;
  EXPECT_FALSE(parsed.ParseFromString(map.SerializePartialAsString()));
  outer->mutable_map()->mutable_option(0)->set_key("");
  EXPECT_TRUE(map.IsInitialized());
  EXPECT_TRUE(parsed.ParseFromString(map.SerializeAsString()));
}

// ---------------------------------------------------------------------------
// Endpoints

TEST(SuiteSocket, SettingLocalDropsIp) {
  qn::AnySocket socket;
  socket.mutable_ip()->set_address("h");
  socket.mutable_ip()->set_port(1);
  EXPECT_EQ(socket.type_case(), qn::AnySocket::kIp);
  EXPECT_EQ(socket.SerializeAsString(), bytes({0x12, 0x05, 0x0a, 0x01, 'h', 0x10, 0x01}));

  socket.set_local("/s");
  EXPECT_EQ(socket.type_case(), qn::AnySocket::kLocal);
  EXPECT_FALSE(socket.has_ip());
  EXPECT_EQ(socket.ip().address(), "");
  EXPECT_EQ(socket.ip().port(), 0u);
  EXPECT_EQ(socket.SerializeAsString(), bytes({0x0a, 0x02, '/', 's'}));

  socket.mutable_ip();
  EXPECT_FALSE(socket.has_local());
  EXPECT_EQ(socket.local(), "");

  socket.clear_type();
  EXPECT_EQ(socket.type_case(), qn::AnySocket::TYPE_NOT_SET);
  EXPECT_EQ(socket.SerializeAsString(), "");
}

TEST(SuiteSocket, InitialisedOnlyWithACompleteChosenAddress) {
  qn::AnySocket socket;
  EXPECT_TRUE(socket.IsInitialized());
  socket.mutable_ip()->set_address("h");
  EXPECT_FALSE(socket.IsInitialized());
  socket.set_local("/s");
  EXPECT_TRUE(socket.IsInitialized());

  qn::OptionalIPSocket optional;
  EXPECT_TRUE(optional.IsInitialized());
  optional.mutable_socket()->set_port(1);
  EXPECT_FALSE(optional.IsInitialized());
  optional.mutable_socket()->set_address("h");
  EXPECT_TRUE(optional.IsInitialized());

  qn::IPSocketAnyPort any_port;
  any_port.set_address("h");
  EXPECT_FALSE(any_port.IsInitialized());
  any_port.set_port(0);
  EXPECT_TRUE(any_port.IsInitialized());
  EXPECT_EQ(any_port.SerializeAsString(), bytes({0x0a, 0x01, 'h', 0x10, 0x00}));
  // A type of its own, though it shares the layout.
  EXPECT_NE(qn::IPSocketAnyPort::descriptor(), qn::IPSocket::descriptor());
}

TEST(SuiteSmallValues, NetworkAndPairWireFormat) {
  qn::IPNetwork network;
  network.set_address("10.0.0.0");
  network.set_mask(8);
  EXPECT_EQ(network.SerializeAsString(),
            bytes({0x0a, 0x08, '1', '0', '.', '0', '.', '0', '.', '0', 0x10, 0x08}));
  qn::StringPair pair;
  pair.set_second("b");
  EXPECT_FALSE(pair.IsInitialized());
  pair.set_first("a");
  EXPECT_EQ(pair.SerializeAsString(), bytes({0x0a, 0x01, 'a', 0x12, 0x01, 'b'}));
}

}  // namespace
