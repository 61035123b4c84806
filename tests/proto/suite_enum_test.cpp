// Values, numbers, declaration order, display texts and validity tests of
// the shared enumerations. The error codes have a file of their own.
#include <gtest/gtest.h>

#include <google/protobuf/descriptor.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include "action.pb.h"
#include "annotation.pb.h"
#include "application.pb.h"
#include "error.pb.h"
#include "log.pb.h"
#include "protocol.pb.h"
#include "scan_report.pb.h"
#include "url_category.pb.h"

namespace {

using google::protobuf::EnumDescriptor;
using google::protobuf::EnumValueDescriptor;

struct value_row_t {
  const char* name;
  int number;
  const char* lex;  // nullptr: the value carries no display text
};

struct enum_row_t {
  const EnumDescriptor* (*descriptor)();
  const char* full_name;
  std::vector<value_row_t> values;  // in declaration order
};

const enum_row_t k_enums[] = {
    {qn::LexHint_descriptor,
     "qn.LexHint",
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
     "qn.Log.LogType",
     {{"SYSLOG", 1, "Syslog"}, {"FILE", 2, "File"}, {"STDERR", 3, "Stderr"}, {"AUTO", 4, "Auto"}}},
    {qn::Log_LogFacility_descriptor,
     "qn.Log.LogFacility",
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
     "qn.LogLevel",
     {{"LOG_LEVEL_DEBUG", 1, "Debug"},
      {"LOG_LEVEL_INFO", 2, "Info"},
      {"LOG_LEVEL_NOTICE", 3, "Notice"},
      {"LOG_LEVEL_WARNING", 4, "Warning"},
      {"LOG_LEVEL_ERROR", 5, "Error"}}},
    {qn::Protocol_descriptor,
     "qn.Protocol",
     {{"SMTP", 1, nullptr}, {"POP3", 2, nullptr}, {"IMAP", 3, nullptr}, {"HTTP", 4, nullptr}, {"FTP", 5, nullptr}}},
    {qn::ArchiveType_descriptor,
     "qn.ArchiveType",
     {{"SE_ARCHIVE", 1, "Archive"}, {"SE_MAIL", 2, "Mail"}, {"SE_CONTAINER", 3, "Container"}}},
    {qn::VirusType_descriptor,
     "qn.VirusType",
     {{"SE_KNOWN_VIRUS", 1, "Known virus"},
      {"SE_VIRUS_MODIFICATION", 2, "Virus modification"},
      {"SE_UNKNOWN_VIRUS", 3, "Unknown virus"},
      {"SE_ADWARE", 4, "Adware"},
      {"SE_DIALER", 5, "Dialer"},
      {"SE_JOKE", 6, "Joke program"},
      {"SE_RISKWARE", 7, "Riskware"},
      {"SE_HACKTOOL", 8, "Hacktool"}}},
    {qn::ScanError_descriptor,
     "qn.ScanError",
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
     "qn.UrlCategory",
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
     "qn.FileAction",
     {{"FILE_ACTION_CURE", 1, "Cure"},
      {"FILE_ACTION_QUARANTINE", 2, "Quarantine"},
      {"FILE_ACTION_DELETE", 3, "Delete"},
      {"FILE_ACTION_REPORT", 4, "Report"},
      {"FILE_ACTION_IGNORE", 5, "Ignore"}}},
    // Declared out of numeric order: 1, 3, 4, 2, 5, 6, 7.
    {qn::ThreatOp_descriptor,
     "qn.ThreatOp",
     {{"THREAT_OP_CURE", 1, "Cure"},
      {"THREAT_OP_CURE_OR_QUARANTINE", 3, "Cure or quarantine"},
      {"THREAT_OP_CURE_OR_DELETE", 4, "Cure or delete"},
      {"THREAT_OP_QUARANTINE", 2, "Quarantine"},
      {"THREAT_OP_DELETE", 5, "Delete"},
      {"THREAT_OP_REPORT", 6, "Report"},
      {"THREAT_OP_IGNORE", 7, "Ignore"}}},
    {qn::QEntryAction_descriptor,
     "qn.QEntryAction",
     {{"QENTRY_ACTION_DELETE", 1, "Delete"},
      {"QENTRY_ACTION_RESTORE", 2, "Restore"},
      {"QENTRY_ACTION_RESCAN", 3, "Rescan"},
      {"QENTRY_ACTION_CURE", 4, "Cure"}}},
};

TEST(SuiteEnums, ValuesNumbersOrderAndTexts) {
  for (const auto& row : k_enums) {
    SCOPED_TRACE(row.full_name);
    const EnumDescriptor* e = row.descriptor();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->full_name(), row.full_name);
    ASSERT_EQ(e->value_count(), static_cast<int>(row.values.size()));
    for (int i = 0; i < e->value_count(); ++i) {
      const EnumValueDescriptor* v = e->value(i);
      const value_row_t& want = row.values[i];
      SCOPED_TRACE(want.name);
      EXPECT_EQ(v->name(), want.name);
      EXPECT_EQ(v->number(), want.number);
      if (want.lex == nullptr) {
        EXPECT_FALSE(v->options().HasExtension(qn::lex));
      } else {
        ASSERT_TRUE(v->options().HasExtension(qn::lex));
        EXPECT_EQ(v->options().GetExtension(qn::lex), want.lex);
      }
    }
  }
}

TEST(SuiteEnums, ApplicationNamedValues) {
  const value_row_t rows[] = {
      {"APP_CONFIGD", 1, "ConfigD"},     {"APP_SCAN_ENGINE", 2, "DiziDaravi"}, {"APP_FILE_CHECK", 3, "DazaVadov"},
      {"APP_SMB_GARDIX", 40, "SMBGardix"}, {"APP_VORND", 52, "VornD"},       {"APP_GENERIC", 99, nullptr},
  };
  const EnumDescriptor* e = qn::Application_descriptor();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const EnumValueDescriptor* v = e->FindValueByNumber(row.number);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->name(), row.name);
    if (row.lex == nullptr) {
      EXPECT_FALSE(v->options().HasExtension(qn::lex));
    } else {
      ASSERT_TRUE(v->options().HasExtension(qn::lex));
      EXPECT_EQ(v->options().GetExtension(qn::lex), row.lex);
    }
  }
  EXPECT_EQ(qn::APP_SMB_GARDIX, 40);
  // The first value is the default of every field of this type.
  EXPECT_EQ(e->value(0)->number(), 1);
}

TEST(SuiteEnums, ApplicationHas36ValuesEachNamedAndShownApartFromGeneric) {
  const EnumDescriptor* e = qn::Application_descriptor();
  ASSERT_EQ(e->value_count(), 36);
  std::set<std::string> names, texts;
  for (int i = 0; i < e->value_count(); ++i) {
    const EnumValueDescriptor* v = e->value(i);
    SCOPED_TRACE(v->name());
    EXPECT_EQ(v->name().rfind("APP_", 0), 0u);
    names.insert(v->name());
    if (v->number() == 99) continue;
    ASSERT_TRUE(v->options().HasExtension(qn::lex));
    EXPECT_FALSE(v->options().GetExtension(qn::lex).empty());
    texts.insert(v->options().GetExtension(qn::lex));
  }
  EXPECT_EQ(names.size(), 36u);
  EXPECT_EQ(texts.size(), 35u) << "display texts must tell the components apart";
}

// ---------------------------------------------------------------------------
// Validity tests: exactly the listed numbers are values.

std::set<int> span(int from, int to) {
  std::set<int> s;
  for (int i = from; i <= to; ++i) s.insert(i);
  return s;
}

std::set<int> join(std::initializer_list<std::set<int>> parts) {
  std::set<int> s;
  for (const auto& p : parts) s.insert(p.begin(), p.end());
  return s;
}

struct validity_row_t {
  const char* name;
  bool (*is_valid)(int);
  std::set<int> valid;
};

const validity_row_t k_validity[] = {
    {"LexHint", qn::LexHint_IsValid, join({span(0, 5), span(10, 16)})},
    {"Application",
     qn::Application_IsValid,
     join({span(1, 10), {20, 21, 40}, span(41, 46), {50, 52, 60, 99, 100}, span(102, 104), span(200, 203),
           {205, 206, 300, 400, 500}})},
    {"Log.LogType", qn::Log_LogType_IsValid, span(1, 4)},
    {"Log.LogFacility", qn::Log_LogFacility_IsValid, join({span(1, 3), span(10, 17)})},
    {"LogLevel", qn::LogLevel_IsValid, span(1, 5)},
    {"Protocol", qn::Protocol_IsValid, span(1, 5)},
    {"ArchiveType", qn::ArchiveType_IsValid, span(1, 3)},
    {"VirusType", qn::VirusType_IsValid, span(1, 8)},
    {"ScanError",
     qn::ScanError_IsValid,
     join({span(1, 10), span(20, 26), span(30, 37), span(40, 44), span(46, 48), {50, 100}})},
    {"UrlCategory", qn::UrlCategory_IsValid, join({span(1, 17), {20}})},
    {"FileAction", qn::FileAction_IsValid, span(1, 5)},
    {"ThreatOp", qn::ThreatOp_IsValid, span(1, 7)},
    {"QEntryAction", qn::QEntryAction_IsValid, span(1, 4)},
};

TEST(SuiteEnums, IsValidAcceptsExactlyTheListedNumbers) {
  for (const auto& row : k_validity) {
    SCOPED_TRACE(row.name);
    for (int n = -1100; n <= 1100; ++n) EXPECT_EQ(row.is_valid(n), row.valid.count(n) == 1) << n;
    EXPECT_FALSE(row.is_valid(INT_MIN));
    EXPECT_FALSE(row.is_valid(INT_MAX));
  }
  EXPECT_EQ(k_validity[1].valid.size(), 36u);
}

TEST(SuiteEnums, ValidityAgreesWithTheDescriptors) {
  const struct {
    const char* name;
    const EnumDescriptor* (*descriptor)();
    bool (*is_valid)(int);
  } rows[] = {
      {"LexHint", qn::LexHint_descriptor, qn::LexHint_IsValid},
      {"Application", qn::Application_descriptor, qn::Application_IsValid},
      {"ScanError", qn::ScanError_descriptor, qn::ScanError_IsValid},
      {"UrlCategory", qn::UrlCategory_descriptor, qn::UrlCategory_IsValid},
      {"ThreatOp", qn::ThreatOp_descriptor, qn::ThreatOp_IsValid},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (int n = -10; n <= 600; ++n)
      EXPECT_EQ(row.is_valid(n), row.descriptor()->FindValueByNumber(n) != nullptr) << n;
  }
}

TEST(SuiteEnums, ThreatOpNamesParseToTheirNumbers) {
  const struct {
    const char* name;
    qn::ThreatOp op;
    int number;
  } rows[] = {
      {"THREAT_OP_CURE", qn::THREAT_OP_CURE, 1},
      {"THREAT_OP_QUARANTINE", qn::THREAT_OP_QUARANTINE, 2},
      {"THREAT_OP_CURE_OR_QUARANTINE", qn::THREAT_OP_CURE_OR_QUARANTINE, 3},
      {"THREAT_OP_CURE_OR_DELETE", qn::THREAT_OP_CURE_OR_DELETE, 4},
      {"THREAT_OP_DELETE", qn::THREAT_OP_DELETE, 5},
      {"THREAT_OP_REPORT", qn::THREAT_OP_REPORT, 6},
      {"THREAT_OP_IGNORE", qn::THREAT_OP_IGNORE, 7},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(static_cast<int>(row.op), row.number);
    qn::ThreatOp parsed = qn::THREAT_OP_IGNORE;
    ASSERT_TRUE(qn::ThreatOp_Parse(row.name, &parsed));
    EXPECT_EQ(parsed, row.op);
    EXPECT_EQ(qn::ThreatOp_Name(row.op), row.name);
  }
  EXPECT_EQ(qn::ThreatOp_MIN, qn::THREAT_OP_CURE);
  EXPECT_EQ(qn::ThreatOp_MAX, qn::THREAT_OP_IGNORE);
}

}  // namespace
