// File-checker protocol: envelopes, tags, payloads and their defaults.
#include <gtest/gtest.h>

#include <google/protobuf/descriptor.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/proto/component_test_helpers.h"

#include "action.pb.h"
#include "application.pb.h"
#include "disk.pb.h"
#include "error.pb.h"
#include "fcheck_client_ipc.pb.h"
#include "file.pb.h"
#include "quarantine.pb.h"
#include "scan_report.pb.h"

namespace {

using namespace component_test;
using google::protobuf::Message;

const std::vector<enum_row_t> k_client_tags = {
    {"START_SCAN_REQUEST", 1},
    {"INTERRUPT_SCAN_REQUEST", 2},
    {"SUBSCRIBE_TO_SCAN_INFO", 3},
    {"UNSUBSCRIBE_FROM_SCAN_INFO", 4},
    {"LIST_DIR_REQUEST", 5},
    {"SUBSCRIBE_TO_THREATS", 10},
    {"UNSUBSCRIBE_FROM_THREATS", 11},
    {"THREAT_OP_REQUEST", 12},
    {"THREAT_SYNC_REQUEST", 13},
    {"MY_THREAT_NOTIFICATION", 14},
    {"DISCOVERY_QUARANTINE_REQUEST", 20},
    {"SUBSCRIBE_TO_QUARANTINE", 21},
    {"UNSUBSCRIBE_FROM_QUARANTINE", 22},
    {"QUARANTINE_OP_REQUEST", 23},
    {"OPEN_FLOW", 30},
    {"FLOW_OPTIONS_NOTIFICATION", 31},
    {"FLOW_DATA_NOTIFICATION", 32},
    {"CLOSE_FLOW_REQUEST", 33},
    {"OPEN_PROXY", 40},
    {"PROXY_OPTIONS_NOTIFICATION", 41},
    {"PROXY_SCAN_REQUEST", 42},
    {"CLOSE_PROXY_REQUEST", 49},
    {"ENUMERATE_DISKS_REQUEST", 50},
    {"REGISTER_HANDLERS_REQUEST", 60},
    {"HANDLE_CURE_RESPONSE", 61},
    {"HANDLE_QUARANTINE_RESPONSE", 62},
    {"HANDLE_DELETE_RESPONSE", 63},
    {"HANDLE_RESTORE_QENTRY_RESPONSE", 67},
    {"HANDLE_DISCOVERY_RESPONSE", 70},
    {"HANDLE_UPDATE_QENTRY_RESPONSE", 71},
};

const std::vector<enum_row_t> k_server_tags = {
    {"START_SCAN_RESPONSE", 1},
    {"INTERRUPT_SCAN_RESPONSE", 2},
    {"SCAN_INFO_NOTIFICATION", 3},
    {"LIST_DIR_RESPONSE", 4},
    {"THREATS_SUBSCRIBED", 8},
    {"THREATS_ALARM", 9},
    {"THREATS_NOTIFICATION", 10},
    {"THREATS_OP_RESPONSE", 11},
    {"THREAT_SYNC_RESPONSE", 12},
    {"DISCOVERY_QUARANTINE_RESPONSE", 20},
    {"QUARANTINE_SUBSCRIBED", 21},
    {"QUARANTINE_NOTIFICATION", 22},
    {"QUARANTINE_ALARM", 23},
    {"QUARANTINE_OP_RESPONSE", 24},
    {"FLOW_READY", 31},
    {"CLOSE_FLOW_RESPONSE", 32},
    {"FLOW_ALARM", 33},
    {"FLOW_ANSWER", 34},
    {"PROXY_READY", 40},
    {"PROXY_SCAN_RESPONSE", 41},
    {"CLOSE_PROXY_RESPONSE", 48},
    {"PROXY_ALARM", 49},
    {"ENUMERATE_DISKS_RESPONSE", 50},
    {"REGISTER_HANDLERS_RESPONSE", 60},
    {"HANDLE_CURE_REQUEST", 61},
    {"HANDLE_QUARANTINE_REQUEST", 62},
    {"HANDLE_DELETE_REQUEST", 63},
    {"HANDLE_RESTORE_QENTRY_REQUEST", 67},
    {"HANDLE_DISCOVERY_REQUEST", 70},
    {"HANDLE_UPDATE_QENTRY_REQUEST", 71},
};

TEST(ComponentFcheckSchema, FileAndImports)
{
    const auto* file = fc::ClientMessage::descriptor()->file();
    EXPECT_EQ(file->name(), "fcheck_client_ipc.proto");
    EXPECT_EQ(file->package(), "fc");
    EXPECT_EQ(file->syntax(), google::protobuf::FileDescriptor::SYNTAX_PROTO2);
    EXPECT_EQ(imports_of(fc::ClientMessage::descriptor()),
              (std::vector<std::string>{"action.proto", "application.proto", "disk.proto", "error.proto",
                                        "file.proto", "quarantine.proto", "scan_report.proto"}));
    EXPECT_EQ(file->extension_count(), 0);
}

TEST(ComponentFcheckSchema, ClientEnvelopeFields)
{
    expect_fields(fc::ClientMessage::descriptor(),
                  {
                      {1, "tag", REQ, T_ENUM, "fc.ClientMessage.ClientMessageTag"},
                      {2, "serial", OPT, T_U32, ""},
                      {3, "scan_request", OPT, T_MSG, "fc.ScanRequest"},
                      {4, "task_id", OPT, T_U32, ""},
                      {5, "info_options", OPT, T_MSG, "fc.ScanInfoOptions"},
                      {6, "path", OPT, T_BYTES, ""},
                      {7, "token", OPT, T_BYTES, ""},
                      {10, "threat_id", OPT, T_I64, ""},
                      {12, "history_id", OPT, T_I64, ""},
                      {21, "restore_path", OPT, T_BYTES, ""},
                      {22, "op", OPT, T_ENUM, "qn.ThreatOp"},
                      {24, "qpath", REP, T_BYTES, ""},
                      {25, "q_op", OPT, T_ENUM, "qn.QEntryAction"},
                      {26, "file_id", OPT, T_I64, ""},
                      {27, "shell_trace", OPT, T_BOOL, ""},
                      {30, "origin", OPT, T_ENUM, "qn.Application"},
                      {31, "pid", OPT, T_U32, ""},
                      {32, "flow_options", REP, T_MSG, "fc.FlowOptions"},
                      {33, "flow_path", REP, T_MSG, "fc.FlowPath"},
                      {40, "proxy_options", OPT, T_MSG, "fc.ProxyOptions"},
                      {60, "handlers", OPT, T_MSG, "fc.Handlers"},
                      {61, "hpath", REP, T_BYTES, ""},
                      {62, "scan_report", OPT, T_MSG, "qn.ScanReport"},
                      {63, "qentry", OPT, T_MSG, "qn.QEntry"},
                      {100, "error", OPT, T_MSG, "qn.Error"},
                  });
}

TEST(ComponentFcheckSchema, ServerEnvelopeFields)
{
    expect_fields(fc::ServerMessage::descriptor(),
                  {
                      {1, "tag", REQ, T_ENUM, "fc.ServerMessage.ServerMessageTag"},
                      {2, "serial", OPT, T_U32, ""},
                      {3, "task_id", OPT, T_U32, ""},
                      {4, "info", REP, T_MSG, "fc.ScanInfo"},
                      {5, "direntry", REP, T_MSG, "fc.DirEntry"},
                      {10, "disks", REP, T_MSG, "qn.Disk"},
                      {11, "scan_report", OPT, T_MSG, "qn.ScanReport"},
                      {12, "threat_id", OPT, T_I64, ""},
                      {13, "history_id", OPT, T_I64, ""},
                      {15, "dbpath", OPT, T_STR, ""},
                      {16, "op", OPT, T_ENUM, "qn.ThreatOp"},
                      {17, "qpath", REP, T_BYTES, ""},
                      {18, "q_op", OPT, T_ENUM, "qn.QEntryAction"},
                      {19, "qentry_ids", REP, T_MSG, "fc.QEntryId"},
                      {20, "allow", REP, T_U32, ""},
                      {21, "deny", REP, T_U32, ""},
                      {60, "path", OPT, T_BYTES, ""},
                      {61, "qentry", OPT, T_MSG, "qn.QEntry"},
                      {62, "stat", OPT, T_MSG, "qn.FileStat"},
                      {63, "restore_path", OPT, T_BYTES, ""},
                      {64, "restore_dir_stat", OPT, T_MSG, "qn.FileStat"},
                      {65, "site", REP, T_BYTES, ""},
                      {100, "error", OPT, T_MSG, "qn.Error"},
                  });
}

TEST(ComponentFcheckSchema, EnvelopesDeclareNoDefaults)
{
    for (const auto* d : {fc::ClientMessage::descriptor(), fc::ServerMessage::descriptor()}) {
        EXPECT_EQ(d->extension_range_count(), 0);
        EXPECT_EQ(d->oneof_decl_count(), 0);
        for (int i = 0; i < d->field_count(); ++i)
            EXPECT_FALSE(d->field(i)->has_default_value()) << d->field(i)->full_name();
    }
    const fc::ClientMessage client;
    EXPECT_EQ(client.tag(), fc::ClientMessage::START_SCAN_REQUEST);
    EXPECT_EQ(client.op(), qn::THREAT_OP_CURE);
    EXPECT_EQ(client.q_op(), qn::QENTRY_ACTION_DELETE);
    EXPECT_EQ(client.origin(), qn::APP_CONFIGD);
    const fc::ServerMessage server;
    EXPECT_EQ(server.tag(), fc::ServerMessage::START_SCAN_RESPONSE);
}

TEST(ComponentFcheckSchema, TagEnums)
{
    expect_enum(fc::ClientMessage::ClientMessageTag_descriptor(), k_client_tags);
    expect_enum(fc::ServerMessage::ServerMessageTag_descriptor(), k_server_tags);
    EXPECT_EQ(fc::ClientMessage::PROXY_SCAN_REQUEST, 42);
    EXPECT_EQ(fc::ServerMessage::PROXY_SCAN_RESPONSE, 41);
    EXPECT_EQ(fc::ServerMessage::PROXY_ALARM, 49);
}

// Every tag number from 0 to 127 parses exactly when the table lists it.
template <typename envelope_t>
void expect_tag_numbers_parse_as_listed(const std::vector<enum_row_t>& tags)
{
    std::set<int> listed;
    for (const auto& row : tags)
        listed.insert(row.number);
    for (unsigned n = 0; n < 128; ++n) {
        SCOPED_TRACE(n);
        const std::string bytes = wire({0x08, n});
        envelope_t m;
        const bool parsed = m.ParseFromString(bytes);
        EXPECT_EQ(parsed, listed.count(static_cast<int>(n)) == 1);
        if (parsed) {
            EXPECT_EQ(static_cast<unsigned>(m.tag()), n);
        } else {
            ASSERT_TRUE(m.ParsePartialFromString(bytes));
            EXPECT_FALSE(m.has_tag());
            expect_single_unknown_varint(m, 1, n);
        }
    }
}

TEST(ComponentFcheckSchema, ClientTagOutsideEnumMakesMessageUnparsable)
{
    expect_tag_numbers_parse_as_listed<fc::ClientMessage>(k_client_tags);
}

TEST(ComponentFcheckSchema, ServerTagOutsideEnumMakesMessageUnparsable)
{
    expect_tag_numbers_parse_as_listed<fc::ServerMessage>(k_server_tags);
    fc::ServerMessage m;
    EXPECT_FALSE(m.ParseFromString(wire({0x10, 0x01})));  // serial only
    EXPECT_FALSE(m.ParseFromString(wire({0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})));
}

struct optional_enum_row_t {
    const char* what;
    std::string bytes;  // after the tag
    int number;
    uint64_t value;
    std::function<bool(const fc::ClientMessage&)> is_set;
};

TEST(ComponentFcheckSchema, OptionalEnumOutsideItsValuesIsLeftUnset)
{
    const std::vector<optional_enum_row_t> rows = {
        {"op 8", wire({0xB0, 0x01, 0x08}), 22, 8, [](const fc::ClientMessage& m) { return m.has_op(); }},
        {"op 0", wire({0xB0, 0x01, 0x00}), 22, 0, [](const fc::ClientMessage& m) { return m.has_op(); }},
        {"q_op 5", wire({0xC8, 0x01, 0x05}), 25, 5, [](const fc::ClientMessage& m) { return m.has_q_op(); }},
        {"origin 11", wire({0xF0, 0x01, 0x0B}), 30, 11,
         [](const fc::ClientMessage& m) { return m.has_origin(); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fc::ClientMessage m;
        ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x0C}) + row.bytes));
        EXPECT_FALSE(row.is_set(m));
        expect_single_unknown_varint(m, row.number, row.value);
        EXPECT_EQ(m.op(), qn::THREAT_OP_CURE);
    }

    fc::ClientMessage m;
    ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x0C, 0xB0, 0x01, 0x02, 0xF0, 0x01, 0x28})));
    EXPECT_EQ(m.op(), qn::THREAT_OP_QUARANTINE);
    EXPECT_EQ(m.origin(), qn::APP_SMB_GARDIX);

    fc::ServerMessage s;
    ASSERT_TRUE(s.ParseFromString(wire({0x08, 0x0B, 0x80, 0x01, 0x09})));
    EXPECT_FALSE(s.has_op());
    expect_single_unknown_varint(s, 16, 9);
}

// Declared and implicit defaults of the option messages.
struct default_row_t {
    int number;
    const char* name;
    FieldDescriptor::Type type;
    bool declared;
    uint64_t value;
};

void expect_defaults(const Message& fresh, const std::vector<default_row_t>& rows)
{
    const auto* d = fresh.GetDescriptor();
    const auto* r = fresh.GetReflection();
    SCOPED_TRACE(d->full_name());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const FieldDescriptor* f = d->FindFieldByNumber(row.number);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->name(), row.name);
        EXPECT_EQ(f->type(), row.type);
        EXPECT_EQ(f->has_default_value(), row.declared);
        EXPECT_FALSE(r->HasField(fresh, f));
        switch (f->cpp_type()) {
        case FieldDescriptor::CPPTYPE_BOOL:
            EXPECT_EQ(r->GetBool(fresh, f), row.value != 0);
            break;
        case FieldDescriptor::CPPTYPE_UINT32:
            EXPECT_EQ(r->GetUInt32(fresh, f), row.value);
            break;
        case FieldDescriptor::CPPTYPE_UINT64:
            EXPECT_EQ(r->GetUInt64(fresh, f), row.value);
            break;
        default:
            ADD_FAILURE() << "not a scalar option";
        }
    }
}

const std::vector<default_row_t> k_proxy_option_defaults = {
    {30, "scan_timeout_ms", T_U32, true, 30000}, {31, "heuristic_analysis", T_BOOL, true, 1},
    {32, "packer_max_level", T_U32, true, 8},    {33, "archive_max_level", T_U32, true, 0},
    {34, "mail_max_level", T_U32, true, 8},      {35, "container_max_level", T_U32, true, 8},
    {36, "max_compression_ratio", T_U32, true, 500},
};

TEST(ComponentFcheckSchema, ProxyOptionsDefaults)
{
    const fc::ProxyOptions fresh;
    expect_defaults(fresh, k_proxy_option_defaults);
    EXPECT_EQ(fc::ProxyOptions::descriptor()->field_count(), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(fc::ProxyOptions::descriptor()->field(i)->label(), FieldDescriptor::LABEL_OPTIONAL);
}

TEST(ComponentFcheckSchema, FlowOptionsDefaults)
{
    std::vector<default_row_t> rows = {{1, "option_set", T_U32, true, 0}};
    rows.insert(rows.end(), k_proxy_option_defaults.begin(), k_proxy_option_defaults.end());
    expect_defaults(fc::FlowOptions(), rows);
    const auto* actions = fc::FlowOptions::descriptor()->FindFieldByNumber(3);
    ASSERT_NE(actions, nullptr);
    EXPECT_EQ(actions->name(), "actions");
    EXPECT_EQ(actions->message_type(), fc::ActionSet::descriptor());
    EXPECT_EQ(fc::FlowOptions::descriptor()->field_count(), 9);
}

TEST(ComponentFcheckSchema, ScanRequestDefaults)
{
    expect_defaults(fc::ScanRequest(), {
                                           {4, "scan_processes", T_BOOL, true, 0},
                                           {5, "follow_symlinks", T_BOOL, true, 0},
                                           {6, "min_size_to_scan", T_U64, true, 0},
                                           {7, "max_size_to_scan", T_U64, true, UINT64_MAX},
                                           {11, "origin_pid", T_U32, false, 0},
                                           {30, "scan_timeout_ms", T_U32, true, 0},
                                           {31, "heuristic_analysis", T_BOOL, true, 1},
                                           {32, "shell_trace", T_BOOL, true, 0},
                                           {40, "packer_max_level", T_U32, true, 8},
                                           {41, "archive_max_level", T_U32, true, 8},
                                           {42, "mail_max_level", T_U32, true, 8},
                                           {43, "container_max_level", T_U32, true, 8},
                                           {44, "max_compression_ratio", T_U32, true, 500},
                                           {45, "max_size_to_extract", T_U64, true, UINT64_MAX},
                                       });
}

TEST(ComponentFcheckSchema, ProxyAndScanRequestDefaultsDiffer)
{
    const fc::ProxyOptions proxy;
    const fc::FlowOptions flow;
    const fc::ScanRequest scan;
    EXPECT_EQ(proxy.archive_max_level(), 0u);
    EXPECT_EQ(flow.archive_max_level(), 0u);
    EXPECT_EQ(scan.archive_max_level(), 8u);
    EXPECT_EQ(proxy.scan_timeout_ms(), 30000u);
    EXPECT_EQ(flow.scan_timeout_ms(), 30000u);
    EXPECT_EQ(scan.scan_timeout_ms(), 0u);

    // A cleared field reads its declared default again.
    fc::ProxyOptions changed;
    changed.set_scan_timeout_ms(5);
    changed.clear_scan_timeout_ms();
    EXPECT_EQ(changed.scan_timeout_ms(), 30000u);
}

TEST(ComponentFcheckSchema, ScanRequestFieldsAndRequiredOrigin)
{
    expect_fields(fc::ScanRequest::descriptor(), {
                                                     {1, "included_path", REP, T_BYTES, ""},
                                                     {2, "excluded_path", REP, T_BYTES, ""},
                                                     {3, "boot_dev_path", REP, T_BYTES, ""},
                                                     {4, "scan_processes", OPT, T_BOOL, ""},
                                                     {5, "follow_symlinks", OPT, T_BOOL, ""},
                                                     {6, "min_size_to_scan", OPT, T_U64, ""},
                                                     {7, "max_size_to_scan", OPT, T_U64, ""},
                                                     {10, "origin", REQ, T_ENUM, "qn.Application"},
                                                     {11, "origin_pid", REQ, T_U32, ""},
                                                     {12, "comment", OPT, T_STR, ""},
                                                     {30, "scan_timeout_ms", OPT, T_U32, ""},
                                                     {31, "heuristic_analysis", OPT, T_BOOL, ""},
                                                     {32, "shell_trace", OPT, T_BOOL, ""},
                                                     {40, "packer_max_level", OPT, T_U32, ""},
                                                     {41, "archive_max_level", OPT, T_U32, ""},
                                                     {42, "mail_max_level", OPT, T_U32, ""},
                                                     {43, "container_max_level", OPT, T_U32, ""},
                                                     {44, "max_compression_ratio", OPT, T_U32, ""},
                                                     {45, "max_size_to_extract", OPT, T_U64, ""},
                                                 });
    // START_SCAN_REQUEST whose request names origin 11, no application
    fc::ClientMessage m;
    const std::string bytes = wire({0x08, 0x01, 0x1A, 0x04, 0x50, 0x0B, 0x58, 0x01});
    EXPECT_FALSE(m.ParseFromString(bytes));
    ASSERT_TRUE(m.ParsePartialFromString(bytes));
    EXPECT_EQ(m.InitializationErrorString(), "scan_request.origin");
    EXPECT_TRUE(m.ParseFromString(wire({0x08, 0x01, 0x1A, 0x04, 0x50, 0x28, 0x58, 0x01})));
    EXPECT_EQ(m.scan_request().origin(), qn::APP_SMB_GARDIX);
}

TEST(ComponentFcheckSchema, ActionSetDefaultsToReport)
{
    const char* names[] = {"on_known_virus", "on_incurable", "on_suspicious", "on_adware",
                           "on_dialers",     "on_jokes",     "on_riskware",   "on_hacktools"};
    const auto* d = fc::ActionSet::descriptor();
    ASSERT_EQ(d->field_count(), 8);
    const fc::ActionSet fresh;
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(names[i]);
        const FieldDescriptor* f = d->field(i);
        EXPECT_EQ(f->name(), names[i]);
        EXPECT_EQ(f->number(), i + 1);
        EXPECT_EQ(f->label(), FieldDescriptor::LABEL_OPTIONAL);
        ASSERT_EQ(f->enum_type(), qn::FileAction_descriptor());
        EXPECT_TRUE(f->has_default_value());
        EXPECT_EQ(f->default_value_enum()->name(), "FILE_ACTION_REPORT");
        EXPECT_EQ(fresh.GetReflection()->GetEnumValue(fresh, f), qn::FILE_ACTION_REPORT);
    }
    // An action outside the enum stays among the unknown fields.
    fc::ActionSet parsed;
    ASSERT_TRUE(parsed.ParseFromString(wire({0x10, 0x06})));
    EXPECT_FALSE(parsed.has_on_incurable());
    EXPECT_EQ(parsed.on_incurable(), qn::FILE_ACTION_REPORT);
    expect_single_unknown_varint(parsed, 2, 6);
}

TEST(ComponentFcheckSchema, SmallPayloadDefaults)
{
    expect_defaults(fc::ScanInfoOptions(), {
                                               {1, "progress_interval_ms", T_U32, true, 0},
                                               {3, "report_clean", T_BOOL, true, 0},
                                               {4, "report_errors", T_BOOL, true, 0},
                                               {5, "report_threats", T_BOOL, true, 0},
                                           });
    EXPECT_EQ(fc::ScanInfoOptions::descriptor()->field_count(), 4);
    expect_fields(fc::FlowPath::descriptor(), {
                                                  {1, "path", REQ, T_BYTES, ""},
                                                  {2, "option_set", OPT, T_U32, ""},
                                                  {3, "ask_id", OPT, T_U32, ""},
                                              });
    expect_defaults(fc::FlowPath(), {
                                        {2, "option_set", T_U32, true, 0},
                                        {3, "ask_id", T_U32, false, 0},
                                    });
}

TEST(ComponentFcheckSchema, ScanInfoMessages)
{
    expect_fields(fc::ScanInfo::descriptor(), {
                                                  {1, "task_id", REQ, T_U32, ""},
                                                  {2, "state", REQ, T_ENUM, "fc.ScanState"},
                                                  {3, "details", OPT, T_MSG, "fc.ScanDetails"},
                                                  {4, "result", OPT, T_MSG, "fc.ScanResult"},
                                                  {5, "progress", OPT, T_MSG, "fc.ScanProgress"},
                                                  {6, "report", REP, T_MSG, "fc.ScanInfoReport"},
                                              });
    expect_fields(fc::ScanDetails::descriptor(), {
                                                     {1, "origin", REQ, T_ENUM, "qn.Application"},
                                                     {2, "origin_pid", REQ, T_U32, ""},
                                                     {3, "origin_uid", REQ, T_U32, ""},
                                                     {4, "enqueue_time", REQ, T_U64, ""},
                                                     {5, "comment", OPT, T_STR, ""},
                                                 });
    expect_fields(fc::ScanProgress::descriptor(), {
                                                      {1, "traverse_done", REQ, T_BOOL, ""},
                                                      {2, "files_to_scan", REQ, T_U64, ""},
                                                      {3, "files_scanned", REQ, T_U64, ""},
                                                      {4, "scanning_now", OPT, T_BYTES, ""},
                                                  });
    expect_fields(fc::ScanResult::descriptor(), {
                                                    {1, "stop_time", REQ, T_U64, ""},
                                                    {2, "final_status", REQ, T_ENUM, "qn.ErrorCode"},
                                                });
    expect_fields(fc::ScanInfoReport::descriptor(), {
                                                        {1, "scanreport", REQ, T_MSG, "qn.ScanReport"},
                                                        {2, "threat_id", OPT, T_I64, ""},
                                                    });
    expect_enum(fc::ScanState_descriptor(), {
                                                {"SCAN_STATE_PENDING", 1},
                                                {"SCAN_STATE_RUNNING", 2},
                                                {"SCAN_STATE_FINISHING", 3},
                                                {"SCAN_STATE_FINISHED", 4},
                                            });
    EXPECT_EQ(fc::ScanState_descriptor()->containing_type(), nullptr);
}

TEST(ComponentFcheckSchema, HandlersDirEntryAndQEntryId)
{
    expect_fields(fc::Handlers::descriptor(), {
                                                  {1, "cure", OPT, T_BOOL, ""},
                                                  {2, "quarantine", OPT, T_BOOL, ""},
                                                  {3, "delete", OPT, T_BOOL, ""},
                                                  {7, "restore_qentry", OPT, T_BOOL, ""},
                                                  {10, "discovery", OPT, T_BOOL, ""},
                                                  {11, "update_qentry", OPT, T_BOOL, ""},
                                              });
    for (int i = 0; i < fc::Handlers::descriptor()->field_count(); ++i)
        EXPECT_FALSE(fc::Handlers::descriptor()->field(i)->has_default_value());
    fc::Handlers handlers;
    handlers.set_delete_(true);
    EXPECT_EQ(hex(handlers.SerializeAsString()), hex(wire({0x18, 0x01})));

    expect_fields(fc::DirEntry::descriptor(), {
                                                  {1, "name", REQ, T_BYTES, ""},
                                                  {2, "type", REQ, T_ENUM, "fc.DirEntry.Type"},
                                                  {3, "can_read", OPT, T_BOOL, ""},
                                              });
    expect_enum(fc::DirEntry::Type_descriptor(), {
                                                     {"DE_DIR", 1},
                                                     {"DE_FILE", 2},
                                                     {"DE_LINK_TO_DIR", 3},
                                                     {"DE_LINK_TO_FILE", 4},
                                                 });
    expect_fields(fc::QEntryId::descriptor(), {
                                                  {1, "file_id", REQ, T_I64, ""},
                                                  {2, "entry_id", REQ, T_STR, ""},
                                                  {3, "chunk_id", REQ, T_BYTES, ""},
                                              });
}

TEST(ComponentFcheckSchema, ProxyOptionsWireFormat)
{
    fc::ProxyOptions options;
    EXPECT_EQ(options.SerializeAsString(), "");

    // Set to the very values it defaults to: every field is still sent.
    options.set_scan_timeout_ms(30000);
    options.set_heuristic_analysis(true);
    options.set_packer_max_level(8);
    options.set_archive_max_level(0);
    options.set_mail_max_level(8);
    options.set_container_max_level(8);
    options.set_max_compression_ratio(500);
    const std::string body = wire({0xF0, 0x01, 0xB0, 0xEA, 0x01, 0xF8, 0x01, 0x01, 0x80, 0x02, 0x08, 0x88, 0x02,
                                   0x00, 0x90, 0x02, 0x08, 0x98, 0x02, 0x08, 0xA0, 0x02, 0xF4, 0x03});
    EXPECT_EQ(hex(options.SerializeAsString()), hex(body));

    fc::ClientMessage m;
    m.set_tag(fc::ClientMessage::PROXY_OPTIONS_NOTIFICATION);
    *m.mutable_proxy_options() = options;
    EXPECT_EQ(hex(m.SerializeAsString()), hex(wire({0x08, 0x29, 0xC2, 0x02, 0x18}) + body));
}

TEST(ComponentFcheckSchema, DaemonRequestsWireFormat)
{
    fc::ClientMessage subscribe;
    subscribe.set_tag(fc::ClientMessage::SUBSCRIBE_TO_THREATS);
    EXPECT_EQ(hex(subscribe.SerializeAsString()), hex(wire({0x08, 0x0A})));

    fc::ClientMessage op;
    op.set_tag(fc::ClientMessage::THREAT_OP_REQUEST);
    op.set_serial(1);
    op.set_threat_id(-5);
    op.set_op(qn::THREAT_OP_IGNORE);
    op.set_origin(qn::APP_SMB_GARDIX);
    op.set_pid(1234);
    EXPECT_EQ(hex(op.SerializeAsString()),
              hex(wire({0x08, 0x0C, 0x10, 0x01, 0x50, 0xFB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01,
                        0xB0, 0x01, 0x07, 0xF0, 0x01, 0x28, 0xF8, 0x01, 0xD2, 0x09})));

    fc::ClientMessage sync;
    sync.set_tag(fc::ClientMessage::THREAT_SYNC_REQUEST);
    sync.set_serial(2);
    sync.set_threat_id(9);
    sync.set_origin(qn::APP_SMB_GARDIX);
    sync.set_pid(7);
    EXPECT_EQ(hex(sync.SerializeAsString()),
              hex(wire({0x08, 0x0D, 0x10, 0x02, 0x50, 0x09, 0xF0, 0x01, 0x28, 0xF8, 0x01, 0x07})));

    fc::ClientMessage mine;
    mine.set_tag(fc::ClientMessage::MY_THREAT_NOTIFICATION);
    mine.set_history_id(300);
    EXPECT_EQ(hex(mine.SerializeAsString()), hex(wire({0x08, 0x0E, 0x60, 0xAC, 0x02})));

    fc::ClientMessage open;
    open.set_tag(fc::ClientMessage::OPEN_PROXY);
    open.set_origin(qn::APP_SMB_GARDIX);
    open.set_pid(7);
    EXPECT_EQ(hex(open.SerializeAsString()), hex(wire({0x08, 0x28, 0xF0, 0x01, 0x28, 0xF8, 0x01, 0x07})));

    fc::ClientMessage scan;
    scan.set_tag(fc::ClientMessage::PROXY_SCAN_REQUEST);
    scan.set_serial(3);
    scan.set_path(std::string("/a\0b", 4));
    EXPECT_EQ(hex(scan.SerializeAsString()), hex(wire({0x08, 0x2A, 0x10, 0x03, 0x32, 0x04, '/', 'a', 0x00, 'b'})));
}

TEST(ComponentFcheckSchema, DaemonResponsesParse)
{
    fc::ServerMessage m;
    ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x08, 0x7A, 0x02, '/', 'd'})));
    EXPECT_EQ(m.tag(), fc::ServerMessage::THREATS_SUBSCRIBED);
    EXPECT_EQ(m.dbpath(), "/d");

    // PROXY_SCAN_RESPONSE with a report and a provisional threat id -3
    ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x29, 0x10, 0x03, 0x5A, 0x03, 0x0A, 0x01, 'x', 0x60, 0xFD, 0xFF,
                                        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})));
    EXPECT_EQ(m.tag(), fc::ServerMessage::PROXY_SCAN_RESPONSE);
    EXPECT_EQ(m.serial(), 3u);
    EXPECT_EQ(m.scan_report().object(), "x");
    EXPECT_EQ(m.threat_id(), -3);
    EXPECT_FALSE(m.has_error());

    // PROXY_SCAN_RESPONSE with only an error
    ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x29, 0x10, 0x04, 0xA2, 0x06, 0x02, 0x08, 0x2D})));
    EXPECT_FALSE(m.has_scan_report());
    EXPECT_EQ(m.error().code(), qn::EC_SCAN_LIMIT_REACHED);

    ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x0C, 0x10, 0x02, 0x68, 0x09})));
    EXPECT_EQ(m.tag(), fc::ServerMessage::THREAT_SYNC_RESPONSE);
    EXPECT_EQ(m.history_id(), 9);

    // THREATS_OP_RESPONSE with only tag and serial
    ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x0B, 0x10, 0x05})));
    EXPECT_FALSE(m.has_error());
    EXPECT_EQ(m.error().code(), qn::EC_OK);

    // An error whose code is no ErrorCode lacks its required field
    EXPECT_FALSE(m.ParseFromString(wire({0x08, 0x31, 0xA2, 0x06, 0x02, 0x08, 0x0E})));
}

TEST(ComponentFcheckSchema, AllowAndDenyAreUnpacked)
{
    fc::ServerMessage m;
    m.set_tag(fc::ServerMessage::THREATS_OP_RESPONSE);
    m.add_allow(1);
    m.add_allow(300);
    m.add_deny(2);
    EXPECT_EQ(hex(m.SerializeAsString()),
              hex(wire({0x08, 0x0B, 0xA0, 0x01, 0x01, 0xA0, 0x01, 0xAC, 0x02, 0xA8, 0x01, 0x02})));

    fc::ServerMessage packed;
    ASSERT_TRUE(packed.ParseFromString(wire({0x08, 0x0B, 0xA2, 0x01, 0x03, 0x01, 0xAC, 0x02, 0xAA, 0x01, 0x01, 0x02})));
    ASSERT_EQ(packed.allow_size(), 2);
    EXPECT_EQ(packed.allow(0), 1u);
    EXPECT_EQ(packed.allow(1), 300u);
    ASSERT_EQ(packed.deny_size(), 1);
    EXPECT_EQ(packed.deny(0), 2u);
}

fc::ScanInfo scan_info_with_report(const qn::ScanReport& report)
{
    fc::ScanInfo info;
    info.set_task_id(1);
    info.set_state(fc::SCAN_STATE_RUNNING);
    *info.add_report()->mutable_scanreport() = report;
    return info;
}

struct missing_payload_row_t {
    const char* what;
    std::function<void(fc::ServerMessage&)> fill;
    const char* missing;
};

TEST(ComponentFcheckSchema, IncompleteServerPayloadFailsTheEnvelope)
{
    const std::vector<missing_payload_row_t> rows = {
        {"scan report without object",
         [](fc::ServerMessage& m) { m.mutable_scan_report()->set_size(1); }, "scan_report.object"},
        {"nested report without object",
         [](fc::ServerMessage& m) {
             qn::ScanReport* outer = m.mutable_scan_report();
             outer->set_object("a");
             qn::ScanReport* middle = outer->add_item();
             middle->set_object("b");
             middle->add_item()->add_virus()->set_type(qn::SE_JOKE);
         },
         "scan_report.item[0].item[0].object, scan_report.item[0].item[0].virus[0].name"},
        {"scan info report without object",
         [](fc::ServerMessage& m) {
             qn::ScanReport report;
             report.set_size(1);
             *m.add_info() = scan_info_with_report(report);
         },
         "info[0].report[0].scanreport.object"},
        {"scan info without state",
         [](fc::ServerMessage& m) { m.add_info()->set_task_id(1); }, "info[0].state"},
        {"dir entry without type",
         [](fc::ServerMessage& m) { m.add_direntry()->set_name("n"); }, "direntry[0].type"},
        {"quarantine id without chunk",
         [](fc::ServerMessage& m) {
             auto* id = m.add_qentry_ids();
             id->set_file_id(1);
             id->set_entry_id("e");
         },
         "qentry_ids[0].chunk_id"},
        {"disk without heads",
         [](fc::ServerMessage& m) {
             auto* disk = m.add_disks();
             disk->set_dev_path("/dev/x");
             disk->set_cylinders(1);
             disk->set_sectors(1);
             disk->set_size(1);
         },
         "disks[0].heads"},
        {"file stat without ino", [](fc::ServerMessage& m) { m.mutable_stat()->set_dev(1); }, "stat.ino"},
        {"error without code", [](fc::ServerMessage& m) { m.mutable_error()->set_what("w"); }, "error.code"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fc::ServerMessage m;
        m.set_tag(fc::ServerMessage::PROXY_SCAN_RESPONSE);
        m.set_serial(1);
        row.fill(m);
        EXPECT_FALSE(m.IsInitialized());
        EXPECT_EQ(m.InitializationErrorString(), row.missing);
        const std::string bytes = m.SerializePartialAsString();
        fc::ServerMessage parsed;
        EXPECT_FALSE(parsed.ParseFromString(bytes));
        EXPECT_TRUE(parsed.ParsePartialFromString(bytes));
    }
}

TEST(ComponentFcheckSchema, ScanInfoReportNeedsObject)
{
    qn::ScanReport report;
    report.set_object("o");
    fc::ScanInfo info = scan_info_with_report(report);
    EXPECT_TRUE(info.IsInitialized());
    info.mutable_report(0)->mutable_scanreport()->clear_object();
    EXPECT_FALSE(info.IsInitialized());
    EXPECT_EQ(info.InitializationErrorString(), "report[0].scanreport.object");
    fc::ScanInfoReport bare;
    bare.set_threat_id(4);
    EXPECT_EQ(bare.InitializationErrorString(), "scanreport");
}

TEST(ComponentFcheckSchema, RequiredEnumOutsideItsValuesFailsTheParse)
{
    // ScanInfo {task_id 1, state 5}
    fc::ScanInfo info;
    EXPECT_FALSE(info.ParseFromString(wire({0x08, 0x01, 0x10, 0x05})));
    ASSERT_TRUE(info.ParsePartialFromString(wire({0x08, 0x01, 0x10, 0x05})));
    EXPECT_FALSE(info.has_state());
    expect_single_unknown_varint(info, 2, 5);
    EXPECT_TRUE(info.ParseFromString(wire({0x08, 0x01, 0x10, 0x04})));
    EXPECT_EQ(info.state(), fc::SCAN_STATE_FINISHED);

    // SCAN_INFO_NOTIFICATION carrying that ScanInfo
    fc::ServerMessage m;
    EXPECT_FALSE(m.ParseFromString(wire({0x08, 0x03, 0x22, 0x04, 0x08, 0x01, 0x10, 0x00})));
    EXPECT_TRUE(m.ParseFromString(wire({0x08, 0x03, 0x22, 0x04, 0x08, 0x01, 0x10, 0x01})));

    // LIST_DIR_RESPONSE whose entry has type 5
    EXPECT_FALSE(m.ParseFromString(wire({0x08, 0x04, 0x2A, 0x05, 0x0A, 0x01, 'n', 0x10, 0x05})));
    ASSERT_TRUE(m.ParseFromString(wire({0x08, 0x04, 0x2A, 0x05, 0x0A, 0x01, 'n', 0x10, 0x04})));
    EXPECT_EQ(m.direntry(0).type(), fc::DirEntry::DE_LINK_TO_FILE);
}

TEST(ComponentFcheckSchema, IncompleteClientPayloadFailsTheEnvelope)
{
    fc::ClientMessage m;
    m.set_tag(fc::ClientMessage::OPEN_FLOW);
    m.add_flow_path()->set_option_set(2);
    EXPECT_EQ(m.InitializationErrorString(), "flow_path[0].path");
    fc::ClientMessage parsed;
    EXPECT_FALSE(parsed.ParseFromString(m.SerializePartialAsString()));
    m.mutable_flow_path(0)->set_path("");
    EXPECT_TRUE(parsed.ParseFromString(m.SerializeAsString()));

    fc::ClientMessage report;
    report.set_tag(fc::ClientMessage::HANDLE_CURE_RESPONSE);
    report.mutable_scan_report()->add_virus()->set_name("v");
    report.mutable_scan_report()->set_object("o");
    EXPECT_EQ(report.InitializationErrorString(), "scan_report.virus[0].type");
    EXPECT_FALSE(parsed.ParseFromString(report.SerializePartialAsString()));
}

}  // namespace
