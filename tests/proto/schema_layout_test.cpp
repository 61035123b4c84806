// Layout of every schema, read back through the generated descriptors and
// compared with one signature per message, enum and extension. A renumbered,
// retyped or relabelled field or value breaks the wire format with every
// peer. The signatures also pin declared defaults, packing, oneofs, extension
// ranges, the custom options and the display texts.
#include <gtest/gtest.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>

#include <algorithm>
#include <climits>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/proto/proto_test_support.h"

#include "action.pb.h"
#include "annotation.pb.h"
#include "application.pb.h"
#include "configd_smb_gardix_ipc.pb.h"
#include "connection_match.pb.h"
#include "disk.pb.h"
#include "dnsxl.pb.h"
#include "error.pb.h"
#include "fcheck_client_ipc.pb.h"
#include "file.pb.h"
#include "lexmap.pb.h"
#include "list.pb.h"
#include "log.pb.h"
#include "network.pb.h"
#include "pair.pb.h"
#include "protocol.pb.h"
#include "quarantine.pb.h"
#include "remote_user.pb.h"
#include "scan_report.pb.h"
#include "se_appinfo.pb.h"
#include "smb_gardix_appinfo.pb.h"
#include "smb_gardix_appstat.pb.h"
#include "smb_gardix_config.pb.h"
#include "socket.pb.h"
#include "url_category.pb.h"
#include "vornd_appinfo.pb.h"

namespace {

using namespace proto_test;
using google::protobuf::Descriptor;
using google::protobuf::EnumDescriptor;
using google::protobuf::EnumValueDescriptor;
using google::protobuf::FieldDescriptor;

struct schema_t {
  std::vector<const Descriptor*> messages;  // nested ones included
  std::vector<const EnumDescriptor*> enums;
  std::vector<const FieldDescriptor*> extensions;
};

const schema_t& schema() {
  static const schema_t all = [] {
    schema_t s;
    // One type of each schema file, which also links the file in.
    for (const google::protobuf::FileDescriptor* file : {qn::LexHint_descriptor()->file(),
                                                         qn::Error::descriptor()->file(),
                                                         qn::AppInfo::descriptor()->file(),
                                                         qn::Log::descriptor()->file(),
                                                         qn::RemoteUser::descriptor()->file(),
                                                         qn::FileStat::descriptor()->file(),
                                                         qn::IPList::descriptor()->file(),
                                                         qn::LexMap::descriptor()->file(),
                                                         qn::IPNetwork::descriptor()->file(),
                                                         qn::StringPair::descriptor()->file(),
                                                         qn::Protocol_descriptor()->file(),
                                                         qn::ScanReport::descriptor()->file(),
                                                         qn::AnySocket::descriptor()->file(),
                                                         qn::UrlCategory_descriptor()->file(),
                                                         qn::ThreatOp_descriptor()->file(),
                                                         qn::QEntry::descriptor()->file(),
                                                         qn::Disk::descriptor()->file(),
                                                         qn::DNSxL::descriptor()->file(),
                                                         qn::ConnectionMatch::descriptor()->file(),
                                                         qn::SEAppInfo::descriptor()->file(),
                                                         qn::VornDAppInfo::descriptor()->file(),
                                                         qn::SMBGardixConfig::descriptor()->file(),
                                                         qn::SMBGardixAppInfo::descriptor()->file(),
                                                         qn::SMBGardixAppStat::descriptor()->file(),
                                                         qn::Configd2SMBGardixMessage::descriptor()->file(),
                                                         fc::ClientMessage::descriptor()->file()}) {
      for (int i = 0; i < file->message_type_count(); ++i) s.messages.push_back(file->message_type(i));
      for (int i = 0; i < file->enum_type_count(); ++i) s.enums.push_back(file->enum_type(i));
      for (int i = 0; i < file->extension_count(); ++i) s.extensions.push_back(file->extension(i));
    }
    for (size_t k = 0; k < s.messages.size(); ++k) {
      const Descriptor* d = s.messages[k];
      for (int i = 0; i < d->nested_type_count(); ++i) s.messages.push_back(d->nested_type(i));
      for (int i = 0; i < d->enum_type_count(); ++i) s.enums.push_back(d->enum_type(i));
      EXPECT_EQ(d->extension_count(), 0) << d->full_name();
    }
    return s;
  }();
  return all;
}

// Compared token by token, so that a mismatch names the token.
void expect_tokens(const std::vector<std::string>& actual, const std::string& expected, char separator) {
  std::vector<std::string> want;
  std::istringstream in(expected);
  for (std::string token; std::getline(in, token, separator);) want.push_back(token);
  for (size_t i = 0; i < std::max(actual.size(), want.size()); ++i)
    EXPECT_EQ(i < actual.size() ? actual[i] : "(none)", i < want.size() ? want[i] : "(none)") << "token " << i;
}

// "number:label:type:name", then "=default" as the schema text gives it,
// "@oneof" and "~hint". Labels: req, opt, rep, pck (packed).
std::string field_token(const FieldDescriptor* f) {
  const char* label = f->is_required() ? "req" : f->is_packed() ? "pck" : f->is_repeated() ? "rep" : "opt";
  const std::string type = f->enum_type()      ? f->enum_type()->name()
                           : f->message_type() ? f->message_type()->name()
                                               : FieldDescriptor::TypeName(f->type());
  std::string t = std::to_string(f->number()) + ":" + label + ":" + type + ":" + f->name();
  if (f->has_default_value()) {
    google::protobuf::FieldDescriptorProto text;
    f->CopyTo(&text);
    t += "=" + text.default_value();
  }
  if (f->containing_oneof()) t += "@" + f->containing_oneof()->name();
  if (f->options().HasExtension(qn::hint)) t += "~" + qn::LexHint_Name(f->options().GetExtension(qn::hint)).substr(5);
  return t;
}

// Fields in declared order, then "ext:first-last" per extension range and
// "opt:app:section" for the message options.
const std::map<std::string, std::string> k_messages = {
    {"qn.Error", "1:req:ErrorCode:code 2:opt:string:what"},
    {"qn.AppInfo",
     "1000:req:Application:app 1001:req:int32:pid 1002:opt:uint32:config_revision 1100:opt:uint64:switch_on_time "
     "1101:opt:uint64:switch_off_time 1102:opt:uint64:exit_time 1103:opt:ErrorCode:exit_code "
     "1110:opt:bool:suspended 1111:opt:uint64:suspend_time 1112:opt:uint64:resume_time ext:1-999"},
    {"qn.AppStat", "1000:req:Application:app 1001:req:int32:pid ext:1-999"},
    {"qn.ComponentControl", "1:req:Application:app 2:req:bool:suspended"},
    {"qn.AppConfig", "1000:req:Application:app ext:1-999"},
    {"qn.AppExeInfo",
     "1:opt:string:version 2:opt:uint64:install_time 3:opt:uint64:modification_time 4:opt:uint64:exe_size "
     "5:opt:bytes:exe_md5 6:opt:bytes:exe_owner"},
    {"qn.Log",
     "1:req:LogType:type 2:opt:LogFacility:facility 3:opt:string:ident 10:opt:string:path "
     "20:opt:bool:show_timestamp"},
    {"qn.RemoteUser", "1:opt:string:ip 2:opt:string:user 3:opt:string:domain"},
    {"qn.XAttr", "1:req:string:name 2:req:bytes:value"},
    {"qn.FileStat",
     "1:req:uint64:dev 2:req:uint64:ino 3:opt:uint64:size 4:opt:uint32:uid 5:opt:uint32:gid 6:opt:uint32:mode "
     "7:opt:uint64:mtime 8:opt:uint64:ctime 20:opt:uint64:rsrc_size 21:opt:bytes:finder_info "
     "22:opt:bytes:ext_finder_info 23:opt:bool:uchg 24:opt:string:volume_name 25:opt:string:volume_root "
     "100:rep:XAttr:xattr"},
    {"qn.StringList", "1:rep:string:item"},
    {"qn.PathList", "1:rep:string:path~ABSPATH"},
    {"qn.IPAddressList", "1:rep:IPAddress:ip"},
    {"qn.IPSocketList", "1:rep:IPSocket:ip"},
    {"qn.IPNetworkList", "1:rep:IPNetwork:network"},
    {"qn.AnySocketList", "1:rep:AnySocket:socket"},
    {"qn.UrlCategoryList", "1:rep:UrlCategory:item"},
    {"qn.VirusTypeList", "1:rep:VirusType:item"},
    {"qn.VirusList", "1:rep:Virus:item"},
    {"qn.ProtocolList", "1:rep:Protocol:item"},
    {"qn.StringPairList", "1:rep:StringPair:item"},
    {"qn.ConnectionMatchList", "1:rep:ConnectionMatch:item"},
    {"qn.DNSxLList", "1:rep:DNSxL:item"},
    {"qn.IPList", "1:req:IPNetworkList:net_list 2:req:IPAddressList:addr_list"},
    {"qn.LexValue", "1:rep:string:item"},
    {"qn.LexOption", "1:req:string:key 2:opt:LexValue:value@data 3:opt:LexMap:map@data"},
    {"qn.LexMap", "1:rep:LexOption:option"},
    {"qn.IPNetwork", "1:req:string:address 2:req:uint32:mask"},
    {"qn.StringPair", "1:req:string:first 2:req:string:second"},
    {"qn.Archive", "1:req:ArchiveType:type 2:req:string:name"},
    {"qn.Virus", "1:req:VirusType:type 2:req:string:name"},
    {"qn.ScanReport",
     "1:req:bytes:object 2:opt:uint64:size 3:rep:string:packer 4:opt:Archive:archive 5:opt:uint64:compressed_size "
     "6:rep:Virus:virus 7:opt:ScanError:error 8:opt:bool:cured=false 9:opt:bool:cured_by_deletion=false "
     "10:opt:bool:boot=false 11:opt:bool:heuristic_analysis 12:opt:uint32:scan_timeout_ms "
     "13:opt:uint32:compression_ratio 14:opt:bytes:core_fingerprint 15:opt:bytes:new_path 16:opt:bool:cloud "
     "20:rep:ScanReport:item 21:rep:bytes:log 22:opt:double:user_time 23:opt:double:system_time "
     "50:rep:uint32:packer_type 51:opt:uint32:archive_type 70:opt:string:se_version "
     "71:opt:string:core_engine_version 72:opt:uint64:virus_records 73:opt:uint64:base_stamp "
     "80:opt:uint32:fork_pid"},
    {"qn.IPAddress", "1:req:string:address"},
    {"qn.IPSocket", "1:req:string:address 2:req:uint32:port"},
    {"qn.OptionalIPSocket", "1:opt:IPSocket:socket"},
    {"qn.IPSocketAnyPort", "1:req:string:address 2:req:uint32:port"},
    {"qn.AnySocket", "1:opt:string:local@type 2:opt:IPSocket:ip@type"},
    {"qn.QEntryOperation",
     "1:req:QEntryAction:action 2:req:uint64:action_time 3:req:ErrorCode:result 5:opt:string:restore_path "
     "6:opt:ScanReport:rescan_report"},
    {"qn.QEntry",
     "1:req:string:entry_id 2:opt:bytes:chunk_id 3:opt:bytes:quarantine_dir 4:req:bytes:restore_path "
     "5:req:uint64:creation_time 6:req:ScanReport:report 7:req:FileStat:stat 8:rep:QEntryOperation:history "
     "9:opt:RemoteUser:who 10:opt:uint64:detection_time 11:opt:Application:origin"},
    {"qn.Partition", "1:req:string:dev_path 2:req:uint64:offset 3:opt:bytes:mount_point 4:opt:bytes:label"},
    {"qn.Disk",
     "1:req:string:dev_path 2:req:uint32:cylinders 3:req:uint32:heads 4:req:uint32:sectors 5:req:uint64:size "
     "6:opt:bytes:mount_point 7:opt:bytes:label 8:rep:Partition:partitions 9:opt:uint32:sector_size=512"},
    {"qn.DNSxL", "1:req:string:zone 2:req:uint32:mask 3:req:uint32:value"},
    {"qn.DNSxLReport", "1:req:string:zone 2:req:string:resource 3:rep:uint32:record"},
    {"qn.ConnectionMatch", "1:opt:string:exe_path 2:opt:string:address 3:opt:uint32:port"},
    {"qn.SEVirusBase",
     "1:req:string:path 2:req:uint32:virus_records 3:req:uint32:version 4:req:uint64:timestamp 5:req:bytes:md5 "
     "6:req:ErrorCode:load_result 7:opt:uint32:order 8:opt:uint32:type 9:opt:bytes:sha1"},
    {"qn.SEAppInfo",
     "1:opt:string:core_engine_version 2:rep:SEVirusBase:virus_base 3:opt:uint64:base_stamp "
     "4:opt:uint32:max_forks 5:opt:bytes:core_fingerprint 6:opt:uint32:api_version 7:opt:uint64:vdb_fingerprint"},
    {"qn.VornDAppInfo", "1:opt:SEAppInfo:se_adaptor_info 2:opt:string:engine_es_id"},
    {"qn.SMBShareConfig",
     "100:opt:StringList:excluded_path 101:opt:StringList:included_path 102:opt:bool:alert_files "
     "200:opt:SMBThreatAction:on_known_virus 201:opt:SMBThreatAction:on_incurable "
     "202:opt:SMBThreatAction:on_suspicious 203:opt:SMBThreatAction:on_adware 204:opt:SMBThreatAction:on_dialers "
     "205:opt:SMBThreatAction:on_jokes 206:opt:SMBThreatAction:on_riskware 207:opt:SMBThreatAction:on_hacktools "
     "220:opt:bool:block_on_error 300:opt:uint32:scan_timeout~TIME 301:opt:bool:heuristic_analysis~ONOFF "
     "302:opt:uint32:packer_max_level 303:opt:uint32:archive_max_level 304:opt:uint32:mail_max_level "
     "305:opt:uint32:container_max_level 306:opt:uint32:max_compression_ratio 1000:req:string:tag~MAP_TAG"},
    {"qn.SMBShareConfigs", "1:rep:SMBShareConfig:item"},
    {"qn.SMBGardixConfig",
     "1:opt:LogLevel:log_level 2:opt:Log:log 3:opt:string:exe_path~ABSPATH 4:opt:bool:start "
     "100:opt:StringList:excluded_path 101:opt:StringList:included_path 102:opt:bool:alert_files "
     "200:opt:SMBThreatAction:on_known_virus 201:opt:SMBThreatAction:on_incurable "
     "202:opt:SMBThreatAction:on_suspicious 203:opt:SMBThreatAction:on_adware 204:opt:SMBThreatAction:on_dialers "
     "205:opt:SMBThreatAction:on_jokes 206:opt:SMBThreatAction:on_riskware 207:opt:SMBThreatAction:on_hacktools "
     "220:opt:bool:block_on_error 300:opt:uint32:scan_timeout~TIME 301:opt:bool:heuristic_analysis~ONOFF "
     "302:opt:uint32:packer_max_level 303:opt:uint32:archive_max_level 304:opt:uint32:mail_max_level "
     "305:opt:uint32:container_max_level 306:opt:uint32:max_compression_ratio 400:opt:SMBShareConfigs:share~MAPS "
     "500:opt:string:smb_socket_path 501:opt:string:samba_chroot_dir 510:opt:uint32:action_delay~TIME "
     "511:opt:uint32:max_cache_size~SIZE 1000:opt:Log:actual_log opt:40:SMBGardix"},
    {"qn.SMBGardixAppInfo", "1:req:ErrorCode:state"},
    {"qn.SMBGardixShareStat", "1:req:string:share_path 10:req:uint64:base 11:req:uint64:in 12:req:uint64:out"},
    {"qn.SMBGardixAppStat", "1:rep:SMBGardixShareStat:shares"},
    {"qn.SMBGardix2ConfigdMessage",
     "1:req:MessageTag:tag 2:opt:uint32:config_revision 4:opt:uint32:uid 5:opt:SMBGardixAppStat:stat "
     "6:opt:SMBGardixAppInfo:info"},
    {"qn.Configd2SMBGardixMessage",
     "1:req:MessageTag:tag 2:opt:uint32:config_revision 4:opt:SMBGardixConfig:config 6:opt:string:socket_path "
     "7:opt:uint32:uid 8:rep:AppInfo:appinfo 20:opt:ComponentControl:control 100:opt:Error:error"},
    {"fc.ClientMessage",
     "1:req:ClientMessageTag:tag 2:opt:uint32:serial 3:opt:ScanRequest:scan_request 4:opt:uint32:task_id "
     "5:opt:ScanInfoOptions:info_options 6:opt:bytes:path 7:opt:bytes:token 10:opt:int64:threat_id "
     "12:opt:int64:history_id 21:opt:bytes:restore_path 22:opt:ThreatOp:op 24:rep:bytes:qpath "
     "25:opt:QEntryAction:q_op 26:opt:int64:file_id 27:opt:bool:shell_trace 30:opt:Application:origin "
     "31:opt:uint32:pid 32:rep:FlowOptions:flow_options 33:rep:FlowPath:flow_path "
     "40:opt:ProxyOptions:proxy_options 60:opt:Handlers:handlers 61:rep:bytes:hpath 62:opt:ScanReport:scan_report "
     "63:opt:QEntry:qentry 100:opt:Error:error"},
    {"fc.ServerMessage",
     "1:req:ServerMessageTag:tag 2:opt:uint32:serial 3:opt:uint32:task_id 4:rep:ScanInfo:info "
     "5:rep:DirEntry:direntry 10:rep:Disk:disks 11:opt:ScanReport:scan_report 12:opt:int64:threat_id "
     "13:opt:int64:history_id 15:opt:string:dbpath 16:opt:ThreatOp:op 17:rep:bytes:qpath 18:opt:QEntryAction:q_op "
     "19:rep:QEntryId:qentry_ids 20:rep:uint32:allow 21:rep:uint32:deny 60:opt:bytes:path 61:opt:QEntry:qentry "
     "62:opt:FileStat:stat 63:opt:bytes:restore_path 64:opt:FileStat:restore_dir_stat 65:rep:bytes:site "
     "100:opt:Error:error"},
    {"fc.ProxyOptions",
     "30:opt:uint32:scan_timeout_ms=30000 31:opt:bool:heuristic_analysis=true 32:opt:uint32:packer_max_level=8 "
     "33:opt:uint32:archive_max_level=0 34:opt:uint32:mail_max_level=8 35:opt:uint32:container_max_level=8 "
     "36:opt:uint32:max_compression_ratio=500"},
    {"fc.ActionSet",
     "1:opt:FileAction:on_known_virus=FILE_ACTION_REPORT 2:opt:FileAction:on_incurable=FILE_ACTION_REPORT "
     "3:opt:FileAction:on_suspicious=FILE_ACTION_REPORT 4:opt:FileAction:on_adware=FILE_ACTION_REPORT "
     "5:opt:FileAction:on_dialers=FILE_ACTION_REPORT 6:opt:FileAction:on_jokes=FILE_ACTION_REPORT "
     "7:opt:FileAction:on_riskware=FILE_ACTION_REPORT 8:opt:FileAction:on_hacktools=FILE_ACTION_REPORT"},
    {"fc.FlowOptions",
     "1:opt:uint32:option_set=0 3:opt:ActionSet:actions 30:opt:uint32:scan_timeout_ms=30000 "
     "31:opt:bool:heuristic_analysis=true 32:opt:uint32:packer_max_level=8 33:opt:uint32:archive_max_level=0 "
     "34:opt:uint32:mail_max_level=8 35:opt:uint32:container_max_level=8 36:opt:uint32:max_compression_ratio=500"},
    {"fc.FlowPath", "1:req:bytes:path 2:opt:uint32:option_set=0 3:opt:uint32:ask_id"},
    {"fc.ScanRequest",
     "1:rep:bytes:included_path 2:rep:bytes:excluded_path 3:rep:bytes:boot_dev_path "
     "4:opt:bool:scan_processes=false 5:opt:bool:follow_symlinks=false 6:opt:uint64:min_size_to_scan=0 "
     "7:opt:uint64:max_size_to_scan=18446744073709551615 10:req:Application:origin 11:req:uint32:origin_pid "
     "12:opt:string:comment 30:opt:uint32:scan_timeout_ms=0 31:opt:bool:heuristic_analysis=true "
     "32:opt:bool:shell_trace=false 40:opt:uint32:packer_max_level=8 41:opt:uint32:archive_max_level=8 "
     "42:opt:uint32:mail_max_level=8 43:opt:uint32:container_max_level=8 44:opt:uint32:max_compression_ratio=500 "
     "45:opt:uint64:max_size_to_extract=18446744073709551615"},
    {"fc.ScanInfoOptions",
     "1:opt:uint32:progress_interval_ms=0 3:opt:bool:report_clean=false 4:opt:bool:report_errors=false "
     "5:opt:bool:report_threats=false"},
    {"fc.ScanInfo",
     "1:req:uint32:task_id 2:req:ScanState:state 3:opt:ScanDetails:details 4:opt:ScanResult:result "
     "5:opt:ScanProgress:progress 6:rep:ScanInfoReport:report"},
    {"fc.ScanDetails",
     "1:req:Application:origin 2:req:uint32:origin_pid 3:req:uint32:origin_uid 4:req:uint64:enqueue_time "
     "5:opt:string:comment"},
    {"fc.ScanProgress",
     "1:req:bool:traverse_done 2:req:uint64:files_to_scan 3:req:uint64:files_scanned 4:opt:bytes:scanning_now"},
    {"fc.ScanResult", "1:req:uint64:stop_time 2:req:ErrorCode:final_status"},
    {"fc.ScanInfoReport", "1:req:ScanReport:scanreport 2:opt:int64:threat_id"},
    {"fc.Handlers",
     "1:opt:bool:cure 2:opt:bool:quarantine 3:opt:bool:delete 7:opt:bool:restore_qentry 10:opt:bool:discovery "
     "11:opt:bool:update_qentry"},
    {"fc.DirEntry", "1:req:bytes:name 2:req:Type:type 3:opt:bool:can_read"},
    {"fc.QEntryId", "1:req:int64:file_id 2:req:string:entry_id 3:req:bytes:chunk_id"},
};

TEST(SchemaLayout, EveryMessageMatchesItsSignature) {
  std::set<std::string> seen;
  for (const Descriptor* d : schema().messages) {
    SCOPED_TRACE(d->full_name());
    const auto row = k_messages.find(d->full_name());
    ASSERT_NE(row, k_messages.end()) << "not listed";
    seen.insert(row->first);
    std::vector<std::string> tokens;
    for (int i = 0; i < d->field_count(); ++i) tokens.push_back(field_token(d->field(i)));
    for (int i = 0; i < d->extension_range_count(); ++i)
      tokens.push_back("ext:" + std::to_string(d->extension_range(i)->start) + "-" +
                       std::to_string(d->extension_range(i)->end - 1));  // end is exclusive
    const auto& options = d->options();
    if (options.HasExtension(qn::app) || options.HasExtension(qn::ini_section))
      tokens.push_back("opt:" + std::to_string(options.GetExtension(qn::app)) + ":" +
                       options.GetExtension(qn::ini_section));
    expect_tokens(tokens, row->second, ' ');
  }
  EXPECT_EQ(seen.size(), k_messages.size());
}

TEST(SchemaLayout, ExtensionsAndTheirTargets) {
  const std::map<std::string, std::string> expected = {
      {"qn.app", "google.protobuf.MessageOptions 50001:opt:int32:app"},
      {"qn.ini_section", "google.protobuf.MessageOptions 50002:opt:string:ini_section"},
      {"qn.hint", "google.protobuf.FieldOptions 50001:opt:LexHint:hint"},
      {"qn.lex", "google.protobuf.EnumValueOptions 50001:opt:string:lex"},
      {"qn.se_info", "qn.AppInfo 2:opt:SEAppInfo:se_info"},
      {"qn.vornd_info", "qn.AppInfo 52:opt:VornDAppInfo:vornd_info"},
      {"qn.smb_gardix_info", "qn.AppInfo 40:opt:SMBGardixAppInfo:smb_gardix_info"},
      {"qn.smb_gardix_appstat", "qn.AppStat 40:opt:SMBGardixAppStat:smb_gardix_appstat"},
      {"qn.smb_gardix_config", "qn.AppConfig 40:opt:SMBGardixConfig:smb_gardix_config"},
  };
  std::map<std::string, std::string> actual;
  for (const FieldDescriptor* ext : schema().extensions)
    actual[ext->full_name()] = ext->containing_type()->full_name() + " " + field_token(ext);
  EXPECT_EQ(actual, expected);
}

// ---------------------------------------------------------------------------
// Enums: "NAME=number:text" in declared order; the first is the implicit
// default. Values left to us (`others`) are only required to exist under
// the enum's prefix with a text of their own.

struct enum_row_t {
  bool (*is_valid)(int);
  std::string values;
  std::set<int> others = {};
  std::string prefix = {};
};

const std::map<std::string, enum_row_t> k_enums = {
    {"qn.LexHint",
     {qn::LexHint_IsValid,
      "HINT_NONE=0|HINT_MAP=1|HINT_MAPS=2|HINT_MAP_TAG=3|HINT_NODIFF=4|HINT_ES_ONLY=5|HINT_ABSPATH=10|"
      "HINT_ABSPATHNONEMPTY=11|HINT_TIME=12|HINT_SIZE=13|HINT_ONOFF=14|HINT_DEPRECATED=15|HINT_OPTTIME=16"}},
    {"qn.ErrorCode",
     {qn::ErrorCode_IsValid,
      "EC_OK=0:Success|"
      "EC_MONITOR_IPC_ERROR=1:Error on monitor channel|"
      "EC_ALREADY_IN_PROGRESS=2:Operation is already in progress|"
      "EC_IN_PENDING_STATE=3:Operation is in pending state|"
      "EC_INTERRUPTED_BY_USER=4:Interrupted by user|"
      "EC_CANCELED=5:Operation canceled|"
      "EC_LINK_DISCONNECTED=6:Link disconnected|"
      "EC_BAD_MESSAGE_SIZE=7:Invalid IPC message size|"
      "EC_BAD_MESSAGE_FORMAT=8:Invalid IPC message format|"
      "EC_NOT_READY=9:Not ready|"
      "EC_NOT_INSTALLED=10:Component is not installed|"
      "EC_UNEXPECTED_MESSAGE=11:Unexpected IPC message|"
      "EC_PROTOCOL_VIOLATION=12:Protocol violation|"
      "EC_UNKNOWN_STATE=13:Subsystem state is unknown|"
      "EC_NOT_ABSOLUTE_PATH=20:Path must be absolute|"
      "EC_NO_MEMORY=21:Not enough memory|"
      "EC_IO_ERROR=22:IO error|"
      "EC_NO_SUCH_ENTRY=23:No such file or directory|"
      "EC_PERMISSION_DENIED=24:Permission denied|"
      "EC_NOT_A_DIRECTORY=25:Not a directory|"
      "EC_DATA_CORRUPTED=26:Data file corrupted|"
      "EC_FILE_EXISTS=27:File already exists|"
      "EC_READ_ONLY_FS=28:Read-only file system|"
      "EC_NETWORK_ERROR=29:Network error|"
      "EC_NOT_A_DRIVE=30:Not a drive|"
      "EC_UNEXPECTED_EOF=31:Unexpected EOF|"
      "EC_FILE_WAS_CHANGED=32:File was changed|"
      "EC_NOT_A_REGULAR_FILE=33:Not a regular file|"
      "EC_NAME_ALREADY_IN_USE=34:Name already in use|"
      "EC_HOST_OFFLINE=35:Host is offline|"
      "EC_LIMIT_REACHED=36:Resource limit reached|"
      "EC_CROSS_DEVICE_LINK=37:Mounting points are different|"
      "EC_UNPACKING_ERROR=38:Unpacking error|"
      "EC_BASE_CORRUPTED=40:Virus base corrupted|"
      "EC_OLD_BASE_VERSION=41:Non-supported virus database version|"
      "EC_EMPTY_BASE=42:Empty virus database|"
      "EC_CAN_NOT_BE_CURED=43:Object cannot be cured|"
      "EC_INVALID_BASE_SET=44:Non-supported virus database combination|"
      "EC_SCAN_LIMIT_REACHED=45:Scan limit reached|"
      "EC_AUTH_FAILED=47:Authentication failed|"
      "EC_NOT_AUTHORIZED=48:Authorization failed|"
      "EC_INVALID_TOKEN=49:Access token is invalid|"
      "EC_DB_COMMON_ERROR=50:DBMS general error|"
      "EC_DB_OPEN_ERROR=51:Cannot open database|"
      "EC_DB_CONN_CLOSED=52:Connection closed by DBMS|"
      "EC_INVALID_ARGUMENT=60:Invalid argument|"
      "EC_INVALID_OPERATION=61:Invalid operation|"
      "EC_ROOT_ONLY=62:Superuser privileges required|"
      "EC_STANDALONE_MODE_ONLY=63:Not allowed in central protection mode|"
      "EC_NON_SUPPORTED_OS=64:Non-supported OS|"
      "EC_NOT_IMPLEMENTED=65:Feature not implemented|"
      "EC_UNKNOWN_OPTION=66:Unknown option|"
      "EC_UNKNOWN_SECTION=67:Unknown section|"
      "EC_INVALID_OPTION_VALUE=68:Invalid option value|"
      "EC_INVALID_STATE=69:Invalid state|"
      "EC_NOT_LIST_OPTION=70:Only one value allowed|"
      "EC_INVALID_TAG=71:Tag value is invalid|"
      "EC_RECORD_NOT_FOUND=80:Record not found|"
      "EC_RECORD_BUSY=81:Record is in process now|"
      "EC_QUARANTINED_FILE=82:File has already been quarantined|"
      "EC_NO_ZONE_IN_CLOUD=83:Update zone is not provided by cloud|"
      "EC_NO_ZONE_ON_DISK=84:Update zone is not provided on disk|"
      "EC_APP_SUSPENDED=88:Process suspended by the administrator|"
      "EC_BACKUP_FAILED=89:Cannot backup before update|"
      "EC_BAD_LST_FILE=91:Invalid LST file|"
      "EC_BAD_LZMA_FILE=92:Invalid compressed file|"
      "EC_PROXY_AUTH_ERROR=93:Proxy authentication error|"
      "EC_NO_UPDATE_SERVERS=94:No update servers available|"
      "EC_NETWORK_TIMEDOUT=97:Network operation timed out|"
      "EC_BAD_CHECKSUM=98:Invalid checksum|"
      "EC_BAD_CONFIG=102:Invalid configuration|"
      "EC_BAD_EXECUTABLE=104:Invalid executable file|"
      "EC_NO_CORE_ENGINE=105:Core engine is not available|"
      "EC_NO_VIRUS_BASES=106:No virus databases|"
      "EC_APP_TERMINATED=107:Process terminated by signal|"
      "EC_APP_CRASHED=108:Unexpected process termination|"
      "EC_INCOMPATIBLE=109:Incompatible software detected|"
      "EC_NO_LINUX_NSS=111:NSS is not available|"
      "EC_NO_KERNEL_MODULE=113:Kernel module is not available|"
      "EC_NO_VORND=114:VornD is not available|"
      "EC_NO_SCAN_ENGINE=119:DiziDaravi is not available|"
      "EC_NO_FILE_CHECK=120:DazaVadov is not available|"
      "EC_UNEXPECTED_ERROR=125:Unexpected error",
      {85, 90, 110, 112, 115, 116, 117, 118, 121, 122, 123, 124},
      "EC_"}},
    {"qn.Application",
     {qn::Application_IsValid,
      "APP_CONFIGD=1:ConfigD|"
      "APP_SCAN_ENGINE=2:DiziDaravi|"
      "APP_FILE_CHECK=3:DazaVadov|"
      "APP_SMB_GARDIX=40:SMBGardix|"
      "APP_VORND=52:VornD|"
      "APP_GENERIC=99",
      {4,  5,  6,   7,   8,   9,   10,  20,  21,  41,  42,  43,  44,  45,  46,
       50, 60, 100, 102, 103, 104, 200, 201, 202, 203, 205, 206, 300, 400, 500},
      "APP_"}},
    {"qn.LogLevel",
     {qn::LogLevel_IsValid,
      "LOG_LEVEL_DEBUG=1:Debug|"
      "LOG_LEVEL_INFO=2:Info|"
      "LOG_LEVEL_NOTICE=3:Notice|"
      "LOG_LEVEL_WARNING=4:Warning|"
      "LOG_LEVEL_ERROR=5:Error"}},
    {"qn.Protocol", {qn::Protocol_IsValid, "SMTP=1|POP3=2|IMAP=3|HTTP=4|FTP=5"}},
    {"qn.ArchiveType", {qn::ArchiveType_IsValid, "SE_ARCHIVE=1:Archive|SE_MAIL=2:Mail|SE_CONTAINER=3:Container"}},
    {"qn.VirusType",
     {qn::VirusType_IsValid,
      "SE_KNOWN_VIRUS=1:Known virus|"
      "SE_VIRUS_MODIFICATION=2:Virus modification|"
      "SE_UNKNOWN_VIRUS=3:Unknown virus|"
      "SE_ADWARE=4:Adware|"
      "SE_DIALER=5:Dialer|"
      "SE_JOKE=6:Joke program|"
      "SE_RISKWARE=7:Riskware|"
      "SE_HACKTOOL=8:Hacktool"}},
    {"qn.ScanError",
     {qn::ScanError_IsValid,
      "SE_PATH_NOT_ABSOLUTE=1:Path is not absolute|"
      "SE_FILE_NOT_FOUND=2:File not found|"
      "SE_FILE_NOT_REGULAR=3:Not a regular file|"
      "SE_FILE_NOT_BLOCK_DEVICE=4:Not a block device|"
      "SE_NAME_TOO_LONG=5:Path or filename is too long|"
      "SE_NO_ACCESS=6:Permission denied|"
      "SE_READ_ERROR=7:Read error|"
      "SE_WRITE_ERROR=8:Write error|"
      "SE_FILE_TOO_LARGE=9:File size too big|"
      "SE_FILE_BUSY=10:File is busy|"
      "SE_UNPACKING_ERROR=20:Unpacking error|"
      "SE_PASSWORD_PROTECTED=21:Password protected|"
      "SE_ARCH_CRC_ERROR=22:Archive CRC error|"
      "SE_ARCH_INVALID_HEADER=23:Invalid archive header|"
      "SE_ARCH_NO_MEMORY=24:Not enough memory to process archive|"
      "SE_ARCH_INCOMPLETE=25:Incomplete archive|"
      "SE_CAN_NOT_BE_CURED=26:Cannot be cured|"
      "SE_PACKER_LEVEL_LIMIT=30:Packer nesting level limit reached|"
      "SE_ARCHIVE_LEVEL_LIMIT=31:Archive nesting level limit reached|"
      "SE_MAIL_LEVEL_LIMIT=32:Mail nesting level limit reached|"
      "SE_CONTAINER_LEVEL_LIMIT=33:Container nesting level limit reached|"
      "SE_COMPRESSION_LIMIT=34:Compression ratio limit reached|"
      "SE_REPORT_SIZE_LIMIT=35:Report size limit reached|"
      "SE_ARCHIVE_SIZE_LIMIT=36:Archive size limit reached|"
      "SE_OBJECT_SIZE_LIMIT=37:Object size limit reached|"
      "SE_SCAN_TIMEOUT=40:Scan timeout expired|"
      "SE_ENGINE_CRASH=41:Engine crash detected|"
      "SE_ENGINE_HANGUP=42:Engine hang-up detected|"
      "SE_ENGINE_NOT_READY=43:Engine not available|"
      "SE_ENGINE_ERROR=44:Engine internal error|"
      "SE_MULTISCAN_TOO_LATE=46:Cannot join multiscan|"
      "SE_CURING_LIMIT_REACHED=47:Curing limit reached|"
      "SE_REPORT_RECURSION_LIMIT=48:Report recursion limit reached|"
      "SE_NON_SUPPORTED_DISK=50:Non-supported disk|"
      "SE_UNEXPECTED_ERROR=100:Unexpected error"}},
    {"qn.UrlCategory",
     {qn::UrlCategory_IsValid,
      "UC_INFECTION_SOURCE=1:Known infection source|"
      "UC_NOT_RECOMMENDED=2:Not recommended site|"
      "UC_ADULT_CONTENT=3:Adult content|"
      "UC_VIOLENCE=4:Violence|"
      "UC_WEAPONS=5:Weapons|"
      "UC_GAMBLING=6:Gambling|"
      "UC_DRUGS=7:Drugs|"
      "UC_OBSCENE_LANGUAGE=8:Obscene language|"
      "UC_CHATS=9:Chats|"
      "UC_TERRORISM=10:Terrorism|"
      "UC_FREE_EMAIL=11:Free email service|"
      "UC_SOCIAL_NETWORKS=12:Social networks|"
      "UC_OWNERS_NOTICE=13:Copyright owner's notice|"
      "UC_ONLINE_GAMES=14:Online games|"
      "UC_ANONYMIZERS=15:Anonymizers|"
      "UC_CRYPTOCURRENCY_MINING_POOLS=16:Cryptocurrency mining pools|"
      "UC_JOBS=17:Jobs|"
      "UC_BLACK_LIST=20:Black list"}},
    {"qn.FileAction",
     {qn::FileAction_IsValid,
      "FILE_ACTION_CURE=1:Cure|"
      "FILE_ACTION_QUARANTINE=2:Quarantine|"
      "FILE_ACTION_DELETE=3:Delete|"
      "FILE_ACTION_REPORT=4:Report|"
      "FILE_ACTION_IGNORE=5:Ignore"}},
    {"qn.ThreatOp",
     {qn::ThreatOp_IsValid,
      "THREAT_OP_CURE=1:Cure|"
      "THREAT_OP_CURE_OR_QUARANTINE=3:Cure or quarantine|"
      "THREAT_OP_CURE_OR_DELETE=4:Cure or delete|"
      "THREAT_OP_QUARANTINE=2:Quarantine|"
      "THREAT_OP_DELETE=5:Delete|"
      "THREAT_OP_REPORT=6:Report|"
      "THREAT_OP_IGNORE=7:Ignore"}},
    {"qn.QEntryAction",
     {qn::QEntryAction_IsValid,
      "QENTRY_ACTION_DELETE=1:Delete|"
      "QENTRY_ACTION_RESTORE=2:Restore|"
      "QENTRY_ACTION_RESCAN=3:Rescan|"
      "QENTRY_ACTION_CURE=4:Cure"}},
    {"qn.SMBThreatAction",
     {qn::SMBThreatAction_IsValid,
      "SMB_PASS=1:Pass|"
      "SMB_BLOCK=2:Block|"
      "SMB_CURE=3:Cure|"
      "SMB_QUARANTINE=4:Quarantine|"
      "SMB_DELETE=5:Delete|"
      "SMB_REPORT=6:Report"}},
    {"fc.ScanState",
     {fc::ScanState_IsValid, "SCAN_STATE_PENDING=1|SCAN_STATE_RUNNING=2|SCAN_STATE_FINISHING=3|SCAN_STATE_FINISHED=4"}},
    {"qn.Log.LogType",
     {qn::Log_LogType_IsValid,
      "SYSLOG=1:Syslog|"
      "FILE=2:File|"
      "STDERR=3:Stderr|"
      "AUTO=4:Auto"}},
    {"qn.Log.LogFacility",
     {qn::Log_LogFacility_IsValid,
      "DAEMON=1:Daemon|"
      "USER=2:User|"
      "MAIL=3:Mail|"
      "LOCAL0=10:Local0|"
      "LOCAL1=11:Local1|"
      "LOCAL2=12:Local2|"
      "LOCAL3=13:Local3|"
      "LOCAL4=14:Local4|"
      "LOCAL5=15:Local5|"
      "LOCAL6=16:Local6|"
      "LOCAL7=17:Local7"}},
    {"qn.SMBGardix2ConfigdMessage.MessageTag",
     {qn::SMBGardix2ConfigdMessage_MessageTag_IsValid,
      "GET_CONFIG_REQUEST=1|MY_INFO_NOTIFICATION=2|MY_STAT_NOTIFICATION=3|GET_FCHECK_REQUEST=4"}},
    {"qn.Configd2SMBGardixMessage.MessageTag",
     {qn::Configd2SMBGardixMessage_MessageTag_IsValid,
      "GET_CONFIG_RESPONSE=1|GET_FCHECK_RESPONSE=2|APPINFO_NOTIFICATION=3"}},
    {"fc.ClientMessage.ClientMessageTag",
     {fc::ClientMessage_ClientMessageTag_IsValid,
      "START_SCAN_REQUEST=1|INTERRUPT_SCAN_REQUEST=2|SUBSCRIBE_TO_SCAN_INFO=3|UNSUBSCRIBE_FROM_SCAN_INFO=4|"
      "LIST_DIR_REQUEST=5|SUBSCRIBE_TO_THREATS=10|UNSUBSCRIBE_FROM_THREATS=11|THREAT_OP_REQUEST=12|"
      "THREAT_SYNC_REQUEST=13|MY_THREAT_NOTIFICATION=14|DISCOVERY_QUARANTINE_REQUEST=20|SUBSCRIBE_TO_QUARANTINE=21|"
      "UNSUBSCRIBE_FROM_QUARANTINE=22|QUARANTINE_OP_REQUEST=23|OPEN_FLOW=30|FLOW_OPTIONS_NOTIFICATION=31|"
      "FLOW_DATA_NOTIFICATION=32|CLOSE_FLOW_REQUEST=33|OPEN_PROXY=40|PROXY_OPTIONS_NOTIFICATION=41|"
      "PROXY_SCAN_REQUEST=42|CLOSE_PROXY_REQUEST=49|ENUMERATE_DISKS_REQUEST=50|REGISTER_HANDLERS_REQUEST=60|"
      "HANDLE_CURE_RESPONSE=61|HANDLE_QUARANTINE_RESPONSE=62|HANDLE_DELETE_RESPONSE=63|"
      "HANDLE_RESTORE_QENTRY_RESPONSE=67|HANDLE_DISCOVERY_RESPONSE=70|HANDLE_UPDATE_QENTRY_RESPONSE=71"}},
    {"fc.ServerMessage.ServerMessageTag",
     {fc::ServerMessage_ServerMessageTag_IsValid,
      "START_SCAN_RESPONSE=1|INTERRUPT_SCAN_RESPONSE=2|SCAN_INFO_NOTIFICATION=3|LIST_DIR_RESPONSE=4|"
      "THREATS_SUBSCRIBED=8|THREATS_ALARM=9|THREATS_NOTIFICATION=10|THREATS_OP_RESPONSE=11|THREAT_SYNC_RESPONSE=12|"
      "DISCOVERY_QUARANTINE_RESPONSE=20|QUARANTINE_SUBSCRIBED=21|QUARANTINE_NOTIFICATION=22|QUARANTINE_ALARM=23|"
      "QUARANTINE_OP_RESPONSE=24|FLOW_READY=31|CLOSE_FLOW_RESPONSE=32|FLOW_ALARM=33|FLOW_ANSWER=34|PROXY_READY=40|"
      "PROXY_SCAN_RESPONSE=41|CLOSE_PROXY_RESPONSE=48|PROXY_ALARM=49|ENUMERATE_DISKS_RESPONSE=50|"
      "REGISTER_HANDLERS_RESPONSE=60|HANDLE_CURE_REQUEST=61|HANDLE_QUARANTINE_REQUEST=62|HANDLE_DELETE_REQUEST=63|"
      "HANDLE_RESTORE_QENTRY_REQUEST=67|HANDLE_DISCOVERY_REQUEST=70|HANDLE_UPDATE_QENTRY_REQUEST=71"}},
    {"fc.DirEntry.Type", {fc::DirEntry_Type_IsValid, "DE_DIR=1|DE_FILE=2|DE_LINK_TO_DIR=3|DE_LINK_TO_FILE=4"}},
};

std::string value_token(const EnumValueDescriptor* v) {
  std::string t = v->name() + "=" + std::to_string(v->number());
  if (v->options().HasExtension(qn::lex)) t += ":" + v->options().GetExtension(qn::lex);
  google::protobuf::EnumValueOptions rest = v->options();
  rest.ClearExtension(qn::lex);
  if (rest.ByteSizeLong() != 0) t += "+options";  // the texts are the only value options
  return t;
}

TEST(SchemaEnums, EveryEnumMatchesItsSignatureAndNothingElseIsValid) {
  std::set<std::string> seen;
  for (const EnumDescriptor* e : schema().enums) {
    SCOPED_TRACE(e->full_name());
    const auto row = k_enums.find(e->full_name());
    ASSERT_NE(row, k_enums.end()) << "not listed";
    seen.insert(row->first);
    std::vector<std::string> tokens;
    std::set<int> numbers;
    std::map<std::string, int> texts;  // how many values show each text
    for (int i = 0; i < e->value_count(); ++i) {
      const EnumValueDescriptor* v = e->value(i);
      numbers.insert(v->number());
      if (!row->second.others.count(v->number())) tokens.push_back(value_token(v));
      if (v->options().HasExtension(qn::lex)) ++texts[v->options().GetExtension(qn::lex)];
    }
    expect_tokens(tokens, row->second.values, '|');
    for (int number : row->second.others) {
      const EnumValueDescriptor* v = e->FindValueByNumber(number);
      ASSERT_NE(v, nullptr) << number;
      EXPECT_EQ(v->name().rfind(row->second.prefix, 0), 0u) << v->name();
      const std::string text = v->options().GetExtension(qn::lex);
      EXPECT_NE(text, "") << v->name();
      EXPECT_EQ(texts[text], 1) << "text shared: " << text;
    }
    // Valid are exactly the values, over a span and at the extremes of int.
    for (int n = -1100; n <= 1100; ++n) EXPECT_EQ(row->second.is_valid(n), numbers.count(n) == 1) << n;
    EXPECT_FALSE(row->second.is_valid(INT_MIN));
    EXPECT_FALSE(row->second.is_valid(INT_MAX));
  }
  EXPECT_EQ(seen.size(), k_enums.size());
}

}  // namespace
