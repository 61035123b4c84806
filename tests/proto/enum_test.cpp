// Every enumeration of the schemas: values, numbers, declaration order,
// display texts and the validity tests, plus how the display-text option
// itself is registered.
#include <gtest/gtest.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include "tests/proto/proto_test_support.h"

#include "action.pb.h"
#include "annotation.pb.h"
#include "application.pb.h"
#include "configd_smb_gardix_ipc.pb.h"
#include "error.pb.h"
#include "fcheck_client_ipc.pb.h"
#include "log.pb.h"
#include "protocol.pb.h"
#include "scan_report.pb.h"
#include "smb_gardix_config.pb.h"
#include "url_category.pb.h"

namespace {

using namespace proto_test;
using google::protobuf::EnumDescriptor;
using google::protobuf::EnumValueDescriptor;

struct value_row_t {
  const char* name;
  int number;
  const char* lex;  // nullptr: shown by its name
};

// The display text of a value, as the enum-text rule reads it; nullptr when
// the value carries none.
const char* lex_of(const EnumValueDescriptor* v) {
  static std::string text;
  if (!v->options().HasExtension(qn::lex)) return nullptr;
  text = v->options().GetExtension(qn::lex);
  return text.c_str();
}

void expect_value(const EnumValueDescriptor* v, const value_row_t& want) {
  ASSERT_NE(v, nullptr) << want.name;
  EXPECT_EQ(v->name(), want.name);
  EXPECT_EQ(v->number(), want.number) << want.name;
  const char* lex = lex_of(v);
  if (want.lex == nullptr)
    EXPECT_EQ(lex, nullptr) << want.name;
  else
    EXPECT_STREQ(lex, want.lex) << want.name;
  // The texts are the only enum value options anywhere.
  google::protobuf::EnumValueOptions rest = v->options();
  rest.ClearExtension(qn::lex);
  EXPECT_EQ(rest.ByteSizeLong(), 0u) << want.name;
}

struct enum_row_t {
  const EnumDescriptor* (*descriptor)();
  bool (*is_valid)(int);
  std::vector<value_row_t> values;  // every value, in declaration order
};

const std::vector<enum_row_t> k_enums = {
    {qn::LexHint_descriptor,
     qn::LexHint_IsValid,
     {{"HINT_NONE", 0, nullptr},
      {"HINT_MAP", 1, nullptr},
      {"HINT_MAPS", 2, nullptr},
      {"HINT_MAP_TAG", 3, nullptr},
      {"HINT_NODIFF", 4, nullptr},
      {"HINT_ES_ONLY", 5, nullptr},
      {"HINT_ABSPATH", 10, nullptr},
      {"HINT_ABSPATHNONEMPTY", 11, nullptr},
      {"HINT_TIME", 12, nullptr},
      {"HINT_SIZE", 13, nullptr},
      {"HINT_ONOFF", 14, nullptr},
      {"HINT_DEPRECATED", 15, nullptr},
      {"HINT_OPTTIME", 16, nullptr}}},
    {qn::Log_LogType_descriptor,
     qn::Log_LogType_IsValid,
     {{"SYSLOG", 1, "Syslog"}, {"FILE", 2, "File"}, {"STDERR", 3, "Stderr"}, {"AUTO", 4, "Auto"}}},
    {qn::Log_LogFacility_descriptor,
     qn::Log_LogFacility_IsValid,
     {{"DAEMON", 1, "Daemon"},
      {"USER", 2, "User"},
      {"MAIL", 3, "Mail"},
      {"LOCAL0", 10, "Local0"},
      {"LOCAL1", 11, "Local1"},
      {"LOCAL2", 12, "Local2"},
      {"LOCAL3", 13, "Local3"},
      {"LOCAL4", 14, "Local4"},
      {"LOCAL5", 15, "Local5"},
      {"LOCAL6", 16, "Local6"},
      {"LOCAL7", 17, "Local7"}}},
    {qn::LogLevel_descriptor,
     qn::LogLevel_IsValid,
     {{"LOG_LEVEL_DEBUG", 1, "Debug"},
      {"LOG_LEVEL_INFO", 2, "Info"},
      {"LOG_LEVEL_NOTICE", 3, "Notice"},
      {"LOG_LEVEL_WARNING", 4, "Warning"},
      {"LOG_LEVEL_ERROR", 5, "Error"}}},
    {qn::Protocol_descriptor,
     qn::Protocol_IsValid,
     {{"SMTP", 1, nullptr}, {"POP3", 2, nullptr}, {"IMAP", 3, nullptr}, {"HTTP", 4, nullptr}, {"FTP", 5, nullptr}}},
    {qn::ArchiveType_descriptor,
     qn::ArchiveType_IsValid,
     {{"SE_ARCHIVE", 1, "Archive"}, {"SE_MAIL", 2, "Mail"}, {"SE_CONTAINER", 3, "Container"}}},
    {qn::VirusType_descriptor,
     qn::VirusType_IsValid,
     {{"SE_KNOWN_VIRUS", 1, "Known virus"},
      {"SE_VIRUS_MODIFICATION", 2, "Virus modification"},
      {"SE_UNKNOWN_VIRUS", 3, "Unknown virus"},
      {"SE_ADWARE", 4, "Adware"},
      {"SE_DIALER", 5, "Dialer"},
      {"SE_JOKE", 6, "Joke program"},
      {"SE_RISKWARE", 7, "Riskware"},
      {"SE_HACKTOOL", 8, "Hacktool"}}},
    {qn::ScanError_descriptor,
     qn::ScanError_IsValid,
     {{"SE_PATH_NOT_ABSOLUTE", 1, "Path is not absolute"},
      {"SE_FILE_NOT_FOUND", 2, "File not found"},
      {"SE_FILE_NOT_REGULAR", 3, "Not a regular file"},
      {"SE_FILE_NOT_BLOCK_DEVICE", 4, "Not a block device"},
      {"SE_NAME_TOO_LONG", 5, "Path or filename is too long"},
      {"SE_NO_ACCESS", 6, "Permission denied"},
      {"SE_READ_ERROR", 7, "Read error"},
      {"SE_WRITE_ERROR", 8, "Write error"},
      {"SE_FILE_TOO_LARGE", 9, "File size too big"},
      {"SE_FILE_BUSY", 10, "File is busy"},
      {"SE_UNPACKING_ERROR", 20, "Unpacking error"},
      {"SE_PASSWORD_PROTECTED", 21, "Password protected"},
      {"SE_ARCH_CRC_ERROR", 22, "Archive CRC error"},
      {"SE_ARCH_INVALID_HEADER", 23, "Invalid archive header"},
      {"SE_ARCH_NO_MEMORY", 24, "Not enough memory to process archive"},
      {"SE_ARCH_INCOMPLETE", 25, "Incomplete archive"},
      {"SE_CAN_NOT_BE_CURED", 26, "Cannot be cured"},
      {"SE_PACKER_LEVEL_LIMIT", 30, "Packer nesting level limit reached"},
      {"SE_ARCHIVE_LEVEL_LIMIT", 31, "Archive nesting level limit reached"},
      {"SE_MAIL_LEVEL_LIMIT", 32, "Mail nesting level limit reached"},
      {"SE_CONTAINER_LEVEL_LIMIT", 33, "Container nesting level limit reached"},
      {"SE_COMPRESSION_LIMIT", 34, "Compression ratio limit reached"},
      {"SE_REPORT_SIZE_LIMIT", 35, "Report size limit reached"},
      {"SE_ARCHIVE_SIZE_LIMIT", 36, "Archive size limit reached"},
      {"SE_OBJECT_SIZE_LIMIT", 37, "Object size limit reached"},
      {"SE_SCAN_TIMEOUT", 40, "Scan timeout expired"},
      {"SE_ENGINE_CRASH", 41, "Engine crash detected"},
      {"SE_ENGINE_HANGUP", 42, "Engine hang-up detected"},
      {"SE_ENGINE_NOT_READY", 43, "Engine not available"},
      {"SE_ENGINE_ERROR", 44, "Engine internal error"},
      {"SE_MULTISCAN_TOO_LATE", 46, "Cannot join multiscan"},
      {"SE_CURING_LIMIT_REACHED", 47, "Curing limit reached"},
      {"SE_REPORT_RECURSION_LIMIT", 48, "Report recursion limit reached"},
      {"SE_NON_SUPPORTED_DISK", 50, "Non-supported disk"},
      {"SE_UNEXPECTED_ERROR", 100, "Unexpected error"}}},
    {qn::UrlCategory_descriptor,
     qn::UrlCategory_IsValid,
     {{"UC_INFECTION_SOURCE", 1, "Known infection source"},
      {"UC_NOT_RECOMMENDED", 2, "Not recommended site"},
      {"UC_ADULT_CONTENT", 3, "Adult content"},
      {"UC_VIOLENCE", 4, "Violence"},
      {"UC_WEAPONS", 5, "Weapons"},
      {"UC_GAMBLING", 6, "Gambling"},
      {"UC_DRUGS", 7, "Drugs"},
      {"UC_OBSCENE_LANGUAGE", 8, "Obscene language"},
      {"UC_CHATS", 9, "Chats"},
      {"UC_TERRORISM", 10, "Terrorism"},
      {"UC_FREE_EMAIL", 11, "Free email service"},
      {"UC_SOCIAL_NETWORKS", 12, "Social networks"},
      {"UC_OWNERS_NOTICE", 13, "Copyright owner's notice"},
      {"UC_ONLINE_GAMES", 14, "Online games"},
      {"UC_ANONYMIZERS", 15, "Anonymizers"},
      {"UC_CRYPTOCURRENCY_MINING_POOLS", 16, "Cryptocurrency mining pools"},
      {"UC_JOBS", 17, "Jobs"},
      {"UC_BLACK_LIST", 20, "Black list"}}},
    {qn::FileAction_descriptor,
     qn::FileAction_IsValid,
     {{"FILE_ACTION_CURE", 1, "Cure"},
      {"FILE_ACTION_QUARANTINE", 2, "Quarantine"},
      {"FILE_ACTION_DELETE", 3, "Delete"},
      {"FILE_ACTION_REPORT", 4, "Report"},
      {"FILE_ACTION_IGNORE", 5, "Ignore"}}},
    // Declared out of numeric order: the first declared value is the default.
    {qn::ThreatOp_descriptor,
     qn::ThreatOp_IsValid,
     {{"THREAT_OP_CURE", 1, "Cure"},
      {"THREAT_OP_CURE_OR_QUARANTINE", 3, "Cure or quarantine"},
      {"THREAT_OP_CURE_OR_DELETE", 4, "Cure or delete"},
      {"THREAT_OP_QUARANTINE", 2, "Quarantine"},
      {"THREAT_OP_DELETE", 5, "Delete"},
      {"THREAT_OP_REPORT", 6, "Report"},
      {"THREAT_OP_IGNORE", 7, "Ignore"}}},
    {qn::QEntryAction_descriptor,
     qn::QEntryAction_IsValid,
     {{"QENTRY_ACTION_DELETE", 1, "Delete"},
      {"QENTRY_ACTION_RESTORE", 2, "Restore"},
      {"QENTRY_ACTION_RESCAN", 3, "Rescan"},
      {"QENTRY_ACTION_CURE", 4, "Cure"}}},
    {qn::SMBThreatAction_descriptor,
     qn::SMBThreatAction_IsValid,
     {{"SMB_PASS", 1, "Pass"},
      {"SMB_BLOCK", 2, "Block"},
      {"SMB_CURE", 3, "Cure"},
      {"SMB_QUARANTINE", 4, "Quarantine"},
      {"SMB_DELETE", 5, "Delete"},
      {"SMB_REPORT", 6, "Report"}}},
    {qn::SMBGardix2ConfigdMessage::MessageTag_descriptor,
     qn::SMBGardix2ConfigdMessage::MessageTag_IsValid,
     {{"GET_CONFIG_REQUEST", 1, nullptr},
      {"MY_INFO_NOTIFICATION", 2, nullptr},
      {"MY_STAT_NOTIFICATION", 3, nullptr},
      {"GET_FCHECK_REQUEST", 4, nullptr}}},
    {qn::Configd2SMBGardixMessage::MessageTag_descriptor,
     qn::Configd2SMBGardixMessage::MessageTag_IsValid,
     {{"GET_CONFIG_RESPONSE", 1, nullptr}, {"GET_FCHECK_RESPONSE", 2, nullptr}, {"APPINFO_NOTIFICATION", 3, nullptr}}},
    {fc::ClientMessage::ClientMessageTag_descriptor,
     fc::ClientMessage::ClientMessageTag_IsValid,
     {{"START_SCAN_REQUEST", 1, nullptr},
      {"INTERRUPT_SCAN_REQUEST", 2, nullptr},
      {"SUBSCRIBE_TO_SCAN_INFO", 3, nullptr},
      {"UNSUBSCRIBE_FROM_SCAN_INFO", 4, nullptr},
      {"LIST_DIR_REQUEST", 5, nullptr},
      {"SUBSCRIBE_TO_THREATS", 10, nullptr},
      {"UNSUBSCRIBE_FROM_THREATS", 11, nullptr},
      {"THREAT_OP_REQUEST", 12, nullptr},
      {"THREAT_SYNC_REQUEST", 13, nullptr},
      {"MY_THREAT_NOTIFICATION", 14, nullptr},
      {"DISCOVERY_QUARANTINE_REQUEST", 20, nullptr},
      {"SUBSCRIBE_TO_QUARANTINE", 21, nullptr},
      {"UNSUBSCRIBE_FROM_QUARANTINE", 22, nullptr},
      {"QUARANTINE_OP_REQUEST", 23, nullptr},
      {"OPEN_FLOW", 30, nullptr},
      {"FLOW_OPTIONS_NOTIFICATION", 31, nullptr},
      {"FLOW_DATA_NOTIFICATION", 32, nullptr},
      {"CLOSE_FLOW_REQUEST", 33, nullptr},
      {"OPEN_PROXY", 40, nullptr},
      {"PROXY_OPTIONS_NOTIFICATION", 41, nullptr},
      {"PROXY_SCAN_REQUEST", 42, nullptr},
      {"CLOSE_PROXY_REQUEST", 49, nullptr},
      {"ENUMERATE_DISKS_REQUEST", 50, nullptr},
      {"REGISTER_HANDLERS_REQUEST", 60, nullptr},
      {"HANDLE_CURE_RESPONSE", 61, nullptr},
      {"HANDLE_QUARANTINE_RESPONSE", 62, nullptr},
      {"HANDLE_DELETE_RESPONSE", 63, nullptr},
      {"HANDLE_RESTORE_QENTRY_RESPONSE", 67, nullptr},
      {"HANDLE_DISCOVERY_RESPONSE", 70, nullptr},
      {"HANDLE_UPDATE_QENTRY_RESPONSE", 71, nullptr}}},
    {fc::ServerMessage::ServerMessageTag_descriptor,
     fc::ServerMessage::ServerMessageTag_IsValid,
     {{"START_SCAN_RESPONSE", 1, nullptr},
      {"INTERRUPT_SCAN_RESPONSE", 2, nullptr},
      {"SCAN_INFO_NOTIFICATION", 3, nullptr},
      {"LIST_DIR_RESPONSE", 4, nullptr},
      {"THREATS_SUBSCRIBED", 8, nullptr},
      {"THREATS_ALARM", 9, nullptr},
      {"THREATS_NOTIFICATION", 10, nullptr},
      {"THREATS_OP_RESPONSE", 11, nullptr},
      {"THREAT_SYNC_RESPONSE", 12, nullptr},
      {"DISCOVERY_QUARANTINE_RESPONSE", 20, nullptr},
      {"QUARANTINE_SUBSCRIBED", 21, nullptr},
      {"QUARANTINE_NOTIFICATION", 22, nullptr},
      {"QUARANTINE_ALARM", 23, nullptr},
      {"QUARANTINE_OP_RESPONSE", 24, nullptr},
      {"FLOW_READY", 31, nullptr},
      {"CLOSE_FLOW_RESPONSE", 32, nullptr},
      {"FLOW_ALARM", 33, nullptr},
      {"FLOW_ANSWER", 34, nullptr},
      {"PROXY_READY", 40, nullptr},
      {"PROXY_SCAN_RESPONSE", 41, nullptr},
      {"CLOSE_PROXY_RESPONSE", 48, nullptr},
      {"PROXY_ALARM", 49, nullptr},
      {"ENUMERATE_DISKS_RESPONSE", 50, nullptr},
      {"REGISTER_HANDLERS_RESPONSE", 60, nullptr},
      {"HANDLE_CURE_REQUEST", 61, nullptr},
      {"HANDLE_QUARANTINE_REQUEST", 62, nullptr},
      {"HANDLE_DELETE_REQUEST", 63, nullptr},
      {"HANDLE_RESTORE_QENTRY_REQUEST", 67, nullptr},
      {"HANDLE_DISCOVERY_REQUEST", 70, nullptr},
      {"HANDLE_UPDATE_QENTRY_REQUEST", 71, nullptr}}},
    {fc::ScanState_descriptor,
     fc::ScanState_IsValid,
     {{"SCAN_STATE_PENDING", 1, nullptr},
      {"SCAN_STATE_RUNNING", 2, nullptr},
      {"SCAN_STATE_FINISHING", 3, nullptr},
      {"SCAN_STATE_FINISHED", 4, nullptr}}},
    {fc::DirEntry::Type_descriptor,
     fc::DirEntry::Type_IsValid,
     {{"DE_DIR", 1, nullptr},
      {"DE_FILE", 2, nullptr},
      {"DE_LINK_TO_DIR", 3, nullptr},
      {"DE_LINK_TO_FILE", 4, nullptr}}},
};

// Validity is tested over this span and at the extremes of int.
constexpr int k_probe_limit = 1100;

void expect_valid_exactly(bool (*is_valid)(int), const std::set<int>& valid) {
  for (int n = -k_probe_limit; n <= k_probe_limit; ++n) EXPECT_EQ(is_valid(n), valid.count(n) == 1) << n;
  EXPECT_FALSE(is_valid(INT_MIN));
  EXPECT_FALSE(is_valid(INT_MAX));
}

TEST(SchemaEnums, ValuesInDeclaredOrderWithTheirTextsAndNothingElseIsValid) {
  for (const auto& row : k_enums) {
    const EnumDescriptor* e = row.descriptor();
    SCOPED_TRACE(e->full_name());
    ASSERT_EQ(e->value_count(), static_cast<int>(row.values.size()));
    std::set<int> valid;
    for (int i = 0; i < e->value_count(); ++i) {
      expect_value(e->value(i), row.values[i]);
      valid.insert(row.values[i].number);
    }
    expect_valid_exactly(row.is_valid, valid);
  }
}

// ---------------------------------------------------------------------------
// Error codes: the named table, plus twelve numbers of other components.

const value_row_t k_error_codes[] = {
    {"EC_OK", 0, "Success"},
    {"EC_MONITOR_IPC_ERROR", 1, "Error on monitor channel"},
    {"EC_ALREADY_IN_PROGRESS", 2, "Operation is already in progress"},
    {"EC_IN_PENDING_STATE", 3, "Operation is in pending state"},
    {"EC_INTERRUPTED_BY_USER", 4, "Interrupted by user"},
    {"EC_CANCELED", 5, "Operation canceled"},
    {"EC_LINK_DISCONNECTED", 6, "Link disconnected"},
    {"EC_BAD_MESSAGE_SIZE", 7, "Invalid IPC message size"},
    {"EC_BAD_MESSAGE_FORMAT", 8, "Invalid IPC message format"},
    {"EC_NOT_READY", 9, "Not ready"},
    {"EC_NOT_INSTALLED", 10, "Component is not installed"},
    {"EC_UNEXPECTED_MESSAGE", 11, "Unexpected IPC message"},
    {"EC_PROTOCOL_VIOLATION", 12, "Protocol violation"},
    {"EC_UNKNOWN_STATE", 13, "Subsystem state is unknown"},
    {"EC_NOT_ABSOLUTE_PATH", 20, "Path must be absolute"},
    {"EC_NO_MEMORY", 21, "Not enough memory"},
    {"EC_IO_ERROR", 22, "IO error"},
    {"EC_NO_SUCH_ENTRY", 23, "No such file or directory"},
    {"EC_PERMISSION_DENIED", 24, "Permission denied"},
    {"EC_NOT_A_DIRECTORY", 25, "Not a directory"},
    {"EC_DATA_CORRUPTED", 26, "Data file corrupted"},
    {"EC_FILE_EXISTS", 27, "File already exists"},
    {"EC_READ_ONLY_FS", 28, "Read-only file system"},
    {"EC_NETWORK_ERROR", 29, "Network error"},
    {"EC_NOT_A_DRIVE", 30, "Not a drive"},
    {"EC_UNEXPECTED_EOF", 31, "Unexpected EOF"},
    {"EC_FILE_WAS_CHANGED", 32, "File was changed"},
    {"EC_NOT_A_REGULAR_FILE", 33, "Not a regular file"},
    {"EC_NAME_ALREADY_IN_USE", 34, "Name already in use"},
    {"EC_HOST_OFFLINE", 35, "Host is offline"},
    {"EC_LIMIT_REACHED", 36, "Resource limit reached"},
    {"EC_CROSS_DEVICE_LINK", 37, "Mounting points are different"},
    {"EC_UNPACKING_ERROR", 38, "Unpacking error"},
    {"EC_BASE_CORRUPTED", 40, "Virus base corrupted"},
    {"EC_OLD_BASE_VERSION", 41, "Non-supported virus database version"},
    {"EC_EMPTY_BASE", 42, "Empty virus database"},
    {"EC_CAN_NOT_BE_CURED", 43, "Object cannot be cured"},
    {"EC_INVALID_BASE_SET", 44, "Non-supported virus database combination"},
    {"EC_SCAN_LIMIT_REACHED", 45, "Scan limit reached"},
    {"EC_AUTH_FAILED", 47, "Authentication failed"},
    {"EC_NOT_AUTHORIZED", 48, "Authorization failed"},
    {"EC_INVALID_TOKEN", 49, "Access token is invalid"},
    {"EC_DB_COMMON_ERROR", 50, "DBMS general error"},
    {"EC_DB_OPEN_ERROR", 51, "Cannot open database"},
    {"EC_DB_CONN_CLOSED", 52, "Connection closed by DBMS"},
    {"EC_INVALID_ARGUMENT", 60, "Invalid argument"},
    {"EC_INVALID_OPERATION", 61, "Invalid operation"},
    {"EC_ROOT_ONLY", 62, "Superuser privileges required"},
    {"EC_STANDALONE_MODE_ONLY", 63, "Not allowed in central protection mode"},
    {"EC_NON_SUPPORTED_OS", 64, "Non-supported OS"},
    {"EC_NOT_IMPLEMENTED", 65, "Feature not implemented"},
    {"EC_UNKNOWN_OPTION", 66, "Unknown option"},
    {"EC_UNKNOWN_SECTION", 67, "Unknown section"},
    {"EC_INVALID_OPTION_VALUE", 68, "Invalid option value"},
    {"EC_INVALID_STATE", 69, "Invalid state"},
    {"EC_NOT_LIST_OPTION", 70, "Only one value allowed"},
    {"EC_INVALID_TAG", 71, "Tag value is invalid"},
    {"EC_RECORD_NOT_FOUND", 80, "Record not found"},
    {"EC_RECORD_BUSY", 81, "Record is in process now"},
    {"EC_QUARANTINED_FILE", 82, "File has already been quarantined"},
    {"EC_NO_ZONE_IN_CLOUD", 83, "Update zone is not provided by cloud"},
    {"EC_NO_ZONE_ON_DISK", 84, "Update zone is not provided on disk"},
    {"EC_APP_SUSPENDED", 88, "Process suspended by the administrator"},
    {"EC_BACKUP_FAILED", 89, "Cannot backup before update"},
    {"EC_BAD_LST_FILE", 91, "Invalid LST file"},
    {"EC_BAD_LZMA_FILE", 92, "Invalid compressed file"},
    {"EC_PROXY_AUTH_ERROR", 93, "Proxy authentication error"},
    {"EC_NO_UPDATE_SERVERS", 94, "No update servers available"},
    {"EC_NETWORK_TIMEDOUT", 97, "Network operation timed out"},
    {"EC_BAD_CHECKSUM", 98, "Invalid checksum"},
    {"EC_BAD_CONFIG", 102, "Invalid configuration"},
    {"EC_BAD_EXECUTABLE", 104, "Invalid executable file"},
    {"EC_NO_CORE_ENGINE", 105, "Core engine is not available"},
    {"EC_NO_VIRUS_BASES", 106, "No virus databases"},
    {"EC_APP_TERMINATED", 107, "Process terminated by signal"},
    {"EC_APP_CRASHED", 108, "Unexpected process termination"},
    {"EC_INCOMPATIBLE", 109, "Incompatible software detected"},
    {"EC_NO_LINUX_NSS", 111, "NSS is not available"},
    {"EC_NO_KERNEL_MODULE", 113, "Kernel module is not available"},
    {"EC_NO_VORND", 114, "VornD is not available"},
    {"EC_NO_SCAN_ENGINE", 119, "DiziDaravi is not available"},
    {"EC_NO_FILE_CHECK", 120, "DazaVadov is not available"},
    {"EC_UNEXPECTED_ERROR", 125, "Unexpected error"},
};

const std::set<int> k_foreign_error_codes = {85, 90, 110, 112, 115, 116, 117, 118, 121, 122, 123, 124};

// The values the schema leaves to us each need a name of the given prefix and
// a non-empty text that tells them apart from every other value.
void expect_own_values(const EnumDescriptor* e, const std::set<int>& numbers, const std::string& prefix,
                       std::set<std::string>& texts) {
  for (int number : numbers) {
    SCOPED_TRACE(number);
    const EnumValueDescriptor* v = e->FindValueByNumber(number);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->name().compare(0, prefix.size(), prefix), 0) << v->name();
    ASSERT_NE(lex_of(v), nullptr);
    EXPECT_NE(std::string(lex_of(v)), "");
    EXPECT_TRUE(texts.insert(lex_of(v)).second) << "text shared: " << lex_of(v);
  }
}

TEST(SchemaEnums, ErrorCodesTheirTextsAndValidity) {
  const EnumDescriptor* e = qn::ErrorCode_descriptor();
  std::set<int> valid = k_foreign_error_codes;
  std::set<std::string> texts;
  for (const auto& row : k_error_codes) {
    expect_value(e->FindValueByNumber(row.number), row);
    valid.insert(row.number);
    texts.insert(row.lex);
  }
  expect_own_values(e, k_foreign_error_codes, "EC_", texts);
  EXPECT_EQ(e->value_count(), 95);
  expect_valid_exactly(qn::ErrorCode_IsValid, valid);
  // EC_OK is the implicit default of every field of this type, and every
  // value fits an exit status.
  EXPECT_EQ(e->value(0)->name(), "EC_OK");
  for (int i = 0; i < e->value_count(); ++i) EXPECT_LE(e->value(i)->number(), 125);
}

TEST(SchemaEnums, ApplicationsTheirTextsAndValidity) {
  const value_row_t named[] = {
      {"APP_CONFIGD", 1, "ConfigD"},       {"APP_SCAN_ENGINE", 2, "DiziDaravi"}, {"APP_FILE_CHECK", 3, "DazaVadov"},
      {"APP_SMB_GARDIX", 40, "SMBGardix"}, {"APP_VORND", 52, "VornD"},           {"APP_GENERIC", 99, nullptr},
  };
  const std::set<int> others = {4,  5,  6,   7,   8,   9,   10,  20,  21,  41,  42,  43,  44,  45,  46,
                                50, 60, 100, 102, 103, 104, 200, 201, 202, 203, 205, 206, 300, 400, 500};
  const EnumDescriptor* e = qn::Application_descriptor();
  std::set<int> valid = others;
  std::set<std::string> texts;
  for (const auto& row : named) {
    expect_value(e->FindValueByNumber(row.number), row);
    valid.insert(row.number);
    if (row.lex) texts.insert(row.lex);
  }
  expect_own_values(e, others, "APP_", texts);
  EXPECT_EQ(e->value_count(), 36);
  expect_valid_exactly(qn::Application_IsValid, valid);
  EXPECT_EQ(e->value(0)->name(), "APP_CONFIGD");  // the implicit default
}

// ---------------------------------------------------------------------------
// The custom options are registered, so they parse as extensions.

TEST(SchemaEnums, OptionsParseAsRegisteredExtensions) {
  google::protobuf::MessageOptions message_options;
  ASSERT_TRUE(message_options.ParseFromString(key(50001, 0) + varint(40) + key(50002, 2) + varint(9) + "SMBGardix"));
  EXPECT_EQ(message_options.GetExtension(qn::app), 40);
  EXPECT_EQ(message_options.GetExtension(qn::ini_section), "SMBGardix");
  EXPECT_EQ(message_options.unknown_fields().field_count(), 0);

  google::protobuf::EnumValueOptions value_options;
  ASSERT_TRUE(value_options.ParseFromString(key(50001, 2) + varint(7) + "Success"));
  EXPECT_EQ(value_options.GetExtension(qn::lex), "Success");

  google::protobuf::FieldOptions field_options;
  ASSERT_TRUE(field_options.ParseFromString(key(50001, 0) + varint(qn::HINT_OPTTIME)));
  EXPECT_EQ(field_options.GetExtension(qn::hint), qn::HINT_OPTTIME);
}

TEST(SchemaEnums, UnknownHintNumberGoesToTheUnknownFields) {
  for (uint64_t number : {6, 9, 17}) {
    SCOPED_TRACE(number);
    google::protobuf::FieldOptions options;
    const std::string bytes = key(50001, 0) + varint(number);
    ASSERT_TRUE(options.ParseFromString(bytes));
    EXPECT_FALSE(options.HasExtension(qn::hint));
    EXPECT_EQ(options.GetExtension(qn::hint), qn::HINT_NONE);
    expect_single_unknown_varint(options, 50001, number);
    EXPECT_EQ(options.SerializeAsString(), bytes);
  }
}

}  // namespace
