// Layout of the shared message schemas, read back through the generated
// descriptors: files, imports, messages, fields, extension ranges and
// extensions. A renumbered, retyped or relabelled field breaks the wire
// format with every peer, so each one is pinned here.
#include <gtest/gtest.h>

#include <google/protobuf/descriptor.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "action.pb.h"
#include "annotation.pb.h"
#include "application.pb.h"
#include "connection_match.pb.h"
#include "disk.pb.h"
#include "dnsxl.pb.h"
#include "error.pb.h"
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
#include "socket.pb.h"
#include "url_category.pb.h"
#include "vornd_appinfo.pb.h"

namespace {

using google::protobuf::Descriptor;
using google::protobuf::DescriptorPool;
using google::protobuf::FieldDescriptor;
using google::protobuf::FileDescriptor;

const DescriptorPool* pool() { return DescriptorPool::generated_pool(); }

// "required qn.ErrorCode", "repeated string", ...
std::string field_kind(const FieldDescriptor* f) {
  std::string label = f->is_required() ? "required" : f->is_repeated() ? "repeated" : "optional";
  std::string type;
  if (f->type() == FieldDescriptor::TYPE_ENUM)
    type = f->enum_type()->full_name();
  else if (f->type() == FieldDescriptor::TYPE_MESSAGE)
    type = f->message_type()->full_name();
  else
    type = FieldDescriptor::TypeName(f->type());
  return label + " " + type;
}

// ---------------------------------------------------------------------------
// Files and imports

struct file_row_t {
  const char* file;
  std::vector<std::string> imports;
};

const file_row_t k_files[] = {
    {"annotation.proto", {"google/protobuf/descriptor.proto"}},
    {"error.proto", {"annotation.proto"}},
    {"application.proto", {"annotation.proto", "error.proto"}},
    {"log.proto", {"annotation.proto"}},
    {"remote_user.proto", {}},
    {"file.proto", {}},
    {"list.proto",
     {"annotation.proto", "network.proto", "scan_report.proto", "socket.proto", "url_category.proto",
      "protocol.proto", "pair.proto", "connection_match.proto", "dnsxl.proto"}},
    {"lexmap.proto", {}},
    {"network.proto", {}},
    {"pair.proto", {}},
    {"protocol.proto", {}},
    {"scan_report.proto", {"annotation.proto"}},
    {"socket.proto", {}},
    {"url_category.proto", {"annotation.proto"}},
    {"action.proto", {"annotation.proto"}},
    {"quarantine.proto",
     {"action.proto", "application.proto", "error.proto", "file.proto", "scan_report.proto", "remote_user.proto"}},
    {"disk.proto", {}},
    {"dnsxl.proto", {}},
    {"connection_match.proto", {}},
    {"se_appinfo.proto", {"application.proto", "error.proto"}},
    {"vornd_appinfo.proto", {"application.proto", "se_appinfo.proto"}},
};

TEST(SuiteSchemaFiles, EachFileIsProto2InPackageQnWithItsImports) {
  for (const auto& row : k_files) {
    SCOPED_TRACE(row.file);
    const FileDescriptor* file = pool()->FindFileByName(row.file);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->package(), "qn");
    EXPECT_EQ(file->syntax(), FileDescriptor::SYNTAX_PROTO2);
    std::vector<std::string> imports;
    for (int i = 0; i < file->dependency_count(); ++i) imports.push_back(file->dependency(i)->name());
    std::vector<std::string> expected = row.imports;
    std::sort(imports.begin(), imports.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(imports, expected);
    EXPECT_EQ(file->public_dependency_count(), 0);
  }
}

// Which file declares which top-level types.
struct owner_row_t {
  const char* file;
  std::vector<std::string> messages;
  std::vector<std::string> enums;
  std::vector<std::string> extensions;
};

const owner_row_t k_owners[] = {
    {"annotation.proto", {}, {"LexHint"}, {"app", "ini_section", "hint", "lex"}},
    {"error.proto", {"Error"}, {"ErrorCode"}, {}},
    {"application.proto", {"AppInfo", "AppStat", "ComponentControl", "AppConfig", "AppExeInfo"}, {"Application"}, {}},
    {"log.proto", {"Log"}, {"LogLevel"}, {}},
    {"remote_user.proto", {"RemoteUser"}, {}, {}},
    {"file.proto", {"XAttr", "FileStat"}, {}, {}},
    {"list.proto",
     {"StringList", "PathList", "IPAddressList", "IPSocketList", "IPNetworkList", "AnySocketList", "UrlCategoryList",
      "VirusTypeList", "VirusList", "ProtocolList", "StringPairList", "ConnectionMatchList", "DNSxLList", "IPList"},
     {},
     {}},
    {"lexmap.proto", {"LexValue", "LexOption", "LexMap"}, {}, {}},
    {"network.proto", {"IPNetwork"}, {}, {}},
    {"pair.proto", {"StringPair"}, {}, {}},
    {"protocol.proto", {}, {"Protocol"}, {}},
    {"scan_report.proto", {"Archive", "Virus", "ScanReport"}, {"ArchiveType", "VirusType", "ScanError"}, {}},
    {"socket.proto", {"IPAddress", "IPSocket", "OptionalIPSocket", "IPSocketAnyPort", "AnySocket"}, {}, {}},
    {"url_category.proto", {}, {"UrlCategory"}, {}},
    {"action.proto", {}, {"FileAction", "ThreatOp", "QEntryAction"}, {}},
    {"quarantine.proto", {"QEntryOperation", "QEntry"}, {}, {}},
    {"disk.proto", {"Partition", "Disk"}, {}, {}},
    {"dnsxl.proto", {"DNSxL", "DNSxLReport"}, {}, {}},
    {"connection_match.proto", {"ConnectionMatch"}, {}, {}},
    {"se_appinfo.proto", {"SEVirusBase", "SEAppInfo"}, {}, {"se_info"}},
    {"vornd_appinfo.proto", {"VornDAppInfo"}, {}, {"vornd_info"}},
};

TEST(SuiteSchemaFiles, EachFileDeclaresExactlyItsTypes) {
  for (const auto& row : k_owners) {
    SCOPED_TRACE(row.file);
    const FileDescriptor* file = pool()->FindFileByName(row.file);
    ASSERT_NE(file, nullptr);
    std::set<std::string> messages, enums, extensions;
    for (int i = 0; i < file->message_type_count(); ++i) messages.insert(file->message_type(i)->name());
    for (int i = 0; i < file->enum_type_count(); ++i) enums.insert(file->enum_type(i)->name());
    for (int i = 0; i < file->extension_count(); ++i) extensions.insert(file->extension(i)->name());
    EXPECT_EQ(messages, std::set<std::string>(row.messages.begin(), row.messages.end()));
    EXPECT_EQ(enums, std::set<std::string>(row.enums.begin(), row.enums.end()));
    EXPECT_EQ(extensions, std::set<std::string>(row.extensions.begin(), row.extensions.end()));
  }
}

// ---------------------------------------------------------------------------
// Fields, in declaration order

struct field_row_t {
  int number;
  const char* name;
  const char* kind;
};

struct message_row_t {
  const char* message;
  std::vector<field_row_t> fields;
};

const message_row_t k_messages[] = {
    {"qn.Error", {{1, "code", "required qn.ErrorCode"}, {2, "what", "optional string"}}},
    {"qn.AppInfo",
     {{1000, "app", "required qn.Application"},
      {1001, "pid", "required int32"},
      {1002, "config_revision", "optional uint32"},
      {1100, "switch_on_time", "optional uint64"},
      {1101, "switch_off_time", "optional uint64"},
      {1102, "exit_time", "optional uint64"},
      {1103, "exit_code", "optional qn.ErrorCode"},
      {1110, "suspended", "optional bool"},
      {1111, "suspend_time", "optional uint64"},
      {1112, "resume_time", "optional uint64"}}},
    {"qn.AppStat", {{1000, "app", "required qn.Application"}, {1001, "pid", "required int32"}}},
    {"qn.ComponentControl", {{1, "app", "required qn.Application"}, {2, "suspended", "required bool"}}},
    {"qn.AppConfig", {{1000, "app", "required qn.Application"}}},
    {"qn.AppExeInfo",
     {{1, "version", "optional string"},
      {2, "install_time", "optional uint64"},
      {3, "modification_time", "optional uint64"},
      {4, "exe_size", "optional uint64"},
      {5, "exe_md5", "optional bytes"},
      {6, "exe_owner", "optional bytes"}}},
    {"qn.Log",
     {{1, "type", "required qn.Log.LogType"},
      {2, "facility", "optional qn.Log.LogFacility"},
      {3, "ident", "optional string"},
      {10, "path", "optional string"},
      {20, "show_timestamp", "optional bool"}}},
    {"qn.RemoteUser", {{1, "ip", "optional string"}, {2, "user", "optional string"}, {3, "domain", "optional string"}}},
    {"qn.XAttr", {{1, "name", "required string"}, {2, "value", "required bytes"}}},
    {"qn.FileStat",
     {{1, "dev", "required uint64"},
      {2, "ino", "required uint64"},
      {3, "size", "optional uint64"},
      {4, "uid", "optional uint32"},
      {5, "gid", "optional uint32"},
      {6, "mode", "optional uint32"},
      {7, "mtime", "optional uint64"},
      {8, "ctime", "optional uint64"},
      {20, "rsrc_size", "optional uint64"},
      {21, "finder_info", "optional bytes"},
      {22, "ext_finder_info", "optional bytes"},
      {23, "uchg", "optional bool"},
      {24, "volume_name", "optional string"},
      {25, "volume_root", "optional string"},
      {100, "xattr", "repeated qn.XAttr"}}},
    {"qn.StringList", {{1, "item", "repeated string"}}},
    {"qn.PathList", {{1, "path", "repeated string"}}},
    {"qn.IPAddressList", {{1, "ip", "repeated qn.IPAddress"}}},
    {"qn.IPSocketList", {{1, "ip", "repeated qn.IPSocket"}}},
    {"qn.IPNetworkList", {{1, "network", "repeated qn.IPNetwork"}}},
    {"qn.AnySocketList", {{1, "socket", "repeated qn.AnySocket"}}},
    {"qn.UrlCategoryList", {{1, "item", "repeated qn.UrlCategory"}}},
    {"qn.VirusTypeList", {{1, "item", "repeated qn.VirusType"}}},
    {"qn.VirusList", {{1, "item", "repeated qn.Virus"}}},
    {"qn.ProtocolList", {{1, "item", "repeated qn.Protocol"}}},
    {"qn.StringPairList", {{1, "item", "repeated qn.StringPair"}}},
    {"qn.ConnectionMatchList", {{1, "item", "repeated qn.ConnectionMatch"}}},
    {"qn.DNSxLList", {{1, "item", "repeated qn.DNSxL"}}},
    {"qn.IPList", {{1, "net_list", "required qn.IPNetworkList"}, {2, "addr_list", "required qn.IPAddressList"}}},
    {"qn.LexValue", {{1, "item", "repeated string"}}},
    {"qn.LexOption",
     {{1, "key", "required string"}, {2, "value", "optional qn.LexValue"}, {3, "map", "optional qn.LexMap"}}},
    {"qn.LexMap", {{1, "option", "repeated qn.LexOption"}}},
    {"qn.IPNetwork", {{1, "address", "required string"}, {2, "mask", "required uint32"}}},
    {"qn.StringPair", {{1, "first", "required string"}, {2, "second", "required string"}}},
    {"qn.Archive", {{1, "type", "required qn.ArchiveType"}, {2, "name", "required string"}}},
    {"qn.Virus", {{1, "type", "required qn.VirusType"}, {2, "name", "required string"}}},
    {"qn.ScanReport",
     {{1, "object", "required bytes"},
      {2, "size", "optional uint64"},
      {3, "packer", "repeated string"},
      {4, "archive", "optional qn.Archive"},
      {5, "compressed_size", "optional uint64"},
      {6, "virus", "repeated qn.Virus"},
      {7, "error", "optional qn.ScanError"},
      {8, "cured", "optional bool"},
      {9, "cured_by_deletion", "optional bool"},
      {10, "boot", "optional bool"},
      {11, "heuristic_analysis", "optional bool"},
      {12, "scan_timeout_ms", "optional uint32"},
      {13, "compression_ratio", "optional uint32"},
      {14, "core_fingerprint", "optional bytes"},
      {15, "new_path", "optional bytes"},
      {16, "cloud", "optional bool"},
      {20, "item", "repeated qn.ScanReport"},
      {21, "log", "repeated bytes"},
      {22, "user_time", "optional double"},
      {23, "system_time", "optional double"},
      {50, "packer_type", "repeated uint32"},
      {51, "archive_type", "optional uint32"},
      {70, "se_version", "optional string"},
      {71, "core_engine_version", "optional string"},
      {72, "virus_records", "optional uint64"},
      {73, "base_stamp", "optional uint64"},
      {80, "fork_pid", "optional uint32"}}},
    {"qn.IPAddress", {{1, "address", "required string"}}},
    {"qn.IPSocket", {{1, "address", "required string"}, {2, "port", "required uint32"}}},
    {"qn.OptionalIPSocket", {{1, "socket", "optional qn.IPSocket"}}},
    {"qn.IPSocketAnyPort", {{1, "address", "required string"}, {2, "port", "required uint32"}}},
    {"qn.AnySocket", {{1, "local", "optional string"}, {2, "ip", "optional qn.IPSocket"}}},
    {"qn.QEntryOperation",
     {{1, "action", "required qn.QEntryAction"},
      {2, "action_time", "required uint64"},
      {3, "result", "required qn.ErrorCode"},
      {5, "restore_path", "optional string"},
      {6, "rescan_report", "optional qn.ScanReport"}}},
    {"qn.QEntry",
     {{1, "entry_id", "required string"},
      {2, "chunk_id", "optional bytes"},
      {3, "quarantine_dir", "optional bytes"},
      {4, "restore_path", "required bytes"},
      {5, "creation_time", "required uint64"},
      {6, "report", "required qn.ScanReport"},
      {7, "stat", "required qn.FileStat"},
      {8, "history", "repeated qn.QEntryOperation"},
      {9, "who", "optional qn.RemoteUser"},
      {10, "detection_time", "optional uint64"},
      {11, "origin", "optional qn.Application"}}},
    {"qn.Partition",
     {{1, "dev_path", "required string"},
      {2, "offset", "required uint64"},
      {3, "mount_point", "optional bytes"},
      {4, "label", "optional bytes"}}},
    {"qn.Disk",
     {{1, "dev_path", "required string"},
      {2, "cylinders", "required uint32"},
      {3, "heads", "required uint32"},
      {4, "sectors", "required uint32"},
      {5, "size", "required uint64"},
      {6, "mount_point", "optional bytes"},
      {7, "label", "optional bytes"},
      {8, "partitions", "repeated qn.Partition"},
      {9, "sector_size", "optional uint32"}}},
    {"qn.DNSxL", {{1, "zone", "required string"}, {2, "mask", "required uint32"}, {3, "value", "required uint32"}}},
    {"qn.DNSxLReport",
     {{1, "zone", "required string"}, {2, "resource", "required string"}, {3, "record", "repeated uint32"}}},
    {"qn.ConnectionMatch",
     {{1, "exe_path", "optional string"}, {2, "address", "optional string"}, {3, "port", "optional uint32"}}},
    {"qn.SEVirusBase",
     {{1, "path", "required string"},
      {2, "virus_records", "required uint32"},
      {3, "version", "required uint32"},
      {4, "timestamp", "required uint64"},
      {5, "md5", "required bytes"},
      {6, "load_result", "required qn.ErrorCode"},
      {7, "order", "optional uint32"},
      {8, "type", "optional uint32"},
      {9, "sha1", "optional bytes"}}},
    {"qn.SEAppInfo",
     {{1, "core_engine_version", "optional string"},
      {2, "virus_base", "repeated qn.SEVirusBase"},
      {3, "base_stamp", "optional uint64"},
      {4, "max_forks", "optional uint32"},
      {5, "core_fingerprint", "optional bytes"},
      {6, "api_version", "optional uint32"},
      {7, "vdb_fingerprint", "optional uint64"}}},
    {"qn.VornDAppInfo", {{1, "se_adaptor_info", "optional qn.SEAppInfo"}, {2, "engine_es_id", "optional string"}}},
};

TEST(SuiteSchemaFields, EveryMessageHasExactlyItsFieldsInDeclaredOrder) {
  for (const auto& row : k_messages) {
    SCOPED_TRACE(row.message);
    const Descriptor* d = pool()->FindMessageTypeByName(row.message);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->field_count(), static_cast<int>(row.fields.size()));
    for (int i = 0; i < d->field_count(); ++i) {
      const FieldDescriptor* f = d->field(i);
      const field_row_t& want = row.fields[i];
      SCOPED_TRACE(want.name);
      EXPECT_EQ(f->name(), want.name);
      EXPECT_EQ(f->number(), want.number);
      EXPECT_EQ(field_kind(f), want.kind);
    }
  }
}

TEST(SuiteSchemaFields, EveryMessageOfTheSuiteFilesIsListed) {
  std::set<std::string> listed;
  for (const auto& row : k_messages) listed.insert(row.message);
  for (const auto& row : k_files) {
    const FileDescriptor* file = pool()->FindFileByName(row.file);
    ASSERT_NE(file, nullptr);
    for (int i = 0; i < file->message_type_count(); ++i)
      EXPECT_EQ(listed.count(file->message_type(i)->full_name()), 1u) << file->message_type(i)->full_name();
  }
}

TEST(SuiteSchemaFields, NoRepeatedFieldIsPacked) {
  // Peers read one key per element; a packed writer would not be understood.
  for (const auto& row : k_messages) {
    const Descriptor* d = pool()->FindMessageTypeByName(row.message);
    ASSERT_NE(d, nullptr);
    for (int i = 0; i < d->field_count(); ++i) {
      const FieldDescriptor* f = d->field(i);
      if (f->is_repeated()) {
        EXPECT_FALSE(f->is_packed()) << f->full_name();
      }
    }
  }
}

TEST(SuiteSchemaFields, OneofsHoldExactlyTheirMembers) {
  struct row_t {
    const char* message;
    const char* oneof;
    std::vector<std::string> members;
  };
  const row_t rows[] = {
      {"qn.LexOption", "data", {"value", "map"}},
      {"qn.AnySocket", "type", {"local", "ip"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    const Descriptor* d = pool()->FindMessageTypeByName(row.message);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->oneof_decl_count(), 1);
    EXPECT_EQ(d->oneof_decl(0)->name(), row.oneof);
    std::vector<std::string> members;
    for (int i = 0; i < d->oneof_decl(0)->field_count(); ++i) members.push_back(d->oneof_decl(0)->field(i)->name());
    EXPECT_EQ(members, row.members);
  }
  // No other message of these files has a oneof.
  for (const auto& row : k_messages) {
    const std::string name = row.message;
    if (name == "qn.LexOption" || name == "qn.AnySocket") continue;
    EXPECT_EQ(pool()->FindMessageTypeByName(name)->oneof_decl_count(), 0) << name;
  }
}

TEST(SuiteSchemaFields, OnlyTheEnvelopesHaveExtensionRangeOneTo999) {
  const std::set<std::string> envelopes = {"qn.AppInfo", "qn.AppStat", "qn.AppConfig"};
  for (const auto& row : k_messages) {
    SCOPED_TRACE(row.message);
    const Descriptor* d = pool()->FindMessageTypeByName(row.message);
    if (envelopes.count(row.message) == 0) {
      EXPECT_EQ(d->extension_range_count(), 0);
      continue;
    }
    ASSERT_EQ(d->extension_range_count(), 1);
    EXPECT_EQ(d->extension_range(0)->start, 1);
    EXPECT_EQ(d->extension_range(0)->end, 1000);  // exclusive
    EXPECT_TRUE(d->IsExtensionNumber(40));
    EXPECT_FALSE(d->IsExtensionNumber(1000));
    EXPECT_FALSE(d->IsExtensionNumber(0));
  }
}

// Only the scan report's three flags and the disk's sector size declare a
// default; every other field relies on the implicit one.
TEST(SuiteSchemaFields, DeclaredDefaults) {
  std::map<std::string, std::string> declared;
  for (const auto& row : k_messages) {
    const Descriptor* d = pool()->FindMessageTypeByName(row.message);
    for (int i = 0; i < d->field_count(); ++i) {
      const FieldDescriptor* f = d->field(i);
      if (!f->has_default_value()) continue;
      std::string value;
      if (f->cpp_type() == FieldDescriptor::CPPTYPE_BOOL)
        value = f->default_value_bool() ? "true" : "false";
      else if (f->cpp_type() == FieldDescriptor::CPPTYPE_UINT32)
        value = std::to_string(f->default_value_uint32());
      else
        value = "?";
      declared[f->full_name()] = value;
    }
  }
  const std::map<std::string, std::string> expected = {
      {"qn.ScanReport.cured", "false"},
      {"qn.ScanReport.cured_by_deletion", "false"},
      {"qn.ScanReport.boot", "false"},
      {"qn.Disk.sector_size", "512"},
  };
  EXPECT_EQ(declared, expected);
}

// ---------------------------------------------------------------------------
// Extensions of the application envelope

TEST(SuiteSchemaExtensions, SiblingInfoExtendsAppInfoWithTheirApplicationNumbers) {
  struct row_t {
    const char* name;
    int number;
    const char* type;
  };
  const row_t rows[] = {
      {"qn.se_info", qn::APP_SCAN_ENGINE, "qn.SEAppInfo"},
      {"qn.vornd_info", qn::APP_VORND, "qn.VornDAppInfo"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const FieldDescriptor* ext = pool()->FindExtensionByName(row.name);
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(ext->number(), row.number);
    EXPECT_EQ(ext->containing_type()->full_name(), "qn.AppInfo");
    EXPECT_EQ(field_kind(ext), std::string("optional ") + row.type);
    EXPECT_EQ(ext->extension_scope(), nullptr);
  }
  EXPECT_EQ(qn::se_info.number(), 2);
  EXPECT_EQ(qn::vornd_info.number(), 52);
}

}  // namespace
