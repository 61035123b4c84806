// ConfigD envelopes, application info and share statistics.
#include <gtest/gtest.h>

#include <google/protobuf/descriptor.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/proto/component_test_helpers.h"

#include "application.pb.h"
#include "configd_smb_gardix_ipc.pb.h"
#include "error.pb.h"
#include "smb_gardix_appinfo.pb.h"
#include "smb_gardix_appstat.pb.h"
#include "smb_gardix_config.pb.h"

namespace {

using namespace component_test;
using google::protobuf::DescriptorPool;

qn::SMBGardixShareStat full_share_stat()
{
    qn::SMBGardixShareStat stat;
    stat.set_share_path("/s");
    stat.set_base(1);
    stat.set_in(2);
    stat.set_out(3);
    return stat;
}

TEST(ComponentConfigdSchema, FilesAndImports)
{
    EXPECT_EQ(qn::SMBGardixAppInfo::descriptor()->file()->name(), "smb_gardix_appinfo.proto");
    EXPECT_EQ(imports_of(qn::SMBGardixAppInfo::descriptor()),
              (std::vector<std::string>{"application.proto", "error.proto"}));
    EXPECT_EQ(qn::SMBGardixAppStat::descriptor()->file()->name(), "smb_gardix_appstat.proto");
    EXPECT_EQ(imports_of(qn::SMBGardixAppStat::descriptor()), (std::vector<std::string>{"application.proto"}));
    EXPECT_EQ(qn::SMBGardixShareStat::descriptor()->file(), qn::SMBGardixAppStat::descriptor()->file());
    EXPECT_EQ(qn::Configd2SMBGardixMessage::descriptor()->file()->name(), "configd_smb_gardix_ipc.proto");
    EXPECT_EQ(imports_of(qn::Configd2SMBGardixMessage::descriptor()),
              (std::vector<std::string>{"application.proto", "error.proto", "smb_gardix_appinfo.proto",
                                        "smb_gardix_appstat.proto", "smb_gardix_config.proto"}));
    for (const auto* d : {qn::SMBGardixAppInfo::descriptor(), qn::SMBGardixAppStat::descriptor(),
                          qn::Configd2SMBGardixMessage::descriptor()}) {
        EXPECT_EQ(d->file()->package(), "qn");
        EXPECT_EQ(d->file()->syntax(), google::protobuf::FileDescriptor::SYNTAX_PROTO2);
    }
}

TEST(ComponentConfigdSchema, MessageFields)
{
    expect_fields(qn::SMBGardixAppInfo::descriptor(), {{1, "state", REQ, T_ENUM, "qn.ErrorCode"}});
    expect_fields(qn::SMBGardixShareStat::descriptor(), {
                                                            {1, "share_path", REQ, T_STR, ""},
                                                            {10, "base", REQ, T_U64, ""},
                                                            {11, "in", REQ, T_U64, ""},
                                                            {12, "out", REQ, T_U64, ""},
                                                        });
    expect_fields(qn::SMBGardixAppStat::descriptor(), {{1, "shares", REP, T_MSG, "qn.SMBGardixShareStat"}});
    expect_fields(qn::SMBGardix2ConfigdMessage::descriptor(),
                  {
                      {1, "tag", REQ, T_ENUM, "qn.SMBGardix2ConfigdMessage.MessageTag"},
                      {2, "config_revision", OPT, T_U32, ""},
                      {4, "uid", OPT, T_U32, ""},
                      {5, "stat", OPT, T_MSG, "qn.SMBGardixAppStat"},
                      {6, "info", OPT, T_MSG, "qn.SMBGardixAppInfo"},
                  });
    expect_fields(qn::Configd2SMBGardixMessage::descriptor(),
                  {
                      {1, "tag", REQ, T_ENUM, "qn.Configd2SMBGardixMessage.MessageTag"},
                      {2, "config_revision", OPT, T_U32, ""},
                      {4, "config", OPT, T_MSG, "qn.SMBGardixConfig"},
                      {6, "socket_path", OPT, T_STR, ""},
                      {7, "uid", OPT, T_U32, ""},
                      {8, "appinfo", REP, T_MSG, "qn.AppInfo"},
                      {20, "control", OPT, T_MSG, "qn.ComponentControl"},
                      {100, "error", OPT, T_MSG, "qn.Error"},
                  });
    for (const auto* d : {qn::SMBGardixAppInfo::descriptor(), qn::SMBGardixShareStat::descriptor(),
                          qn::SMBGardixAppStat::descriptor(), qn::SMBGardix2ConfigdMessage::descriptor(),
                          qn::Configd2SMBGardixMessage::descriptor()}) {
        EXPECT_EQ(d->extension_range_count(), 0) << d->full_name();
        for (int i = 0; i < d->field_count(); ++i)
            EXPECT_FALSE(d->field(i)->has_default_value()) << d->field(i)->full_name();
    }
}

TEST(ComponentConfigdSchema, MessageTags)
{
    expect_enum(qn::SMBGardix2ConfigdMessage::MessageTag_descriptor(), {
                                                                           {"GET_CONFIG_REQUEST", 1},
                                                                           {"MY_INFO_NOTIFICATION", 2},
                                                                           {"MY_STAT_NOTIFICATION", 3},
                                                                           {"GET_FCHECK_REQUEST", 4},
                                                                       });
    expect_enum(qn::Configd2SMBGardixMessage::MessageTag_descriptor(), {
                                                                           {"GET_CONFIG_RESPONSE", 1},
                                                                           {"GET_FCHECK_RESPONSE", 2},
                                                                           {"APPINFO_NOTIFICATION", 3},
                                                                       });
    EXPECT_EQ(qn::SMBGardix2ConfigdMessage::GET_FCHECK_REQUEST, 4);
    EXPECT_EQ(qn::Configd2SMBGardixMessage::APPINFO_NOTIFICATION, 3);
}

TEST(ComponentConfigdSchema, ImplicitDefaults)
{
    const qn::SMBGardixAppInfo info;
    EXPECT_EQ(info.state(), qn::EC_OK);
    EXPECT_FALSE(info.IsInitialized());
    const qn::SMBGardix2ConfigdMessage out;
    EXPECT_EQ(out.tag(), qn::SMBGardix2ConfigdMessage::GET_CONFIG_REQUEST);
    const qn::Configd2SMBGardixMessage in;
    EXPECT_EQ(in.tag(), qn::Configd2SMBGardixMessage::GET_CONFIG_RESPONSE);
    EXPECT_FALSE(in.IsInitialized());

    const qn::SMBGardixAppStat stat;
    EXPECT_TRUE(stat.IsInitialized());
    EXPECT_EQ(stat.SerializeAsString(), "");
}

TEST(ComponentConfigdSchema, OutgoingWireFormats)
{
    qn::SMBGardix2ConfigdMessage request;
    request.set_tag(qn::SMBGardix2ConfigdMessage::GET_CONFIG_REQUEST);
    EXPECT_EQ(hex(request.SerializeAsString()), hex(wire({0x08, 0x01})));

    qn::SMBGardix2ConfigdMessage info;
    info.set_tag(qn::SMBGardix2ConfigdMessage::MY_INFO_NOTIFICATION);
    info.set_config_revision(7);
    info.mutable_info()->set_state(qn::EC_APP_SUSPENDED);
    EXPECT_EQ(hex(info.SerializeAsString()), hex(wire({0x08, 0x02, 0x10, 0x07, 0x32, 0x02, 0x08, 0x58})));

    qn::SMBGardix2ConfigdMessage stat;
    stat.set_tag(qn::SMBGardix2ConfigdMessage::MY_STAT_NOTIFICATION);
    *stat.mutable_stat()->add_shares() = full_share_stat();
    EXPECT_EQ(hex(stat.SerializeAsString()),
              hex(wire({0x08, 0x03, 0x2A, 0x0C, 0x0A, 0x0A, 0x0A, 0x02, '/', 's', 0x50, 0x01, 0x58, 0x02,
                        0x60, 0x03})));

    qn::SMBGardix2ConfigdMessage fcheck;
    fcheck.set_tag(qn::SMBGardix2ConfigdMessage::GET_FCHECK_REQUEST);
    fcheck.set_uid(1000);
    EXPECT_EQ(hex(fcheck.SerializeAsString()), hex(wire({0x08, 0x04, 0x20, 0xE8, 0x07})));
}

TEST(ComponentConfigdSchema, IncomingConfigResponse)
{
    // tag, config_revision 5, config with one share "x", control {app 40, suspended}
    const std::string bytes = wire({0x08, 0x01, 0x10, 0x05, 0x22, 0x09, 0x82, 0x19, 0x06, 0x0A, 0x04, 0xC2, 0x3E,
                                    0x01, 'x', 0xA2, 0x01, 0x04, 0x08, 0x28, 0x10, 0x01});
    qn::Configd2SMBGardixMessage m;
    ASSERT_TRUE(m.ParseFromString(bytes));
    EXPECT_EQ(m.tag(), qn::Configd2SMBGardixMessage::GET_CONFIG_RESPONSE);
    EXPECT_EQ(m.config_revision(), 5u);
    ASSERT_TRUE(m.has_config());
    ASSERT_EQ(m.config().share().item_size(), 1);
    EXPECT_EQ(m.config().share().item(0).tag(), "x");
    ASSERT_TRUE(m.has_control());
    EXPECT_EQ(m.control().app(), qn::APP_SMB_GARDIX);
    EXPECT_TRUE(m.control().suspended());
    EXPECT_EQ(m.SerializeAsString(), bytes);
}

TEST(ComponentConfigdSchema, IncomingFcheckResponse)
{
    // tag 2, socket_path "/r", uid 0, then error {code 8}
    const std::string bytes = wire({0x08, 0x02, 0x32, 0x02, '/', 'r', 0x38, 0x00, 0xA2, 0x06, 0x02, 0x08, 0x08});
    qn::Configd2SMBGardixMessage m;
    ASSERT_TRUE(m.ParseFromString(bytes));
    EXPECT_EQ(m.tag(), qn::Configd2SMBGardixMessage::GET_FCHECK_RESPONSE);
    EXPECT_EQ(m.socket_path(), "/r");
    EXPECT_TRUE(m.has_uid());
    EXPECT_EQ(m.uid(), 0u);
    ASSERT_TRUE(m.has_error());
    EXPECT_EQ(m.error().code(), qn::EC_BAD_MESSAGE_FORMAT);
}

TEST(ComponentConfigdSchema, ShareEntryWithoutTagFailsTheWholeMessage)
{
    // config holding one share entry that carries only alert_files
    const std::string bytes =
        wire({0x08, 0x01, 0x10, 0x05, 0x22, 0x08, 0x82, 0x19, 0x05, 0x0A, 0x03, 0xB0, 0x06, 0x01});
    qn::Configd2SMBGardixMessage m;
    EXPECT_FALSE(m.ParseFromString(bytes));
    ASSERT_TRUE(m.ParsePartialFromString(bytes));
    EXPECT_EQ(m.InitializationErrorString(), "config.share.item[0].tag");
    ASSERT_EQ(m.config().share().item_size(), 1);
    EXPECT_TRUE(m.config().share().item(0).alert_files());
}

TEST(ComponentConfigdSchema, TagOutsideEnumMakesMessageUnparsable)
{
    struct row_t {
        const char* what;
        std::string bytes;
        bool tag_on_wire;
        uint64_t unknown;
    };
    const std::vector<row_t> rows = {
        {"no tag", wire({0x10, 0x05}), false, 0},
        {"tag 0", wire({0x08, 0x00}), true, 0},
        {"tag 4", wire({0x08, 0x04, 0x10, 0x05}), true, 4},
        {"tag 127", wire({0x08, 0x7F}), true, 127},
        {"tag -1", wire({0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}), true, UINT64_MAX},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        qn::Configd2SMBGardixMessage m;
        EXPECT_FALSE(m.ParseFromString(row.bytes));
        ASSERT_TRUE(m.ParsePartialFromString(row.bytes));
        EXPECT_FALSE(m.has_tag());
        if (row.tag_on_wire)
            expect_single_unknown_varint(m, 1, row.unknown);
        else
            EXPECT_EQ(m.GetReflection()->GetUnknownFields(m).field_count(), 0);
    }
    // The other direction's tag enum ends at 4.
    qn::SMBGardix2ConfigdMessage out;
    EXPECT_TRUE(out.ParseFromString(wire({0x08, 0x04})));
    EXPECT_FALSE(out.ParseFromString(wire({0x08, 0x05})));
}

TEST(ComponentConfigdSchema, UndeclaredFieldsGoToUnknownFields)
{
    // tag 3, field 3 varint 9, field 5 "zz"
    const std::string bytes = wire({0x08, 0x03, 0x18, 0x09, 0x2A, 0x02, 'z', 'z'});
    qn::Configd2SMBGardixMessage m;
    ASSERT_TRUE(m.ParseFromString(bytes));
    EXPECT_EQ(m.tag(), qn::Configd2SMBGardixMessage::APPINFO_NOTIFICATION);
    EXPECT_EQ(m.appinfo_size(), 0);
    const auto& unknown = m.GetReflection()->GetUnknownFields(m);
    ASSERT_EQ(unknown.field_count(), 2);
    EXPECT_EQ(unknown.field(0).number(), 3);
    EXPECT_EQ(unknown.field(1).number(), 5);
    EXPECT_EQ(unknown.field(1).length_delimited(), "zz");
}

struct share_stat_gap_t {
    const char* missing;
    void (*clear)(qn::SMBGardixShareStat&);
};

TEST(ComponentConfigdSchema, ShareStatNeedsAllFourFields)
{
    const std::vector<share_stat_gap_t> rows = {
        {"share_path", [](qn::SMBGardixShareStat& s) { s.clear_share_path(); }},
        {"base", [](qn::SMBGardixShareStat& s) { s.clear_base(); }},
        {"in", [](qn::SMBGardixShareStat& s) { s.clear_in(); }},
        {"out", [](qn::SMBGardixShareStat& s) { s.clear_out(); }},
    };
    ASSERT_TRUE(full_share_stat().IsInitialized());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.missing);
        qn::SMBGardixShareStat stat = full_share_stat();
        row.clear(stat);
        EXPECT_FALSE(stat.IsInitialized());
        EXPECT_EQ(stat.InitializationErrorString(), row.missing);

        qn::SMBGardixAppStat app_stat;
        *app_stat.add_shares() = full_share_stat();
        *app_stat.add_shares() = stat;
        EXPECT_FALSE(app_stat.IsInitialized());
        EXPECT_EQ(app_stat.InitializationErrorString(), std::string("shares[1].") + row.missing);

        qn::SMBGardix2ConfigdMessage m;
        m.set_tag(qn::SMBGardix2ConfigdMessage::MY_STAT_NOTIFICATION);
        *m.mutable_stat() = app_stat;
        EXPECT_FALSE(m.IsInitialized());
        qn::SMBGardix2ConfigdMessage parsed;
        EXPECT_FALSE(parsed.ParseFromString(m.SerializePartialAsString()));
    }
}

TEST(ComponentConfigdSchema, AppInfoExtensionAtForty)
{
    const auto* ext = DescriptorPool::generated_pool()->FindExtensionByName("qn.smb_gardix_info");
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(ext->number(), 40);
    EXPECT_EQ(ext->label(), FieldDescriptor::LABEL_OPTIONAL);
    EXPECT_EQ(ext->containing_type(), qn::AppInfo::descriptor());
    EXPECT_EQ(ext->message_type(), qn::SMBGardixAppInfo::descriptor());
    EXPECT_EQ(ext->file(), qn::SMBGardixAppInfo::descriptor()->file());
    EXPECT_EQ(DescriptorPool::generated_pool()->FindExtensionByNumber(qn::AppInfo::descriptor(), 40), ext);

    qn::AppInfo info;
    info.set_app(qn::APP_SMB_GARDIX);
    info.set_pid(1);
    info.MutableExtension(qn::smb_gardix_info)->set_state(qn::EC_APP_SUSPENDED);
    const std::string bytes = wire({0xC2, 0x02, 0x02, 0x08, 0x58, 0xC0, 0x3E, 0x28, 0xC8, 0x3E, 0x01});
    EXPECT_EQ(hex(info.SerializeAsString()), hex(bytes));

    qn::AppInfo parsed;
    ASSERT_TRUE(parsed.ParseFromString(bytes));
    ASSERT_TRUE(parsed.HasExtension(qn::smb_gardix_info));
    EXPECT_EQ(parsed.GetExtension(qn::smb_gardix_info).state(), qn::EC_APP_SUSPENDED);
}

TEST(ComponentConfigdSchema, AppInfoWithStatelessExtensionFailsTheNotification)
{
    qn::Configd2SMBGardixMessage m;
    m.set_tag(qn::Configd2SMBGardixMessage::APPINFO_NOTIFICATION);
    qn::AppInfo* info = m.add_appinfo();
    info->set_app(qn::APP_SMB_GARDIX);
    info->set_pid(1);
    EXPECT_TRUE(m.IsInitialized());
    info->MutableExtension(qn::smb_gardix_info);
    EXPECT_FALSE(m.IsInitialized());

    qn::Configd2SMBGardixMessage parsed;
    EXPECT_FALSE(parsed.ParseFromString(m.SerializePartialAsString()));
}

TEST(ComponentConfigdSchema, AppStatExtensionAtForty)
{
    const auto* ext = DescriptorPool::generated_pool()->FindExtensionByName("qn.smb_gardix_appstat");
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(ext->number(), 40);
    EXPECT_EQ(ext->label(), FieldDescriptor::LABEL_OPTIONAL);
    EXPECT_EQ(ext->containing_type(), qn::AppStat::descriptor());
    EXPECT_EQ(ext->message_type(), qn::SMBGardixAppStat::descriptor());
    EXPECT_EQ(ext->file(), qn::SMBGardixAppStat::descriptor()->file());

    qn::AppStat stat;
    stat.set_app(qn::APP_SMB_GARDIX);
    stat.set_pid(2);
    *stat.MutableExtension(qn::smb_gardix_appstat)->add_shares() = full_share_stat();
    EXPECT_EQ(hex(stat.SerializeAsString()),
              hex(wire({0xC2, 0x02, 0x0C, 0x0A, 0x0A, 0x0A, 0x02, '/', 's', 0x50, 0x01, 0x58, 0x02, 0x60, 0x03,
                        0xC0, 0x3E, 0x28, 0xC8, 0x3E, 0x02})));

    stat.MutableExtension(qn::smb_gardix_appstat)->mutable_shares(0)->clear_out();
    EXPECT_FALSE(stat.IsInitialized());
}

}  // namespace
