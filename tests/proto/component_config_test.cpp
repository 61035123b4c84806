// Settings schema: field numbers, defaults, hints, enum texts, required tag.
#include <gtest/gtest.h>

#include <google/protobuf/descriptor.pb.h>

#include <string>
#include <vector>

#include "tests/proto/component_test_helpers.h"

#include "annotation.pb.h"
#include "application.pb.h"
#include "list.pb.h"
#include "log.pb.h"
#include "smb_gardix_config.pb.h"

namespace {

using namespace component_test;
using google::protobuf::Message;
using google::protobuf::Reflection;

struct setting_row_t {
    int number;
    const char* name;
    FieldDescriptor::Type type;
    const char* type_name;  // full name of the message or enum type, "" for scalars
    qn::LexHint hint;
    int enum_default;       // implicit default of an enum field
};

// The nineteen settings that a share entry can override.
const std::vector<setting_row_t> k_share_settings = {
    {100, "excluded_path", T_MSG, "qn.StringList", qn::HINT_NONE, 0},
    {101, "included_path", T_MSG, "qn.StringList", qn::HINT_NONE, 0},
    {102, "alert_files", T_BOOL, "", qn::HINT_NONE, 0},
    {200, "on_known_virus", T_ENUM, "qn.SMBThreatAction", qn::HINT_NONE, 1},
    {201, "on_incurable", T_ENUM, "qn.SMBThreatAction", qn::HINT_NONE, 1},
    {202, "on_suspicious", T_ENUM, "qn.SMBThreatAction", qn::HINT_NONE, 1},
    {203, "on_adware", T_ENUM, "qn.SMBThreatAction", qn::HINT_NONE, 1},
    {204, "on_dialers", T_ENUM, "qn.SMBThreatAction", qn::HINT_NONE, 1},
    {205, "on_jokes", T_ENUM, "qn.SMBThreatAction", qn::HINT_NONE, 1},
    {206, "on_riskware", T_ENUM, "qn.SMBThreatAction", qn::HINT_NONE, 1},
    {207, "on_hacktools", T_ENUM, "qn.SMBThreatAction", qn::HINT_NONE, 1},
    {220, "block_on_error", T_BOOL, "", qn::HINT_NONE, 0},
    {300, "scan_timeout", T_U32, "", qn::HINT_TIME, 0},
    {301, "heuristic_analysis", T_BOOL, "", qn::HINT_ONOFF, 0},
    {302, "packer_max_level", T_U32, "", qn::HINT_NONE, 0},
    {303, "archive_max_level", T_U32, "", qn::HINT_NONE, 0},
    {304, "mail_max_level", T_U32, "", qn::HINT_NONE, 0},
    {305, "container_max_level", T_U32, "", qn::HINT_NONE, 0},
    {306, "max_compression_ratio", T_U32, "", qn::HINT_NONE, 0},
};

const std::vector<setting_row_t> k_global_only_settings = {
    {1, "log_level", T_ENUM, "qn.LogLevel", qn::HINT_NONE, 1},
    {2, "log", T_MSG, "qn.Log", qn::HINT_NONE, 0},
    {3, "exe_path", T_STR, "", qn::HINT_ABSPATH, 0},
    {4, "start", T_BOOL, "", qn::HINT_NONE, 0},
    {400, "share", T_MSG, "qn.SMBShareConfigs", qn::HINT_MAPS, 0},
    {500, "smb_socket_path", T_STR, "", qn::HINT_NONE, 0},
    {501, "samba_chroot_dir", T_STR, "", qn::HINT_NONE, 0},
    {510, "action_delay", T_U32, "", qn::HINT_TIME, 0},
    {511, "max_cache_size", T_U32, "", qn::HINT_SIZE, 0},
    {1000, "actual_log", T_MSG, "qn.Log", qn::HINT_NONE, 0},
};

// Checks one optional setting of a fresh message: declaration, hint and the
// value it reads while unset.
void expect_setting(const Message& fresh, const setting_row_t& row)
{
    SCOPED_TRACE(std::string(fresh.GetDescriptor()->name()) + "." + row.name);
    const Descriptor* d = fresh.GetDescriptor();
    const FieldDescriptor* f = d->FindFieldByName(row.name);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->number(), row.number);
    EXPECT_EQ(f->label(), FieldDescriptor::LABEL_OPTIONAL);
    EXPECT_EQ(f->type(), row.type);
    EXPECT_EQ(type_name_of(f), row.type_name);
    EXPECT_FALSE(f->has_default_value()) << "no setting declares a default";
    EXPECT_EQ(f->options().GetExtension(qn::hint), row.hint);
    EXPECT_EQ(f->options().HasExtension(qn::hint), row.hint != qn::HINT_NONE);

    const Reflection* r = fresh.GetReflection();
    EXPECT_FALSE(r->HasField(fresh, f));
    switch (f->cpp_type()) {
    case FieldDescriptor::CPPTYPE_BOOL:
        EXPECT_FALSE(r->GetBool(fresh, f));
        break;
    case FieldDescriptor::CPPTYPE_UINT32:
        EXPECT_EQ(r->GetUInt32(fresh, f), 0u);
        break;
    case FieldDescriptor::CPPTYPE_STRING:
        EXPECT_EQ(r->GetString(fresh, f), "");
        break;
    case FieldDescriptor::CPPTYPE_ENUM:
        EXPECT_EQ(r->GetEnumValue(fresh, f), row.enum_default);
        EXPECT_EQ(f->default_value_enum()->number(), row.enum_default);
        break;
    case FieldDescriptor::CPPTYPE_MESSAGE:
        EXPECT_EQ(r->GetMessage(fresh, f).ByteSizeLong(), 0u);
        break;
    default:
        ADD_FAILURE() << "unexpected field type";
    }
}

TEST(ComponentConfigSchema, FileDeclarationAndImports)
{
    const auto* file = qn::SMBGardixConfig::descriptor()->file();
    EXPECT_EQ(file->name(), "smb_gardix_config.proto");
    EXPECT_EQ(file->package(), "qn");
    EXPECT_EQ(file->syntax(), google::protobuf::FileDescriptor::SYNTAX_PROTO2);
    EXPECT_EQ(imports_of(qn::SMBGardixConfig::descriptor()), (std::vector<std::string>{"annotation.proto", "application.proto", "list.proto",
                                               "log.proto"}));
}

TEST(ComponentConfigSchema, ShareEntryDeclaresEverySettingWithImplicitDefault)
{
    const qn::SMBShareConfig fresh;
    for (const auto& row : k_share_settings)
        expect_setting(fresh, row);
    EXPECT_EQ(fresh.GetDescriptor()->field_count(), static_cast<int>(k_share_settings.size()) + 1);
}

TEST(ComponentConfigSchema, ShareTagIsTheOnlyRequiredField)
{
    const FieldDescriptor* tag = qn::SMBShareConfig::descriptor()->FindFieldByName("tag");
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->number(), 1000);
    EXPECT_EQ(tag->label(), FieldDescriptor::LABEL_REQUIRED);
    EXPECT_EQ(tag->type(), FieldDescriptor::TYPE_STRING);
    EXPECT_EQ(tag->options().GetExtension(qn::hint), qn::HINT_MAP_TAG);

    for (const Descriptor* d : {qn::SMBShareConfig::descriptor(), qn::SMBGardixConfig::descriptor(),
                                qn::SMBShareConfigs::descriptor()}) {
        for (int i = 0; i < d->field_count(); ++i) {
            const FieldDescriptor* f = d->field(i);
            EXPECT_EQ(f->is_required(), f == tag) << f->full_name();
        }
    }
}

TEST(ComponentConfigSchema, GlobalSettingsDeclareEveryFieldWithImplicitDefault)
{
    const qn::SMBGardixConfig fresh;
    for (const auto& row : k_share_settings)
        expect_setting(fresh, row);
    for (const auto& row : k_global_only_settings)
        expect_setting(fresh, row);
    EXPECT_EQ(fresh.GetDescriptor()->field_count(),
              static_cast<int>(k_share_settings.size() + k_global_only_settings.size()));
}

TEST(ComponentConfigSchema, ShareListIsOneRepeatedField)
{
    const Descriptor* d = qn::SMBShareConfigs::descriptor();
    ASSERT_EQ(d->field_count(), 1);
    const FieldDescriptor* item = d->field(0);
    EXPECT_EQ(item->name(), "item");
    EXPECT_EQ(item->number(), 1);
    EXPECT_TRUE(item->is_repeated());
    EXPECT_EQ(item->message_type(), qn::SMBShareConfig::descriptor());
}

TEST(ComponentConfigSchema, MessageOptionsOnlyOnGlobalSettings)
{
    const auto& opts = qn::SMBGardixConfig::descriptor()->options();
    ASSERT_TRUE(opts.HasExtension(qn::app));
    EXPECT_EQ(opts.GetExtension(qn::app), 40);
    EXPECT_EQ(opts.GetExtension(qn::app), qn::APP_SMB_GARDIX);
    ASSERT_TRUE(opts.HasExtension(qn::ini_section));
    EXPECT_EQ(opts.GetExtension(qn::ini_section), "SMBGardix");

    for (const Descriptor* d : {qn::SMBShareConfig::descriptor(), qn::SMBShareConfigs::descriptor()}) {
        EXPECT_FALSE(d->options().HasExtension(qn::app)) << d->name();
        EXPECT_FALSE(d->options().HasExtension(qn::ini_section)) << d->name();
    }
}

struct action_row_t {
    const char* name;
    int number;
    const char* lex;
};

TEST(ComponentConfigSchema, ThreatActionValuesInDeclaredOrder)
{
    const std::vector<action_row_t> rows = {
        {"SMB_PASS", 1, "Pass"},           {"SMB_BLOCK", 2, "Block"},   {"SMB_CURE", 3, "Cure"},
        {"SMB_QUARANTINE", 4, "Quarantine"}, {"SMB_DELETE", 5, "Delete"}, {"SMB_REPORT", 6, "Report"},
    };
    const auto* e = qn::SMBThreatAction_descriptor();
    EXPECT_EQ(e->full_name(), "qn.SMBThreatAction");
    ASSERT_EQ(e->value_count(), static_cast<int>(rows.size()));
    for (int i = 0; i < e->value_count(); ++i) {
        SCOPED_TRACE(rows[i].name);
        const auto* v = e->value(i);
        EXPECT_EQ(v->name(), rows[i].name);
        EXPECT_EQ(v->number(), rows[i].number);
        ASSERT_TRUE(v->options().HasExtension(qn::lex));
        EXPECT_EQ(v->options().GetExtension(qn::lex), rows[i].lex);
    }
    EXPECT_EQ(qn::SMB_PASS, 1);
    EXPECT_EQ(qn::SMB_REPORT, 6);
    EXPECT_FALSE(qn::SMBThreatAction_IsValid(0));
    EXPECT_FALSE(qn::SMBThreatAction_IsValid(7));
}

TEST(ComponentConfigSchema, ActionNumberOutsideEnumIsLeftUnset)
{
    qn::SMBShareConfig entry;
    // tag "s", then on_incurable (201) = 9 and on_adware (203) = 2
    const std::string bytes = wire({0xC8, 0x0C, 0x09, 0xD8, 0x0C, 0x02, 0xC2, 0x3E, 0x01, 's'});
    ASSERT_TRUE(entry.ParseFromString(bytes));
    EXPECT_FALSE(entry.has_on_incurable());
    EXPECT_EQ(entry.on_incurable(), qn::SMB_PASS);
    EXPECT_TRUE(entry.has_on_adware());
    EXPECT_EQ(entry.on_adware(), qn::SMB_BLOCK);

    expect_single_unknown_varint(entry, 201, 9);
}

TEST(ComponentConfigSchema, LogLevelOutsideEnumIsLeftUnset)
{
    qn::SMBGardixConfig config;
    ASSERT_TRUE(config.ParseFromString(wire({0x08, 0x06})));
    EXPECT_FALSE(config.has_log_level());
    EXPECT_EQ(config.log_level(), qn::LOG_LEVEL_DEBUG);
    ASSERT_TRUE(config.ParseFromString(wire({0x08, 0x05})));
    EXPECT_EQ(config.log_level(), qn::LOG_LEVEL_ERROR);
}

TEST(ComponentConfigSchema, ShareEntryWireFormat)
{
    qn::SMBShareConfig entry;
    entry.set_tag("a");
    entry.set_on_known_virus(qn::SMB_BLOCK);
    entry.set_scan_timeout(300);
    entry.mutable_excluded_path()->add_item("x");
    // 100 (LEN), 200 (varint), 300 (varint), 1000 (LEN), in number order
    EXPECT_EQ(hex(entry.SerializeAsString()),
              hex(wire({0xA2, 0x06, 0x03, 0x0A, 0x01, 'x', 0xC0, 0x0C, 0x02, 0xE0, 0x12, 0xAC, 0x02,
                        0xC2, 0x3E, 0x01, 'a'})));
}

TEST(ComponentConfigSchema, GlobalSettingsWireFormat)
{
    qn::SMBGardixConfig config;
    config.set_log_level(qn::LOG_LEVEL_NOTICE);
    config.set_action_delay(1000);
    config.set_max_cache_size(0);
    config.mutable_share()->add_item()->set_tag("S");
    EXPECT_EQ(hex(config.SerializeAsString()),
              hex(wire({0x08, 0x03,                                     // log_level
                        0x82, 0x19, 0x06, 0x0A, 0x04, 0xC2, 0x3E, 0x01, 'S', // share
                        0xF0, 0x1F, 0xE8, 0x07,                         // action_delay
                        0xF8, 0x1F, 0x00})));                           // max_cache_size
}

TEST(ComponentConfigSchema, ShareEntryWithoutTagFailsTheWholeSettings)
{
    qn::SMBGardixConfig config;
    config.mutable_share()->add_item()->set_tag("ok");
    EXPECT_TRUE(config.IsInitialized());
    config.mutable_share()->add_item()->set_alert_files(true);
    EXPECT_FALSE(config.IsInitialized());
    EXPECT_EQ(config.InitializationErrorString(), "share.item[1].tag");

    const std::string bytes = config.SerializePartialAsString();
    qn::SMBGardixConfig parsed;
    EXPECT_FALSE(parsed.ParseFromString(bytes));
    EXPECT_TRUE(parsed.ParsePartialFromString(bytes));
    EXPECT_EQ(parsed.share().item_size(), 2);
}

TEST(ComponentConfigSchema, EmptyTagCountsAsPresent)
{
    qn::SMBShareConfig entry;
    entry.set_tag("");
    EXPECT_TRUE(entry.IsInitialized());
    EXPECT_EQ(hex(entry.SerializeAsString()), hex(wire({0xC2, 0x3E, 0x00})));
}

TEST(ComponentConfigSchema, AppConfigExtensionAtForty)
{
    const FieldDescriptor* ext =
        google::protobuf::DescriptorPool::generated_pool()->FindExtensionByName("qn.smb_gardix_config");
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(ext->full_name(), "qn.smb_gardix_config");
    EXPECT_TRUE(ext->is_extension());
    EXPECT_EQ(ext->number(), 40);
    EXPECT_EQ(ext->number(), qn::APP_SMB_GARDIX);
    EXPECT_EQ(ext->label(), FieldDescriptor::LABEL_OPTIONAL);
    EXPECT_EQ(ext->containing_type(), qn::AppConfig::descriptor());
    EXPECT_EQ(ext->message_type(), qn::SMBGardixConfig::descriptor());
    EXPECT_EQ(ext->file(), qn::SMBGardixConfig::descriptor()->file());
    EXPECT_EQ(google::protobuf::DescriptorPool::generated_pool()->FindExtensionByNumber(
                  qn::AppConfig::descriptor(), 40),
              ext);
    EXPECT_EQ(qn::smb_gardix_config.number(), 40);

    qn::AppConfig envelope;
    envelope.set_app(qn::APP_SMB_GARDIX);
    envelope.MutableExtension(qn::smb_gardix_config)->set_start(true);
    EXPECT_EQ(hex(envelope.SerializeAsString()),
              hex(wire({0xC2, 0x02, 0x02, 0x20, 0x01, 0xC0, 0x3E, 0x28})));

    qn::AppConfig parsed;
    ASSERT_TRUE(parsed.ParseFromString(envelope.SerializeAsString()));
    ASSERT_TRUE(parsed.HasExtension(qn::smb_gardix_config));
    EXPECT_TRUE(parsed.GetExtension(qn::smb_gardix_config).start());
    EXPECT_EQ(parsed.GetReflection()->GetUnknownFields(parsed).field_count(), 0);

    // A share entry without its tag inside the extension fails the envelope.
    envelope.MutableExtension(qn::smb_gardix_config)->mutable_share()->add_item();
    EXPECT_FALSE(envelope.IsInitialized());
    EXPECT_FALSE(parsed.ParseFromString(envelope.SerializePartialAsString()));
}

}  // namespace
