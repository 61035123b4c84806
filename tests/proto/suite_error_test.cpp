// The suite's error codes and the error message that carries them.
#include <gtest/gtest.h>

#include <google/protobuf/stubs/logging.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/unknown_field_set.h>

#include <set>
#include <string>

#include "annotation.pb.h"
#include "error.pb.h"

namespace {

using google::protobuf::EnumDescriptor;
using google::protobuf::EnumValueDescriptor;
using google::protobuf::UnknownField;

struct error_row_t {
  int number;
  const char* name;
  const char* text;
};

const error_row_t k_error_codes[] = {
    {0, "EC_OK", "Success"},
    {1, "EC_MONITOR_IPC_ERROR", "Error on monitor channel"},
    {2, "EC_ALREADY_IN_PROGRESS", "Operation is already in progress"},
    {3, "EC_IN_PENDING_STATE", "Operation is in pending state"},
    {4, "EC_INTERRUPTED_BY_USER", "Interrupted by user"},
    {5, "EC_CANCELED", "Operation canceled"},
    {6, "EC_LINK_DISCONNECTED", "Link disconnected"},
    {7, "EC_BAD_MESSAGE_SIZE", "Invalid IPC message size"},
    {8, "EC_BAD_MESSAGE_FORMAT", "Invalid IPC message format"},
    {9, "EC_NOT_READY", "Not ready"},
    {10, "EC_NOT_INSTALLED", "Component is not installed"},
    {11, "EC_UNEXPECTED_MESSAGE", "Unexpected IPC message"},
    {12, "EC_PROTOCOL_VIOLATION", "Protocol violation"},
    {13, "EC_UNKNOWN_STATE", "Subsystem state is unknown"},
    {20, "EC_NOT_ABSOLUTE_PATH", "Path must be absolute"},
    {21, "EC_NO_MEMORY", "Not enough memory"},
    {22, "EC_IO_ERROR", "IO error"},
    {23, "EC_NO_SUCH_ENTRY", "No such file or directory"},
    {24, "EC_PERMISSION_DENIED", "Permission denied"},
    {25, "EC_NOT_A_DIRECTORY", "Not a directory"},
    {26, "EC_DATA_CORRUPTED", "Data file corrupted"},
    {27, "EC_FILE_EXISTS", "File already exists"},
    {28, "EC_READ_ONLY_FS", "Read-only file system"},
    {29, "EC_NETWORK_ERROR", "Network error"},
    {30, "EC_NOT_A_DRIVE", "Not a drive"},
    {31, "EC_UNEXPECTED_EOF", "Unexpected EOF"},
    {32, "EC_FILE_WAS_CHANGED", "File was changed"},
    {33, "EC_NOT_A_REGULAR_FILE", "Not a regular file"},
    {34, "EC_NAME_ALREADY_IN_USE", "Name already in use"},
    {35, "EC_HOST_OFFLINE", "Host is offline"},
    {36, "EC_LIMIT_REACHED", "Resource limit reached"},
    {37, "EC_CROSS_DEVICE_LINK", "Mounting points are different"},
    {38, "EC_UNPACKING_ERROR", "Unpacking error"},
    {40, "EC_BASE_CORRUPTED", "Virus base corrupted"},
    {41, "EC_OLD_BASE_VERSION", "Non-supported virus database version"},
    {42, "EC_EMPTY_BASE", "Empty virus database"},
    {43, "EC_CAN_NOT_BE_CURED", "Object cannot be cured"},
    {44, "EC_INVALID_BASE_SET", "Non-supported virus database combination"},
    {45, "EC_SCAN_LIMIT_REACHED", "Scan limit reached"},
    {47, "EC_AUTH_FAILED", "Authentication failed"},
    {48, "EC_NOT_AUTHORIZED", "Authorization failed"},
    {49, "EC_INVALID_TOKEN", "Access token is invalid"},
    {50, "EC_DB_COMMON_ERROR", "DBMS general error"},
    {51, "EC_DB_OPEN_ERROR", "Cannot open database"},
    {52, "EC_DB_CONN_CLOSED", "Connection closed by DBMS"},
    {60, "EC_INVALID_ARGUMENT", "Invalid argument"},
    {61, "EC_INVALID_OPERATION", "Invalid operation"},
    {62, "EC_ROOT_ONLY", "Superuser privileges required"},
    {63, "EC_STANDALONE_MODE_ONLY", "Not allowed in central protection mode"},
    {64, "EC_NON_SUPPORTED_OS", "Non-supported OS"},
    {65, "EC_NOT_IMPLEMENTED", "Feature not implemented"},
    {66, "EC_UNKNOWN_OPTION", "Unknown option"},
    {67, "EC_UNKNOWN_SECTION", "Unknown section"},
    {68, "EC_INVALID_OPTION_VALUE", "Invalid option value"},
    {69, "EC_INVALID_STATE", "Invalid state"},
    {70, "EC_NOT_LIST_OPTION", "Only one value allowed"},
    {71, "EC_INVALID_TAG", "Tag value is invalid"},
    {80, "EC_RECORD_NOT_FOUND", "Record not found"},
    {81, "EC_RECORD_BUSY", "Record is in process now"},
    {82, "EC_QUARANTINED_FILE", "File has already been quarantined"},
    {83, "EC_NO_ZONE_IN_CLOUD", "Update zone is not provided by cloud"},
    {84, "EC_NO_ZONE_ON_DISK", "Update zone is not provided on disk"},
    {88, "EC_APP_SUSPENDED", "Process suspended by the administrator"},
    {89, "EC_BACKUP_FAILED", "Cannot backup before update"},
    {91, "EC_BAD_LST_FILE", "Invalid LST file"},
    {92, "EC_BAD_LZMA_FILE", "Invalid compressed file"},
    {93, "EC_PROXY_AUTH_ERROR", "Proxy authentication error"},
    {94, "EC_NO_UPDATE_SERVERS", "No update servers available"},
    {97, "EC_NETWORK_TIMEDOUT", "Network operation timed out"},
    {98, "EC_BAD_CHECKSUM", "Invalid checksum"},
    {102, "EC_BAD_CONFIG", "Invalid configuration"},
    {104, "EC_BAD_EXECUTABLE", "Invalid executable file"},
    {105, "EC_NO_CORE_ENGINE", "Core engine is not available"},
    {106, "EC_NO_VIRUS_BASES", "No virus databases"},
    {107, "EC_APP_TERMINATED", "Process terminated by signal"},
    {108, "EC_APP_CRASHED", "Unexpected process termination"},
    {109, "EC_INCOMPATIBLE", "Incompatible software detected"},
    {111, "EC_NO_LINUX_NSS", "NSS is not available"},
    {113, "EC_NO_KERNEL_MODULE", "Kernel module is not available"},
    {114, "EC_NO_VORND", "VornD is not available"},
    {119, "EC_NO_SCAN_ENGINE", "DiziDaravi is not available"},
    {120, "EC_NO_FILE_CHECK", "DazaVadov is not available"},
    {125, "EC_UNEXPECTED_ERROR", "Unexpected error"},
};

// Numbers that other components use; valid here, with names of our own.
const int k_foreign_codes[] = {85, 90, 110, 112, 115, 116, 117, 118, 121, 122, 123, 124};

TEST(SuiteErrorCode, EveryTableValueHasItsNameAndText) {
  const EnumDescriptor* e = qn::ErrorCode_descriptor();
  for (const auto& row : k_error_codes) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(qn::ErrorCode_IsValid(row.number));
    const EnumValueDescriptor* v = e->FindValueByNumber(row.number);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->name(), row.name);
    ASSERT_TRUE(v->options().HasExtension(qn::lex));
    EXPECT_EQ(v->options().GetExtension(qn::lex), row.text);
    EXPECT_EQ(e->FindValueByName(row.name), v);
  }
}

TEST(SuiteErrorCode, WellKnownTexts) {
  const auto text = [](qn::ErrorCode code) {
    return qn::ErrorCode_descriptor()->FindValueByNumber(code)->options().GetExtension(qn::lex);
  };
  EXPECT_EQ(text(qn::EC_OK), "Success");
  EXPECT_EQ(text(qn::EC_BAD_MESSAGE_FORMAT), "Invalid IPC message format");
  EXPECT_EQ(text(qn::EC_BAD_CONFIG), "Invalid configuration");
  EXPECT_EQ(text(qn::EC_APP_TERMINATED), "Process terminated by signal");
  EXPECT_EQ(text(qn::EC_UNEXPECTED_ERROR), "Unexpected error");
  EXPECT_EQ(qn::EC_BAD_CONFIG, 102);
  EXPECT_EQ(qn::EC_APP_SUSPENDED, 88);
  EXPECT_EQ(qn::EC_PROTOCOL_VIOLATION, 12);
}

TEST(SuiteErrorCode, ForeignValuesAreValidAndShowATextOfTheirOwn) {
  const EnumDescriptor* e = qn::ErrorCode_descriptor();
  std::set<std::string> texts;
  for (const auto& row : k_error_codes) texts.insert(row.text);
  for (int number : k_foreign_codes) {
    SCOPED_TRACE(number);
    EXPECT_TRUE(qn::ErrorCode_IsValid(number));
    const EnumValueDescriptor* v = e->FindValueByNumber(number);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->name().rfind("EC_", 0), 0u);
    ASSERT_TRUE(v->options().HasExtension(qn::lex));
    const std::string text = v->options().GetExtension(qn::lex);
    EXPECT_FALSE(text.empty());
    EXPECT_TRUE(texts.insert(text).second) << "text shared with another value: " << text;
  }
}

TEST(SuiteErrorCode, IsValidAcceptsExactlyTheValues) {
  std::set<int> valid(std::begin(k_foreign_codes), std::end(k_foreign_codes));
  for (const auto& row : k_error_codes) valid.insert(row.number);
  ASSERT_EQ(valid.size(), 95u);
  EXPECT_EQ(qn::ErrorCode_descriptor()->value_count(), 95);
  for (int n = -300; n <= 300; ++n) EXPECT_EQ(qn::ErrorCode_IsValid(n), valid.count(n) == 1) << n;
}

TEST(SuiteErrorCode, GapsAreNotValues) {
  const int gaps[] = {14, 15, 16, 17, 18, 19, 39, 46, 53, 54, 55, 56, 57, 58, 59, 72, 73, 74, 75,
                      76, 77, 78, 79, 86, 87, 103, -1, 126, 127, 255, 256};
  for (int n : gaps) EXPECT_FALSE(qn::ErrorCode_IsValid(n)) << n;
}

TEST(SuiteErrorCode, EveryValueFitsAnExitStatusAndIsDeclaredInAscendingOrder) {
  const EnumDescriptor* e = qn::ErrorCode_descriptor();
  EXPECT_EQ(e->value(0)->number(), 0);  // EC_OK is the default of every field of this type
  for (int i = 0; i < e->value_count(); ++i) {
    EXPECT_GE(e->value(i)->number(), 0);
    EXPECT_LE(e->value(i)->number(), 125);
    if (i > 0) {
      EXPECT_LT(e->value(i - 1)->number(), e->value(i)->number());
    }
  }
}

// ---------------------------------------------------------------------------
// qn::Error

TEST(SuiteErrorMessage, SerializesCodeThenText) {
  qn::Error error;
  error.set_code(qn::EC_BAD_CONFIG);
  error.set_what("x");
  EXPECT_EQ(error.SerializeAsString(), std::string("\x08\x66\x12\x01x", 5));

  qn::Error ok;
  ok.set_code(qn::EC_OK);
  // A present code is written even when it is the default.
  EXPECT_EQ(ok.SerializeAsString(), std::string("\x08\x00", 2));
}

TEST(SuiteErrorMessage, DefaultsAndRoundTrip) {
  qn::Error error;
  EXPECT_FALSE(error.has_code());
  EXPECT_EQ(error.code(), qn::EC_OK);
  EXPECT_FALSE(error.IsInitialized());

  error.set_code(qn::EC_APP_TERMINATED);
  error.set_what("stopped");
  qn::Error back;
  ASSERT_TRUE(back.ParseFromString(error.SerializeAsString()));
  EXPECT_EQ(back.code(), qn::EC_APP_TERMINATED);
  EXPECT_EQ(back.what(), "stopped");
}

TEST(SuiteErrorMessage, WithoutCodeDoesNotParse) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  qn::Error error;
  EXPECT_FALSE(error.ParseFromString(std::string("\x12\x03" "abc", 5)));
  EXPECT_FALSE(error.ParseFromString(std::string()));
  qn::Error partial;
  ASSERT_TRUE(partial.ParsePartialFromString(std::string("\x12\x03" "abc", 5)));
  EXPECT_EQ(partial.what(), "abc");
  EXPECT_FALSE(partial.IsInitialized());
}

TEST(SuiteErrorMessage, UnknownCodeNumberGoesToUnknownFieldsAndFailsTheParse) {
  google::protobuf::LogSilencer quiet;  // failed parses are expected here
  const struct {
    const char* what;
    std::string wire;
    int64_t number;
  } rows[] = {
      {"gap 14", std::string("\x08\x0e", 2), 14},
      {"gap 103", std::string("\x08\x67", 2), 103},
      {"above 125", std::string("\x08\x7e", 2), 126},
      {"negative", std::string("\x08\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01", 11), -1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    qn::Error error;
    EXPECT_FALSE(error.ParseFromString(row.wire));
    qn::Error partial;
    ASSERT_TRUE(partial.ParsePartialFromString(row.wire));
    EXPECT_FALSE(partial.has_code());
    EXPECT_EQ(partial.code(), qn::EC_OK);
    const auto& unknown = partial.GetReflection()->GetUnknownFields(partial);
    ASSERT_EQ(unknown.field_count(), 1);
    EXPECT_EQ(unknown.field(0).number(), 1);
    ASSERT_EQ(unknown.field(0).type(), UnknownField::TYPE_VARINT);
    EXPECT_EQ(static_cast<int64_t>(unknown.field(0).varint()), row.number);
    // The unknown number is written back unchanged.
    EXPECT_EQ(partial.SerializePartialAsString(), row.wire);
  }
}

}  // namespace
