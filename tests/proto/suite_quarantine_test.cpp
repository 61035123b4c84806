// Quarantine entries and the default of a threat operation.
#include <gtest/gtest.h>

#include <google/protobuf/stubs/logging.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/unknown_field_set.h>

#include <memory>
#include <string>

#include "action.pb.h"
#include "application.pb.h"
#include "error.pb.h"
#include "quarantine.pb.h"

namespace {

using google::protobuf::DescriptorPool;
using google::protobuf::DynamicMessageFactory;
using google::protobuf::FieldDescriptor;
using google::protobuf::FileDescriptorProto;
using google::protobuf::Message;

std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out.push_back(static_cast<char>(b));
  return out;
}

qn::QEntry full_entry() {
  qn::QEntry entry;
  entry.set_entry_id("e");
  entry.set_restore_path("/r");
  entry.set_creation_time(1);
  entry.mutable_report()->set_object("o");
  entry.mutable_stat()->set_dev(2);
  entry.mutable_stat()->set_ino(3);
  qn::QEntryOperation* op = entry.add_history();
  op->set_action(qn::QENTRY_ACTION_RESCAN);
  op->set_action_time(4);
  op->set_result(qn::EC_OK);
  op->mutable_rescan_report()->set_object("o");
  entry.mutable_who()->set_user("u");
  entry.set_origin(qn::APP_SMB_GARDIX);
  return entry;
}

TEST(SuiteQuarantine, ImplicitDefaults) {
  qn::QEntryOperation op;
  EXPECT_EQ(op.action(), qn::QENTRY_ACTION_DELETE);
  EXPECT_EQ(op.result(), qn::EC_OK);
  qn::QEntry entry;
  EXPECT_EQ(entry.origin(), qn::APP_CONFIGD);
  EXPECT_FALSE(entry.has_origin());
  EXPECT_EQ(entry.detection_time(), 0u);
}

TEST(SuiteQuarantine, CompleteEntryRoundTrips) {
  const qn::QEntry entry = full_entry();
  ASSERT_TRUE(entry.IsInitialized());
  qn::QEntry back;
  ASSERT_TRUE(back.ParseFromString(entry.SerializeAsString()));
  EXPECT_EQ(back.origin(), qn::APP_SMB_GARDIX);
  EXPECT_EQ(back.history(0).action(), qn::QENTRY_ACTION_RESCAN);
  EXPECT_EQ(back.who().user(), "u");
}

TEST(SuiteQuarantine, IncompleteEntryFailsAsAWhole) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  const struct {
    const char* what;
    void (*spoil)(qn::QEntry*);
  } rows[] = {
      {"no entry_id", [](qn::QEntry* e) { e->clear_entry_id(); }},
      {"no restore_path", [](qn::QEntry* e) { e->clear_restore_path(); }},
      {"no creation_time", [](qn::QEntry* e) { e->clear_creation_time(); }},
      {"no report", [](qn::QEntry* e) { e->clear_report(); }},
      {"no stat", [](qn::QEntry* e) { e->clear_stat(); }},
      {"report without object", [](qn::QEntry* e) { e->mutable_report()->clear_object(); }},
      {"stat without ino", [](qn::QEntry* e) { e->mutable_stat()->clear_ino(); }},
      {"history without action", [](qn::QEntry* e) { e->mutable_history(0)->clear_action(); }},
      {"history without action_time", [](qn::QEntry* e) { e->mutable_history(0)->clear_action_time(); }},
      {"history without result", [](qn::QEntry* e) { e->mutable_history(0)->clear_result(); }},
      {"rescan report without object",
       [](qn::QEntry* e) { e->mutable_history(0)->mutable_rescan_report()->clear_object(); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    qn::QEntry entry = full_entry();
    row.spoil(&entry);
    EXPECT_FALSE(entry.IsInitialized());
    qn::QEntry parsed;
    EXPECT_FALSE(parsed.ParseFromString(entry.SerializePartialAsString()));
  }
}

TEST(SuiteQuarantine, OptionalPartsMayBeLeftOut) {
  qn::QEntry entry = full_entry();
  entry.clear_history();
  entry.clear_who();
  entry.clear_origin();
  entry.clear_chunk_id();
  EXPECT_TRUE(entry.IsInitialized());
}

TEST(SuiteQuarantine, UnknownNumbersInEnumFields) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  // An unknown result fails the operation; an unknown origin only goes aside.
  qn::QEntryOperation op;
  EXPECT_FALSE(op.ParseFromString(bytes({0x08, 0x01, 0x10, 0x04, 0x18, 0x0e})));
  EXPECT_FALSE(op.ParseFromString(bytes({0x08, 0x05, 0x10, 0x04, 0x18, 0x00})));
  ASSERT_TRUE(op.ParseFromString(bytes({0x08, 0x04, 0x10, 0x04, 0x18, 0x00})));
  EXPECT_EQ(op.action(), qn::QENTRY_ACTION_CURE);

  qn::QEntry entry = full_entry();
  entry.clear_origin();
  std::string wire = entry.SerializeAsString() + bytes({0x58, 0x0b});
  qn::QEntry parsed;
  ASSERT_TRUE(parsed.ParseFromString(wire));
  EXPECT_FALSE(parsed.has_origin());
  EXPECT_EQ(parsed.origin(), qn::APP_CONFIGD);
  ASSERT_EQ(parsed.unknown_fields().field_count(), 1);
  EXPECT_EQ(parsed.unknown_fields().field(0).number(), 11);
}

// A field of type qn.ThreatOp, declared in a pool of the test's own on top
// of the generated one, shows how every such field behaves.
class SuiteThreatOpField : public ::testing::Test {
 protected:
  void SetUp() override {
    FileDescriptorProto file;
    file.set_name("threat_op_probe.proto");
    file.set_package("probe");
    file.set_syntax("proto2");
    file.add_dependency("action.proto");
    auto* message = file.add_message_type();
    message->set_name("Probe");
    auto* field = message->add_field();
    field->set_name("op");
    field->set_number(1);
    field->set_label(google::protobuf::FieldDescriptorProto::LABEL_OPTIONAL);
    field->set_type(google::protobuf::FieldDescriptorProto::TYPE_ENUM);
    field->set_type_name(".qn.ThreatOp");
    auto* required = message->add_field();
    required->CopyFrom(*field);
    required->set_name("required_op");
    required->set_number(2);
    required->set_label(google::protobuf::FieldDescriptorProto::LABEL_REQUIRED);
    ASSERT_NE(pool_.BuildFile(file), nullptr);
    descriptor_ = pool_.FindMessageTypeByName("probe.Probe");
    ASSERT_NE(descriptor_, nullptr);
    prototype_ = factory_.GetPrototype(descriptor_);
  }

  DescriptorPool pool_{DescriptorPool::generated_pool()};
  DynamicMessageFactory factory_;
  const google::protobuf::Descriptor* descriptor_ = nullptr;
  const Message* prototype_ = nullptr;
};

TEST_F(SuiteThreatOpField, DefaultIsTheFirstDeclaredValueCure) {
  const FieldDescriptor* op = descriptor_->FindFieldByName("op");
  EXPECT_EQ(op->enum_type(), qn::ThreatOp_descriptor());
  EXPECT_EQ(op->default_value_enum()->number(), qn::THREAT_OP_CURE);
  std::unique_ptr<Message> probe(prototype_->New());
  EXPECT_EQ(probe->GetReflection()->GetEnumValue(*probe, op), 1);
}

TEST_F(SuiteThreatOpField, NumberOutsideOneToSevenLeavesTheFieldUnset) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  const FieldDescriptor* op = descriptor_->FindFieldByName("op");
  for (int number : {0, 8, 100}) {
    SCOPED_TRACE(number);
    std::unique_ptr<Message> probe(prototype_->New());
    ASSERT_TRUE(probe->ParsePartialFromString(bytes({0x08, number})));
    EXPECT_FALSE(probe->GetReflection()->HasField(*probe, op));
    EXPECT_EQ(probe->GetReflection()->GetEnumValue(*probe, op), qn::THREAT_OP_CURE);
    EXPECT_EQ(probe->GetReflection()->GetUnknownFields(*probe).field_count(), 1);
    // A required field of this type is then missing.
    EXPECT_FALSE(probe->ParseFromString(bytes({0x10, number})));
  }
  for (int number = 1; number <= 7; ++number) {
    std::unique_ptr<Message> probe(prototype_->New());
    ASSERT_TRUE(probe->ParseFromString(bytes({0x08, number, 0x10, number})));
    EXPECT_EQ(probe->GetReflection()->GetEnumValue(*probe, op), number);
  }
}

}  // namespace
