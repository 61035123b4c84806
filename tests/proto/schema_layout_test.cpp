// Layout of every schema file, read back through the generated descriptors:
// packages, imports, declared types, fields, oneofs, extension ranges,
// extensions, declared defaults and the custom options. A renumbered,
// retyped or relabelled field breaks the wire format with every peer.
#include <gtest/gtest.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/proto/proto_test_support.h"

#include "annotation.pb.h"
#include "application.pb.h"
#include "configd_smb_gardix_ipc.pb.h"
#include "fcheck_client_ipc.pb.h"
#include "lexmap.pb.h"
#include "list.pb.h"
#include "se_appinfo.pb.h"
#include "smb_gardix_appinfo.pb.h"
#include "smb_gardix_appstat.pb.h"
#include "smb_gardix_config.pb.h"
#include "vornd_appinfo.pb.h"

namespace {

using namespace proto_test;
using google::protobuf::DescriptorPool;
using google::protobuf::FileDescriptor;

const DescriptorPool* pool() { return DescriptorPool::generated_pool(); }

struct file_row_t {
  const char* file;
  const char* package;
  std::vector<std::string> imports;   // in declared order
  std::vector<std::string> messages;  // top level, in declared order unless noted
  std::vector<std::string> enums;
  std::vector<std::string> extensions;
};

const std::vector<file_row_t> k_files = {
    {"annotation.proto",
     "qn",
     {"google/protobuf/descriptor.proto"},
     {},
     {"LexHint"},
     {"app", "ini_section", "hint", "lex"}},
    {"error.proto", "qn", {"annotation.proto"}, {"Error"}, {"ErrorCode"}, {}},
    {"application.proto",
     "qn",
     {"annotation.proto", "error.proto"},
     {"AppInfo", "AppStat", "ComponentControl", "AppConfig", "AppExeInfo"},
     {"Application"},
     {}},
    {"log.proto", "qn", {"annotation.proto"}, {"Log"}, {"LogLevel"}, {}},
    {"remote_user.proto", "qn", {}, {"RemoteUser"}, {}, {}},
    {"file.proto", "qn", {}, {"XAttr", "FileStat"}, {}, {}},
    {"list.proto",
     "qn",
     {"annotation.proto", "network.proto", "scan_report.proto", "socket.proto", "url_category.proto", "protocol.proto",
      "pair.proto", "connection_match.proto", "dnsxl.proto"},
     {"StringList", "PathList", "IPAddressList", "IPSocketList", "IPNetworkList", "AnySocketList", "UrlCategoryList",
      "VirusTypeList", "VirusList", "ProtocolList", "StringPairList", "ConnectionMatchList", "DNSxLList", "IPList"},
     {},
     {}},
    {"lexmap.proto", "qn", {}, {"LexValue", "LexOption", "LexMap"}, {}, {}},
    {"network.proto", "qn", {}, {"IPNetwork"}, {}, {}},
    {"pair.proto", "qn", {}, {"StringPair"}, {}, {}},
    {"protocol.proto", "qn", {}, {}, {"Protocol"}, {}},
    {"scan_report.proto",
     "qn",
     {"annotation.proto"},
     {"Archive", "Virus", "ScanReport"},
     {"ArchiveType", "VirusType", "ScanError"},
     {}},
    {"socket.proto", "qn", {}, {"IPAddress", "IPSocket", "OptionalIPSocket", "IPSocketAnyPort", "AnySocket"}, {}, {}},
    {"url_category.proto", "qn", {"annotation.proto"}, {}, {"UrlCategory"}, {}},
    {"action.proto", "qn", {"annotation.proto"}, {}, {"FileAction", "ThreatOp", "QEntryAction"}, {}},
    {"quarantine.proto",
     "qn",
     {"action.proto", "application.proto", "error.proto", "file.proto", "scan_report.proto", "remote_user.proto"},
     {"QEntryOperation", "QEntry"},
     {},
     {}},
    {"disk.proto", "qn", {}, {"Partition", "Disk"}, {}, {}},
    {"dnsxl.proto", "qn", {}, {"DNSxL", "DNSxLReport"}, {}, {}},
    {"connection_match.proto", "qn", {}, {"ConnectionMatch"}, {}, {}},
    {"se_appinfo.proto", "qn", {"application.proto", "error.proto"}, {"SEVirusBase", "SEAppInfo"}, {}, {"se_info"}},
    {"vornd_appinfo.proto", "qn", {"application.proto", "se_appinfo.proto"}, {"VornDAppInfo"}, {}, {"vornd_info"}},
    {"smb_gardix_config.proto",
     "qn",
     {"annotation.proto", "application.proto", "list.proto", "log.proto"},
     {"SMBShareConfig", "SMBShareConfigs", "SMBGardixConfig"},
     {"SMBThreatAction"},
     {"smb_gardix_config"}},
    {"smb_gardix_appinfo.proto",
     "qn",
     {"application.proto", "error.proto"},
     {"SMBGardixAppInfo"},
     {},
     {"smb_gardix_info"}},
    {"smb_gardix_appstat.proto",
     "qn",
     {"application.proto"},
     {"SMBGardixShareStat", "SMBGardixAppStat"},
     {},
     {"smb_gardix_appstat"}},
    {"configd_smb_gardix_ipc.proto",
     "qn",
     {"application.proto", "error.proto", "smb_gardix_appinfo.proto", "smb_gardix_appstat.proto",
      "smb_gardix_config.proto"},
     {"SMBGardix2ConfigdMessage", "Configd2SMBGardixMessage"},
     {},
     {}},
    {"fcheck_client_ipc.proto",
     "fc",
     {"action.proto", "application.proto", "disk.proto", "error.proto", "file.proto", "quarantine.proto",
      "scan_report.proto"},
     {"ClientMessage", "ServerMessage", "ProxyOptions", "ActionSet", "FlowOptions", "FlowPath", "ScanRequest",
      "ScanInfoOptions", "ScanInfo", "ScanDetails", "ScanProgress", "ScanResult", "ScanInfoReport", "Handlers",
      "DirEntry", "QEntryId"},
     {"ScanState"},
     {}},
};

template <typename F>
std::set<std::string> names_of(int count, F get) {
  std::set<std::string> out;
  for (int i = 0; i < count; ++i) out.insert(get(i)->name());
  return out;
}

TEST(SchemaLayout, FilesPackagesImportsAndDeclaredTypes) {
  for (const auto& row : k_files) {
    SCOPED_TRACE(row.file);
    const FileDescriptor* file = pool()->FindFileByName(row.file);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->package(), row.package);
    EXPECT_EQ(file->syntax(), FileDescriptor::SYNTAX_PROTO2);
    std::vector<std::string> imports;
    for (int i = 0; i < file->dependency_count(); ++i) imports.push_back(file->dependency(i)->name());
    EXPECT_EQ(imports, row.imports);
    EXPECT_EQ(file->public_dependency_count(), 0);
    EXPECT_EQ(file->service_count(), 0);

    const auto as_set = [](const std::vector<std::string>& v) { return std::set<std::string>(v.begin(), v.end()); };
    EXPECT_EQ(names_of(file->message_type_count(), [&](int i) { return file->message_type(i); }), as_set(row.messages));
    EXPECT_EQ(names_of(file->enum_type_count(), [&](int i) { return file->enum_type(i); }), as_set(row.enums));
    EXPECT_EQ(names_of(file->extension_count(), [&](int i) { return file->extension(i); }), as_set(row.extensions));
  }
}

// Every message of every file, nested ones included.
std::vector<const Descriptor*> all_messages() {
  std::vector<const Descriptor*> out;
  std::vector<const Descriptor*> todo;
  for (const auto& row : k_files) {
    const FileDescriptor* file = pool()->FindFileByName(row.file);
    for (int i = 0; file && i < file->message_type_count(); ++i) todo.push_back(file->message_type(i));
  }
  while (!todo.empty()) {
    const Descriptor* d = todo.back();
    todo.pop_back();
    out.push_back(d);
    for (int i = 0; i < d->nested_type_count(); ++i) todo.push_back(d->nested_type(i));
  }
  return out;
}

// ---------------------------------------------------------------------------
// Fields, in declared order: "number name label type".

struct message_row_t {
  const char* message;
  std::vector<std::string> fields;
};

// The nineteen per-share settings, declared alike in the share entry and the
// global settings.
const std::vector<std::string> k_share_settings = {
    "100 excluded_path optional qn.StringList",
    "101 included_path optional qn.StringList",
    "102 alert_files optional bool",
    "200 on_known_virus optional qn.SMBThreatAction",
    "201 on_incurable optional qn.SMBThreatAction",
    "202 on_suspicious optional qn.SMBThreatAction",
    "203 on_adware optional qn.SMBThreatAction",
    "204 on_dialers optional qn.SMBThreatAction",
    "205 on_jokes optional qn.SMBThreatAction",
    "206 on_riskware optional qn.SMBThreatAction",
    "207 on_hacktools optional qn.SMBThreatAction",
    "220 block_on_error optional bool",
    "300 scan_timeout optional uint32",
    "301 heuristic_analysis optional bool",
    "302 packer_max_level optional uint32",
    "303 archive_max_level optional uint32",
    "304 mail_max_level optional uint32",
    "305 container_max_level optional uint32",
    "306 max_compression_ratio optional uint32",
};

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The scan options that fc.ProxyOptions and fc.FlowOptions share.
const std::vector<std::string> k_proxy_options = {
    "30 scan_timeout_ms optional uint32",       "31 heuristic_analysis optional bool",
    "32 packer_max_level optional uint32",      "33 archive_max_level optional uint32",
    "34 mail_max_level optional uint32",        "35 container_max_level optional uint32",
    "36 max_compression_ratio optional uint32",
};

std::vector<std::string> list_of(const char* name, const char* kind) {
  return {std::string("1 ") + name + " repeated " + kind};
}

const std::vector<std::string> k_file_actions = {
    "1 on_known_virus optional qn.FileAction", "2 on_incurable optional qn.FileAction",
    "3 on_suspicious optional qn.FileAction",  "4 on_adware optional qn.FileAction",
    "5 on_dialers optional qn.FileAction",     "6 on_jokes optional qn.FileAction",
    "7 on_riskware optional qn.FileAction",    "8 on_hacktools optional qn.FileAction",
};

const std::vector<message_row_t> k_messages = {
    {"qn.Error", {"1 code required qn.ErrorCode", "2 what optional string"}},
    {"qn.AppInfo",
     {"1000 app required qn.Application", "1001 pid required int32", "1002 config_revision optional uint32",
      "1100 switch_on_time optional uint64", "1101 switch_off_time optional uint64", "1102 exit_time optional uint64",
      "1103 exit_code optional qn.ErrorCode", "1110 suspended optional bool", "1111 suspend_time optional uint64",
      "1112 resume_time optional uint64"}},
    {"qn.AppStat", {"1000 app required qn.Application", "1001 pid required int32"}},
    {"qn.ComponentControl", {"1 app required qn.Application", "2 suspended required bool"}},
    {"qn.AppConfig", {"1000 app required qn.Application"}},
    {"qn.AppExeInfo",
     {"1 version optional string", "2 install_time optional uint64", "3 modification_time optional uint64",
      "4 exe_size optional uint64", "5 exe_md5 optional bytes", "6 exe_owner optional bytes"}},
    {"qn.Log",
     {"1 type required qn.Log.LogType", "2 facility optional qn.Log.LogFacility", "3 ident optional string",
      "10 path optional string", "20 show_timestamp optional bool"}},
    {"qn.RemoteUser", {"1 ip optional string", "2 user optional string", "3 domain optional string"}},
    {"qn.XAttr", {"1 name required string", "2 value required bytes"}},
    {"qn.FileStat",
     {"1 dev required uint64", "2 ino required uint64", "3 size optional uint64", "4 uid optional uint32",
      "5 gid optional uint32", "6 mode optional uint32", "7 mtime optional uint64", "8 ctime optional uint64",
      "20 rsrc_size optional uint64", "21 finder_info optional bytes", "22 ext_finder_info optional bytes",
      "23 uchg optional bool", "24 volume_name optional string", "25 volume_root optional string",
      "100 xattr repeated qn.XAttr"}},
    {"qn.StringList", list_of("item", "string")},
    {"qn.PathList", list_of("path", "string")},
    {"qn.IPAddressList", list_of("ip", "qn.IPAddress")},
    {"qn.IPSocketList", list_of("ip", "qn.IPSocket")},
    {"qn.IPNetworkList", list_of("network", "qn.IPNetwork")},
    {"qn.AnySocketList", list_of("socket", "qn.AnySocket")},
    {"qn.UrlCategoryList", list_of("item", "qn.UrlCategory")},
    {"qn.VirusTypeList", list_of("item", "qn.VirusType")},
    {"qn.VirusList", list_of("item", "qn.Virus")},
    {"qn.ProtocolList", list_of("item", "qn.Protocol")},
    {"qn.StringPairList", list_of("item", "qn.StringPair")},
    {"qn.ConnectionMatchList", list_of("item", "qn.ConnectionMatch")},
    {"qn.DNSxLList", list_of("item", "qn.DNSxL")},
    {"qn.IPList", {"1 net_list required qn.IPNetworkList", "2 addr_list required qn.IPAddressList"}},
    {"qn.LexValue", list_of("item", "string")},
    {"qn.LexOption", {"1 key required string", "2 value optional qn.LexValue", "3 map optional qn.LexMap"}},
    {"qn.LexMap", list_of("option", "qn.LexOption")},
    {"qn.IPNetwork", {"1 address required string", "2 mask required uint32"}},
    {"qn.StringPair", {"1 first required string", "2 second required string"}},
    {"qn.Archive", {"1 type required qn.ArchiveType", "2 name required string"}},
    {"qn.Virus", {"1 type required qn.VirusType", "2 name required string"}},
    {"qn.ScanReport",
     {"1 object required bytes",
      "2 size optional uint64",
      "3 packer repeated string",
      "4 archive optional qn.Archive",
      "5 compressed_size optional uint64",
      "6 virus repeated qn.Virus",
      "7 error optional qn.ScanError",
      "8 cured optional bool",
      "9 cured_by_deletion optional bool",
      "10 boot optional bool",
      "11 heuristic_analysis optional bool",
      "12 scan_timeout_ms optional uint32",
      "13 compression_ratio optional uint32",
      "14 core_fingerprint optional bytes",
      "15 new_path optional bytes",
      "16 cloud optional bool",
      "20 item repeated qn.ScanReport",
      "21 log repeated bytes",
      "22 user_time optional double",
      "23 system_time optional double",
      "50 packer_type repeated uint32",
      "51 archive_type optional uint32",
      "70 se_version optional string",
      "71 core_engine_version optional string",
      "72 virus_records optional uint64",
      "73 base_stamp optional uint64",
      "80 fork_pid optional uint32"}},
    {"qn.IPAddress", {"1 address required string"}},
    {"qn.IPSocket", {"1 address required string", "2 port required uint32"}},
    {"qn.OptionalIPSocket", {"1 socket optional qn.IPSocket"}},
    {"qn.IPSocketAnyPort", {"1 address required string", "2 port required uint32"}},
    {"qn.AnySocket", {"1 local optional string", "2 ip optional qn.IPSocket"}},
    {"qn.QEntryOperation",
     {"1 action required qn.QEntryAction", "2 action_time required uint64", "3 result required qn.ErrorCode",
      "5 restore_path optional string", "6 rescan_report optional qn.ScanReport"}},
    {"qn.QEntry",
     {"1 entry_id required string", "2 chunk_id optional bytes", "3 quarantine_dir optional bytes",
      "4 restore_path required bytes", "5 creation_time required uint64", "6 report required qn.ScanReport",
      "7 stat required qn.FileStat", "8 history repeated qn.QEntryOperation", "9 who optional qn.RemoteUser",
      "10 detection_time optional uint64", "11 origin optional qn.Application"}},
    {"qn.Partition",
     {"1 dev_path required string", "2 offset required uint64", "3 mount_point optional bytes",
      "4 label optional bytes"}},
    {"qn.Disk",
     {"1 dev_path required string", "2 cylinders required uint32", "3 heads required uint32",
      "4 sectors required uint32", "5 size required uint64", "6 mount_point optional bytes", "7 label optional bytes",
      "8 partitions repeated qn.Partition", "9 sector_size optional uint32"}},
    {"qn.DNSxL", {"1 zone required string", "2 mask required uint32", "3 value required uint32"}},
    {"qn.DNSxLReport", {"1 zone required string", "2 resource required string", "3 record repeated uint32"}},
    {"qn.ConnectionMatch", {"1 exe_path optional string", "2 address optional string", "3 port optional uint32"}},
    {"qn.SEVirusBase",
     {"1 path required string", "2 virus_records required uint32", "3 version required uint32",
      "4 timestamp required uint64", "5 md5 required bytes", "6 load_result required qn.ErrorCode",
      "7 order optional uint32", "8 type optional uint32", "9 sha1 optional bytes"}},
    {"qn.SEAppInfo",
     {"1 core_engine_version optional string", "2 virus_base repeated qn.SEVirusBase", "3 base_stamp optional uint64",
      "4 max_forks optional uint32", "5 core_fingerprint optional bytes", "6 api_version optional uint32",
      "7 vdb_fingerprint optional uint64"}},
    {"qn.VornDAppInfo", {"1 se_adaptor_info optional qn.SEAppInfo", "2 engine_es_id optional string"}},
    {"qn.SMBShareConfig", concat({k_share_settings, {"1000 tag required string"}})},
    {"qn.SMBShareConfigs", list_of("item", "qn.SMBShareConfig")},
    {"qn.SMBGardixConfig", concat({{"1 log_level optional qn.LogLevel", "2 log optional qn.Log",
                                    "3 exe_path optional string", "4 start optional bool"},
                                   k_share_settings,
                                   {"400 share optional qn.SMBShareConfigs", "500 smb_socket_path optional string",
                                    "501 samba_chroot_dir optional string", "510 action_delay optional uint32",
                                    "511 max_cache_size optional uint32", "1000 actual_log optional qn.Log"}})},
    {"qn.SMBGardixAppInfo", {"1 state required qn.ErrorCode"}},
    {"qn.SMBGardixShareStat",
     {"1 share_path required string", "10 base required uint64", "11 in required uint64", "12 out required uint64"}},
    {"qn.SMBGardixAppStat", list_of("shares", "qn.SMBGardixShareStat")},
    {"qn.SMBGardix2ConfigdMessage",
     {"1 tag required qn.SMBGardix2ConfigdMessage.MessageTag", "2 config_revision optional uint32",
      "4 uid optional uint32", "5 stat optional qn.SMBGardixAppStat", "6 info optional qn.SMBGardixAppInfo"}},
    {"qn.Configd2SMBGardixMessage",
     {"1 tag required qn.Configd2SMBGardixMessage.MessageTag", "2 config_revision optional uint32",
      "4 config optional qn.SMBGardixConfig", "6 socket_path optional string", "7 uid optional uint32",
      "8 appinfo repeated qn.AppInfo", "20 control optional qn.ComponentControl", "100 error optional qn.Error"}},
    {"fc.ClientMessage",
     {"1 tag required fc.ClientMessage.ClientMessageTag",
      "2 serial optional uint32",
      "3 scan_request optional fc.ScanRequest",
      "4 task_id optional uint32",
      "5 info_options optional fc.ScanInfoOptions",
      "6 path optional bytes",
      "7 token optional bytes",
      "10 threat_id optional int64",
      "12 history_id optional int64",
      "21 restore_path optional bytes",
      "22 op optional qn.ThreatOp",
      "24 qpath repeated bytes",
      "25 q_op optional qn.QEntryAction",
      "26 file_id optional int64",
      "27 shell_trace optional bool",
      "30 origin optional qn.Application",
      "31 pid optional uint32",
      "32 flow_options repeated fc.FlowOptions",
      "33 flow_path repeated fc.FlowPath",
      "40 proxy_options optional fc.ProxyOptions",
      "60 handlers optional fc.Handlers",
      "61 hpath repeated bytes",
      "62 scan_report optional qn.ScanReport",
      "63 qentry optional qn.QEntry",
      "100 error optional qn.Error"}},
    {"fc.ServerMessage",
     {"1 tag required fc.ServerMessage.ServerMessageTag",
      "2 serial optional uint32",
      "3 task_id optional uint32",
      "4 info repeated fc.ScanInfo",
      "5 direntry repeated fc.DirEntry",
      "10 disks repeated qn.Disk",
      "11 scan_report optional qn.ScanReport",
      "12 threat_id optional int64",
      "13 history_id optional int64",
      "15 dbpath optional string",
      "16 op optional qn.ThreatOp",
      "17 qpath repeated bytes",
      "18 q_op optional qn.QEntryAction",
      "19 qentry_ids repeated fc.QEntryId",
      "20 allow repeated uint32",
      "21 deny repeated uint32",
      "60 path optional bytes",
      "61 qentry optional qn.QEntry",
      "62 stat optional qn.FileStat",
      "63 restore_path optional bytes",
      "64 restore_dir_stat optional qn.FileStat",
      "65 site repeated bytes",
      "100 error optional qn.Error"}},
    {"fc.ProxyOptions", k_proxy_options},
    {"fc.ActionSet", k_file_actions},
    {"fc.FlowOptions", concat({{"1 option_set optional uint32", "3 actions optional fc.ActionSet"}, k_proxy_options})},
    {"fc.FlowPath", {"1 path required bytes", "2 option_set optional uint32", "3 ask_id optional uint32"}},
    {"fc.ScanRequest",
     {"1 included_path repeated bytes", "2 excluded_path repeated bytes", "3 boot_dev_path repeated bytes",
      "4 scan_processes optional bool", "5 follow_symlinks optional bool", "6 min_size_to_scan optional uint64",
      "7 max_size_to_scan optional uint64", "10 origin required qn.Application", "11 origin_pid required uint32",
      "12 comment optional string", "30 scan_timeout_ms optional uint32", "31 heuristic_analysis optional bool",
      "32 shell_trace optional bool", "40 packer_max_level optional uint32", "41 archive_max_level optional uint32",
      "42 mail_max_level optional uint32", "43 container_max_level optional uint32",
      "44 max_compression_ratio optional uint32", "45 max_size_to_extract optional uint64"}},
    {"fc.ScanInfoOptions",
     {"1 progress_interval_ms optional uint32", "3 report_clean optional bool", "4 report_errors optional bool",
      "5 report_threats optional bool"}},
    {"fc.ScanInfo",
     {"1 task_id required uint32", "2 state required fc.ScanState", "3 details optional fc.ScanDetails",
      "4 result optional fc.ScanResult", "5 progress optional fc.ScanProgress", "6 report repeated fc.ScanInfoReport"}},
    {"fc.ScanDetails",
     {"1 origin required qn.Application", "2 origin_pid required uint32", "3 origin_uid required uint32",
      "4 enqueue_time required uint64", "5 comment optional string"}},
    {"fc.ScanProgress",
     {"1 traverse_done required bool", "2 files_to_scan required uint64", "3 files_scanned required uint64",
      "4 scanning_now optional bytes"}},
    {"fc.ScanResult", {"1 stop_time required uint64", "2 final_status required qn.ErrorCode"}},
    {"fc.ScanInfoReport", {"1 scanreport required qn.ScanReport", "2 threat_id optional int64"}},
    {"fc.Handlers",
     {"1 cure optional bool", "2 quarantine optional bool", "3 delete optional bool", "7 restore_qentry optional bool",
      "10 discovery optional bool", "11 update_qentry optional bool"}},
    {"fc.DirEntry", {"1 name required bytes", "2 type required fc.DirEntry.Type", "3 can_read optional bool"}},
    {"fc.QEntryId", {"1 file_id required int64", "2 entry_id required string", "3 chunk_id required bytes"}},
};

TEST(SchemaLayout, EveryMessageHasExactlyItsFieldsInDeclaredOrder) {
  std::set<std::string> listed;
  for (const auto& row : k_messages) {
    SCOPED_TRACE(row.message);
    listed.insert(row.message);
    const Descriptor* d = pool()->FindMessageTypeByName(row.message);
    ASSERT_NE(d, nullptr);
    std::vector<std::string> fields;
    for (int i = 0; i < d->field_count(); ++i) {
      const FieldDescriptor* f = d->field(i);
      fields.push_back(std::to_string(f->number()) + " " + f->name() + " " + field_kind(f));
    }
    EXPECT_EQ(fields, row.fields);
  }
  for (const Descriptor* d : all_messages())
    EXPECT_EQ(listed.count(d->full_name()), 1u) << d->full_name() << " is not listed";
}

TEST(SchemaLayout, NoRepeatedFieldIsPacked) {
  // Peers read one key per element; a packed writer would not be understood.
  for (const Descriptor* d : all_messages())
    for (int i = 0; i < d->field_count(); ++i) EXPECT_FALSE(d->field(i)->is_packed()) << d->field(i)->full_name();
}

TEST(SchemaLayout, OneofsAndExtensionRanges) {
  std::map<std::string, std::vector<std::string>> oneofs;
  std::map<std::string, std::vector<int>> ranges;
  for (const Descriptor* d : all_messages()) {
    for (int i = 0; i < d->oneof_decl_count(); ++i) {
      std::vector<std::string>& members = oneofs[d->oneof_decl(i)->full_name()];
      for (int j = 0; j < d->oneof_decl(i)->field_count(); ++j) members.push_back(d->oneof_decl(i)->field(j)->name());
    }
    for (int i = 0; i < d->extension_range_count(); ++i) {
      ranges[d->full_name()].push_back(d->extension_range(i)->start);
      ranges[d->full_name()].push_back(d->extension_range(i)->end - 1);  // end is exclusive
    }
  }
  EXPECT_EQ(oneofs, (std::map<std::string, std::vector<std::string>>{{"qn.LexOption.data", {"value", "map"}},
                                                                     {"qn.AnySocket.type", {"local", "ip"}}}));
  EXPECT_EQ(ranges, (std::map<std::string, std::vector<int>>{
                        {"qn.AppInfo", {1, 999}}, {"qn.AppStat", {1, 999}}, {"qn.AppConfig", {1, 999}}}));
}

TEST(SchemaLayout, Extensions) {
  const struct {
    const char* name;
    const char* extendee;
    int number;
    const char* kind;
  } rows[] = {
      {"qn.app", "google.protobuf.MessageOptions", 50001, "optional int32"},
      {"qn.ini_section", "google.protobuf.MessageOptions", 50002, "optional string"},
      {"qn.hint", "google.protobuf.FieldOptions", 50001, "optional qn.LexHint"},
      {"qn.lex", "google.protobuf.EnumValueOptions", 50001, "optional string"},
      {"qn.se_info", "qn.AppInfo", 2, "optional qn.SEAppInfo"},
      {"qn.vornd_info", "qn.AppInfo", 52, "optional qn.VornDAppInfo"},
      {"qn.smb_gardix_info", "qn.AppInfo", 40, "optional qn.SMBGardixAppInfo"},
      {"qn.smb_gardix_appstat", "qn.AppStat", 40, "optional qn.SMBGardixAppStat"},
      {"qn.smb_gardix_config", "qn.AppConfig", 40, "optional qn.SMBGardixConfig"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const FieldDescriptor* ext = pool()->FindExtensionByName(row.name);
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(ext->containing_type()->full_name(), row.extendee);
    EXPECT_EQ(ext->number(), row.number);
    EXPECT_EQ(field_kind(ext), row.kind);
    EXPECT_EQ(ext->extension_scope(), nullptr);
    EXPECT_EQ(pool()->FindExtensionByNumber(ext->containing_type(), row.number), ext);
  }
  // The envelope extensions are numbered by the extending component.
  EXPECT_EQ(qn::se_info.number(), qn::APP_SCAN_ENGINE);
  EXPECT_EQ(qn::vornd_info.number(), qn::APP_VORND);
  EXPECT_EQ(qn::smb_gardix_info.number(), qn::APP_SMB_GARDIX);
  EXPECT_EQ(qn::smb_gardix_appstat.number(), qn::APP_SMB_GARDIX);
  EXPECT_EQ(qn::smb_gardix_config.number(), qn::APP_SMB_GARDIX);
}

// Which fields declare a default, and which value, as the schema text gives it.
// Only the scan report's three flags, the disk's sector size and the file
// checker's payload options declare one; every other field, qn.Log's type and
// facility and every settings field among them, relies on the implicit one.
TEST(SchemaLayout, DeclaredDefaults) {
  std::map<std::string, std::string> declared;
  for (const Descriptor* d : all_messages()) {
    for (int i = 0; i < d->field_count(); ++i) {
      const FieldDescriptor* f = d->field(i);
      if (!f->has_default_value()) continue;
      google::protobuf::FieldDescriptorProto text;
      f->CopyTo(&text);
      declared[f->full_name()] = text.default_value();
    }
  }
  std::map<std::string, std::string> expected = {
      {"qn.ScanReport.cured", "false"},
      {"qn.ScanReport.cured_by_deletion", "false"},
      {"qn.ScanReport.boot", "false"},
      {"qn.Disk.sector_size", "512"},
      {"fc.FlowOptions.option_set", "0"},
      {"fc.FlowPath.option_set", "0"},
      {"fc.ScanRequest.scan_processes", "false"},
      {"fc.ScanRequest.follow_symlinks", "false"},
      {"fc.ScanRequest.min_size_to_scan", "0"},
      {"fc.ScanRequest.max_size_to_scan", "18446744073709551615"},
      {"fc.ScanRequest.scan_timeout_ms", "0"},
      {"fc.ScanRequest.heuristic_analysis", "true"},
      {"fc.ScanRequest.shell_trace", "false"},
      {"fc.ScanRequest.packer_max_level", "8"},
      {"fc.ScanRequest.archive_max_level", "8"},
      {"fc.ScanRequest.mail_max_level", "8"},
      {"fc.ScanRequest.container_max_level", "8"},
      {"fc.ScanRequest.max_compression_ratio", "500"},
      {"fc.ScanRequest.max_size_to_extract", "18446744073709551615"},
      {"fc.ScanInfoOptions.progress_interval_ms", "0"},
      {"fc.ScanInfoOptions.report_clean", "false"},
      {"fc.ScanInfoOptions.report_errors", "false"},
      {"fc.ScanInfoOptions.report_threats", "false"},
  };
  const std::pair<const char*, const char*> proxy[] = {
      {"scan_timeout_ms", "30000"},     {"heuristic_analysis", "true"}, {"packer_max_level", "8"},
      {"archive_max_level", "0"},       {"mail_max_level", "8"},        {"container_max_level", "8"},
      {"max_compression_ratio", "500"},
  };
  for (const auto& option : proxy) {
    expected[std::string("fc.ProxyOptions.") + option.first] = option.second;
    expected[std::string("fc.FlowOptions.") + option.first] = option.second;
  }
  for (const char* action : {"on_known_virus", "on_incurable", "on_suspicious", "on_adware", "on_dialers", "on_jokes",
                             "on_riskware", "on_hacktools"})
    expected[std::string("fc.ActionSet.") + action] = "FILE_ACTION_REPORT";
  EXPECT_EQ(declared, expected);

  // Nor do the custom options declare one.
  for (const char* name : {"qn.app", "qn.ini_section", "qn.hint", "qn.lex"})
    EXPECT_FALSE(pool()->FindExtensionByName(name)->has_default_value()) << name;
}

// Message options only on the global settings; hints exactly on these fields.
TEST(SchemaLayout, CustomOptionsWhereTheSchemasUseThem) {
  std::map<std::string, std::string> message_options;
  std::map<std::string, qn::LexHint> hints;
  for (const Descriptor* d : all_messages()) {
    const auto& options = d->options();
    if (options.HasExtension(qn::app) || options.HasExtension(qn::ini_section))
      message_options[d->full_name()] =
          std::to_string(options.GetExtension(qn::app)) + " " + options.GetExtension(qn::ini_section);
    for (int i = 0; i < d->field_count(); ++i)
      if (d->field(i)->options().HasExtension(qn::hint))
        hints[d->field(i)->full_name()] = d->field(i)->options().GetExtension(qn::hint);
  }
  EXPECT_EQ(message_options, (std::map<std::string, std::string>{{"qn.SMBGardixConfig", "40 SMBGardix"}}));
  EXPECT_EQ(hints, (std::map<std::string, qn::LexHint>{
                       {"qn.PathList.path", qn::HINT_ABSPATH},
                       {"qn.SMBShareConfig.scan_timeout", qn::HINT_TIME},
                       {"qn.SMBShareConfig.heuristic_analysis", qn::HINT_ONOFF},
                       {"qn.SMBShareConfig.tag", qn::HINT_MAP_TAG},
                       {"qn.SMBGardixConfig.exe_path", qn::HINT_ABSPATH},
                       {"qn.SMBGardixConfig.scan_timeout", qn::HINT_TIME},
                       {"qn.SMBGardixConfig.heuristic_analysis", qn::HINT_ONOFF},
                       {"qn.SMBGardixConfig.share", qn::HINT_MAPS},
                       {"qn.SMBGardixConfig.action_delay", qn::HINT_TIME},
                       {"qn.SMBGardixConfig.max_cache_size", qn::HINT_SIZE},
                   }));
}

}  // namespace
