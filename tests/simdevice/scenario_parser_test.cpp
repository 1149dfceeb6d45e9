// The scenario parser: every key, the defaults, and every error with the line it names.
#include "simdevice/scenario_parser.h"

#include <gtest/gtest.h>

#include "simdevice_test_support.h"

namespace simdevice {
namespace {

using ::simdevice::testing::ParseOrFail;
using ::simdevice::testing::TemporaryFolder;
using Names = std::vector<std::string>;

TEST(ScenarioParserTest, EmptyTextPlaysTheDefaultDevice) {
  const Scenario scenario = ParseOrFail("");
  EXPECT_EQ(scenario.NamesForScan(1), Names{"SCRIBOLANTE-X-1"});
  EXPECT_EQ(scenario.NamesForScan(1000), Names{"SCRIBOLANTE-X-1"});
  EXPECT_EQ(scenario.device.status, 0);
  EXPECT_EQ(scenario.device.versionMajor, 1);
  EXPECT_EQ(scenario.device.versionMinor, 0);
  EXPECT_EQ(scenario.device.checksum, ChecksumMode::Auto);
  EXPECT_TRUE(scenario.device.rejects.empty());
  EXPECT_FALSE(scenario.device.rejectAll);
  EXPECT_FALSE(scenario.factoryFailure.has_value());
  EXPECT_FALSE(scenario.factoryReturnsNull);
  EXPECT_FALSE(scenario.enumerateFailures.CodeFor(1).has_value());
  EXPECT_TRUE(scenario.transferFailures.empty());
  EXPECT_TRUE(scenario.shortReplies.empty());
  EXPECT_EQ(scenario.rate, 0u);
  EXPECT_EQ(scenario.attributeA, 0x0F37);
  EXPECT_EQ(scenario.attributeB, 0x0100);
  EXPECT_EQ(scenario.vendorId, 0x0F37);
  EXPECT_EQ(scenario.productId, 0x0100);
  EXPECT_EQ(scenario.extraId, 0x0200);
  EXPECT_TRUE(scenario.tracePath.empty());
}

TEST(ScenarioParserTest, CommentsBlankLinesTabsAndCarriageReturnsAreIgnored) {
  const Scenario scenario =
      ParseOrFail("# a comment\r\n\r\n   \t\n\tinfo  version\t3   4 # trailing\r\nrate 5\r\n");
  EXPECT_EQ(scenario.device.versionMajor, 3);
  EXPECT_EQ(scenario.device.versionMinor, 4);
  EXPECT_EQ(scenario.rate, 5u);
}

TEST(ScenarioParserTest, EveryKeyIsRead) {
  const Scenario scenario = ParseOrFail(R"(# every key at once
list 1
list 3 A B
devices 5 3 DEV-
list 7 B A
fail enumerate 2
fail enumerate always 7
fail open 1 5
fail interface 2 -3
fail transfer 4
fail transfer 6 0x63
info status 1
info version 2 10
reject 5
reject 6 times 3 names zero
reject 7 names beyond times 2
reject 8 names 0x10
reject-all
short-reply 2 4
checksum refuse
rate 419430
attribute a -1
attribute b 0x20
trace  /tmp/some folder/x.trace   # a path may hold blanks
usb-ids 1 2 0xffff
unplug 9
unplug 12
hang 40
checksum-delay 1500
unstable-names
)");
  EXPECT_EQ(scenario.NamesForScan(1), Names{});
  EXPECT_EQ(scenario.NamesForScan(2), Names{});
  EXPECT_EQ(scenario.NamesForScan(3), (Names{"A", "B"}));
  EXPECT_EQ(scenario.NamesForScan(4), (Names{"A", "B"}));
  EXPECT_EQ(scenario.NamesForScan(5), (Names{"DEV-1", "DEV-2", "DEV-3"}));
  EXPECT_EQ(scenario.NamesForScan(7), (Names{"B", "A"}));
  EXPECT_EQ(scenario.NamesForScan(70), (Names{"B", "A"}));

  EXPECT_EQ(scenario.enumerateFailures.CodeFor(1), 7);
  EXPECT_EQ(scenario.enumerateFailures.CodeFor(2), 1);
  EXPECT_EQ(scenario.openFailures.CodeFor(1), 5);
  EXPECT_FALSE(scenario.openFailures.CodeFor(2).has_value());
  EXPECT_EQ(scenario.interfaceFailures.CodeFor(2), -3);
  EXPECT_EQ(scenario.transferFailures, (std::map<std::uint64_t, int>{{4, 31}, {6, 99}}));

  EXPECT_EQ(scenario.device.status, 1);
  EXPECT_EQ(scenario.device.versionMajor, 2);
  EXPECT_EQ(scenario.device.versionMinor, 10);
  ASSERT_EQ(scenario.device.rejects.size(), 4u);
  EXPECT_EQ(scenario.device.rejects[0].block, 5u);
  EXPECT_EQ(scenario.device.rejects[0].times, 1u);
  EXPECT_EQ(scenario.device.rejects[0].naming, RejectNaming::Same);
  EXPECT_EQ(scenario.device.rejects[1].times, 3u);
  EXPECT_EQ(scenario.device.rejects[1].naming, RejectNaming::Zero);
  EXPECT_EQ(scenario.device.rejects[2].times, 2u);
  EXPECT_EQ(scenario.device.rejects[2].naming, RejectNaming::Beyond);
  EXPECT_EQ(scenario.device.rejects[3].naming, RejectNaming::Number);
  EXPECT_EQ(scenario.device.rejects[3].number, 16u);
  EXPECT_TRUE(scenario.device.rejectAll);
  EXPECT_EQ(scenario.device.checksum, ChecksumMode::Refuse);

  EXPECT_EQ(scenario.shortReplies, (std::map<std::uint64_t, std::uint64_t>{{2, 4}}));
  EXPECT_EQ(scenario.rate, 419430u);
  EXPECT_EQ(scenario.attributeA, -1);
  EXPECT_EQ(scenario.attributeB, 32);
  EXPECT_EQ(scenario.tracePath, "/tmp/some folder/x.trace");
  EXPECT_EQ(scenario.traceLine, 24);
  EXPECT_EQ(scenario.vendorId, 1);
  EXPECT_EQ(scenario.productId, 2);
  EXPECT_EQ(scenario.extraId, 0xFFFF);
  EXPECT_EQ(scenario.unplugAt, (std::vector<std::uint64_t>{9, 12}));
  EXPECT_EQ(scenario.hangAt, (std::vector<std::uint64_t>{40}));
  EXPECT_EQ(scenario.checksumDelayMs, 1500u);
  EXPECT_TRUE(scenario.unstableNames);
}

TEST(ScenarioParserTest, FactoryFailures) {
  EXPECT_EQ(ParseOrFail("fail factory 9").factoryFailure, 9);
  EXPECT_FALSE(ParseOrFail("fail factory 9").factoryReturnsNull);
  EXPECT_TRUE(ParseOrFail("fail factory null").factoryReturnsNull);
  EXPECT_FALSE(ParseOrFail("fail factory null").factoryFailure.has_value());
}

TEST(ScenarioParserTest, ChecksumModesAndNamedBlocks) {
  EXPECT_EQ(ParseOrFail("checksum auto").device.checksum, ChecksumMode::Auto);
  EXPECT_EQ(ParseOrFail("checksum accept").device.checksum, ChecksumMode::Accept);
  EXPECT_EQ(ParseOrFail("reject 2 names same").device.rejects.at(0).naming, RejectNaming::Same);
  const RejectRule rule = ParseOrFail("reject 4294967295 names 0").device.rejects.at(0);
  EXPECT_EQ(rule.block, 4294967295u);
  EXPECT_EQ(rule.naming, RejectNaming::Number);
  EXPECT_EQ(rule.number, 0u);
}

TEST(ScenarioParserTest, ListsApplyFromTheirScanInScanOrder) {
  // Written out of order: the scan number decides, not the line.
  const Scenario scenario = ParseOrFail("list 4 C\nlist 2 B\ndevices 6 0\n");
  EXPECT_EQ(scenario.NamesForScan(1), Names{});
  EXPECT_EQ(scenario.NamesForScan(2), Names{"B"});
  EXPECT_EQ(scenario.NamesForScan(3), Names{"B"});
  EXPECT_EQ(scenario.NamesForScan(5), Names{"C"});
  EXPECT_EQ(scenario.NamesForScan(6), Names{});
}

TEST(ScenarioParserTest, DevicesShorthandNamesTheDevicesInOrder) {
  const Scenario scenario = ParseOrFail("devices 1 20");
  const Names& names = scenario.NamesForScan(1);
  ASSERT_EQ(names.size(), 20u);
  EXPECT_EQ(names.front(), "SCRIBOLANTE-X-1");
  EXPECT_EQ(names[16], "SCRIBOLANTE-X-17");
  EXPECT_EQ(names.back(), "SCRIBOLANTE-X-20");
}

TEST(ScenarioParserTest, NamesMayBeAnyUtf8AndDifferOnlyInCase) {
  const Scenario scenario = ParseOrFail("list 1 スクリボランテ device DEVICE");
  EXPECT_EQ(scenario.NamesForScan(1), (Names{"スクリボランテ", "device", "DEVICE"}));
}

struct BadLine {
  std::string text;
  int line;
  std::string message;
};

// Names each case by its expected error, so test listings stay readable and stable.
void PrintTo(const BadLine& bad, std::ostream* out) {
  *out << "line " << bad.line << ": " << bad.message;
}

class ScenarioErrorTest : public ::testing::TestWithParam<BadLine> {};

TEST_P(ScenarioErrorTest, NamesTheLineAndTheFault) {
  Scenario scenario;
  ScenarioError error;
  ASSERT_FALSE(ParseScenario(GetParam().text, &scenario, &error));
  EXPECT_EQ(error.line, GetParam().line);
  EXPECT_EQ(error.message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    EveryError, ScenarioErrorTest,
    ::testing::Values(
        BadLine{"# one\n\nlist 1 A\nrejekt 4\n", 4, "unknown setting 'rejekt'"},
        BadLine{"list", 1,
                "wrong number of words for 'list': expected 'list <from-scan> [<name> ...]'"},
        BadLine{"list 0 A", 1, "scan number 0 is out of range 1..4294967295"},
        BadLine{"list x A", 1, "scan number 'x' is not a number"},
        BadLine{"list 4294967296", 1, "scan number 4294967296 is out of range 1..4294967295"},
        BadLine{"list 1 A B A", 1, "device name 'A' appears twice in the list"},
        BadLine{"list 2 A\n\ndevices 2 3", 3, "a list for scan 2 is already given on line 1"},
        BadLine{"devices 1", 1,
                "wrong number of words for 'devices': expected 'devices <from-scan> <count> "
                "[<prefix>]'"},
        BadLine{"devices 1 10001", 1, "device count 10001 is out of range 0..10000"},
        BadLine{"devices 1 -1", 1, "device count -1 is out of range 0..10000"},
        BadLine{"fail", 1,
                "'fail' needs what fails: factory, enumerate, open, interface or transfer"},
        BadLine{"fail reboot 1", 1,
                "unknown failure 'reboot' (expected factory, enumerate, open, interface or "
                "transfer)"},
        BadLine{"fail factory", 1,
                "wrong number of words for 'fail factory': expected 'fail factory <code>|null'"},
        BadLine{"fail factory 0", 1, "code 0 is no failure (0 means success)"},
        BadLine{"fail factory abc", 1, "code 'abc' is not a number"},
        BadLine{"fail factory 3\nfail factory null", 2, "'fail factory' is already set on line 1"},
        BadLine{"fail enumerate", 1,
                "wrong number of words for 'fail enumerate': expected 'fail enumerate "
                "<call>|always [<code>]'"},
        BadLine{"fail enumerate 0", 1, "call number 0 is out of range 1..4294967295"},
        BadLine{"fail enumerate sometimes", 1, "call number 'sometimes' is not a number"},
        BadLine{"fail open 2 1 3", 1,
                "wrong number of words for 'fail open': expected 'fail open <call>|always "
                "[<code>]'"},
        BadLine{"fail interface always 99999999999", 1,
                "code 99999999999 is out of range -2147483648..2147483647"},
        BadLine{"fail enumerate always\nfail enumerate always 5", 2,
                "'fail enumerate always' is already set on line 1"},
        BadLine{"fail open 2\nfail open 2 4", 2, "'fail open 2' is already set on line 1"},
        BadLine{"fail transfer", 1,
                "wrong number of words for 'fail transfer': expected 'fail transfer <exchange> "
                "[<code>]'"},
        BadLine{"fail transfer always", 1, "exchange number 'always' is not a number"},
        BadLine{"fail transfer 3 0", 1, "code 0 is no failure (0 means success)"},
        BadLine{"fail transfer 3\nfail transfer 3 7", 2,
                "'fail transfer 3' is already set on line 1"},
        BadLine{"info", 1, "'info' needs 'status' or 'version'"},
        BadLine{"info speed 3", 1, "'info' needs 'status' or 'version', not 'speed'"},
        BadLine{"info status", 1,
                "wrong number of words for 'info status': expected 'info status <n>'"},
        BadLine{"info status 256", 1, "status 256 is out of range 0..255"},
        BadLine{"info status 1\ninfo status 2", 2, "'info status' is already set on line 1"},
        BadLine{"info version 1", 1,
                "wrong number of words for 'info version': expected 'info version <major> "
                "<minor>'"},
        BadLine{"info version 1 -1", 1, "minor version -1 is out of range 0..255"},
        BadLine{"info version 1.0 0", 1, "major version '1.0' is not a number"},
        BadLine{"reject", 1,
                "wrong number of words for 'reject': expected 'reject <block> [times <n>] "
                "[names same|zero|beyond|<number>]'"},
        BadLine{"reject 3 times", 1,
                "wrong number of words for 'reject': expected 'reject <block> [times <n>] "
                "[names same|zero|beyond|<number>]'"},
        BadLine{"reject 0", 1, "block number 0 is out of range 1..4294967295"},
        BadLine{"reject 3 times 0", 1, "times 0 is out of range 1..4294967295"},
        BadLine{"reject 3 names elsewhere", 1,
                "'names' takes same, zero, beyond or a block number, not 'elsewhere'"},
        BadLine{"reject 3 often 2", 1, "unknown reject option 'often' (expected times or names)"},
        BadLine{"reject 3 times 1 times 2", 1, "'times' is given twice"},
        BadLine{"reject-all now", 1,
                "wrong number of words for 'reject-all': expected 'reject-all'"},
        BadLine{"reject-all\nreject-all", 2, "'reject-all' is already set on line 1"},
        BadLine{"short-reply 2", 1,
                "wrong number of words for 'short-reply': expected 'short-reply <exchange> "
                "<bytes>'"},
        BadLine{"short-reply 2 -1", 1, "byte count -1 is out of range 0..4294967295"},
        BadLine{"short-reply 2 1\nshort-reply 2 3", 2, "'short-reply 2' is already set on line 1"},
        BadLine{"checksum", 1,
                "wrong number of words for 'checksum': expected 'checksum auto|accept|refuse'"},
        BadLine{"checksum maybe", 1, "checksum mode 'maybe' is not auto, accept or refuse"},
        BadLine{"checksum accept\nchecksum refuse", 2, "'checksum' is already set on line 1"},
        BadLine{"rate", 1, "wrong number of words for 'rate': expected 'rate <bytes-per-second>'"},
        BadLine{"rate fast", 1, "rate 'fast' is not a number"},
        BadLine{"rate 12abc", 1, "rate '12abc' is not a number"},
        BadLine{"rate 0x", 1, "rate '0x' is not a number"},
        BadLine{"rate -5", 1, "rate -5 is out of range 0..1000000000000"},
        BadLine{"attribute", 1, "'attribute' needs 'a' or 'b'"},
        BadLine{"attribute c 1", 1, "'attribute' needs 'a' or 'b', not 'c'"},
        BadLine{"attribute a", 1,
                "wrong number of words for 'attribute a': expected 'attribute a <n>'"},
        BadLine{"attribute b 2147483648", 1,
                "attribute value 2147483648 is out of range -2147483648..2147483647"},
        BadLine{"attribute b 1\nattribute b 2", 2, "'attribute b' is already set on line 1"},
        BadLine{"trace   # nothing but a comment", 1,
                "wrong number of words for 'trace': expected 'trace <path>'"},
        BadLine{"trace a\ntrace b", 2, "'trace' is already set on line 1"},
        BadLine{"usb-ids 1 2", 1,
                "wrong number of words for 'usb-ids': expected 'usb-ids <vendor-id> "
                "<product-id> <extra-id>'"},
        BadLine{"usb-ids 0x0f37 0x10000 1", 1, "product ID 0x10000 is out of range 0..65535"},
        BadLine{"unplug", 1, "wrong number of words for 'unplug': expected 'unplug <exchange>'"},
        BadLine{"unplug 0", 1, "exchange number 0 is out of range 1..4294967295"},
        BadLine{"unplug 3\nunplug 3", 2, "'unplug 3' is already set on line 1"},
        BadLine{"hang", 1, "wrong number of words for 'hang': expected 'hang <exchange>'"},
        BadLine{"hang 0", 1, "exchange number 0 is out of range 1..4294967295"},
        BadLine{"hang 7\nhang 7", 2, "'hang 7' is already set on line 1"},
        BadLine{"checksum-delay 3600001", 1, "checksum delay 3600001 is out of range 0..3600000"},
        BadLine{"checksum-delay 5\nchecksum-delay 5", 2,
                "'checksum-delay' is already set on line 1"},
        BadLine{"unstable-names 2", 1,
                "wrong number of words for 'unstable-names': expected 'unstable-names'"},
        BadLine{"rate 5\nreplay t.jsonl", 2,
                "'replay' takes no other setting in its scenario (see line 1)"},
        BadLine{"replay t.jsonl\ntrace x", 2,
                "'replay' takes no other setting in its scenario (see line 1)"},
        BadLine{"rate 1\nlist 1 \xff\xfe", 2, "not valid UTF-8 text"},
        BadLine{"list 1 \xc0\xaf", 1, "not valid UTF-8 text"},      // overlong '/'
        BadLine{"list 1 \xed\xa0\x80", 1, "not valid UTF-8 text"},  // a surrogate
        BadLine{"list 1 \xe3\x82", 1, "not valid UTF-8 text"},      // cut short
        BadLine{std::string("list 1 A\0B", 10), 1, "not valid UTF-8 text"}));

TEST(ScenarioParserTest, NumbersMayBeHexadecimal) {
  const Scenario scenario = ParseOrFail("usb-ids 0x0F37 0x0100 0X0200\nfail transfer 0x10 -0x1F");
  EXPECT_EQ(scenario.vendorId, 0x0F37);
  EXPECT_EQ(scenario.extraId, 0x0200);
  EXPECT_EQ(scenario.transferFailures.at(16), -31);
}

TEST(ScenarioFileTest, ReadsAFile) {
  TemporaryFolder folder;
  const std::string path = folder.Write("good.scenario", "list 1 A B\ninfo status 3\n");
  Scenario scenario;
  ScenarioError error;
  ASSERT_TRUE(LoadScenarioFile(path, &scenario, &error)) << error.message;
  EXPECT_EQ(scenario.NamesForScan(1), (Names{"A", "B"}));
  EXPECT_EQ(scenario.device.status, 3);
}

TEST(ScenarioFileTest, AMissingFileOrAFolderCannotBeRead) {
  TemporaryFolder folder;
  Scenario scenario;
  ScenarioError error;
  EXPECT_FALSE(LoadScenarioFile(folder.File("missing.scenario"), &scenario, &error));
  EXPECT_EQ(error.line, 0);
  EXPECT_EQ(error.message, "cannot read: No such file or directory");
  EXPECT_FALSE(LoadScenarioFile(folder.File(""), &scenario, &error));
  EXPECT_EQ(error.message, "cannot read: Is a directory");
}

TEST(ScenarioFileTest, AnOversizedFileIsRefused) {
  TemporaryFolder folder;
  const std::string path =
      folder.Write("huge.scenario", std::string(kMaxScenarioFileSize + 1, '#'));
  Scenario scenario;
  ScenarioError error;
  EXPECT_FALSE(LoadScenarioFile(path, &scenario, &error));
  EXPECT_EQ(error.line, 0);
  EXPECT_EQ(error.message, "too large (more than 1048576 bytes)");
}

TEST(ScenarioFileTest, TheErrorLineNamesFileAndLine) {
  EXPECT_EQ(FormatScenarioError("/x/y.scenario", ScenarioError{4, "unknown setting 'rejekt'"}),
            "GPlusUSBLibEx.so: scenario /x/y.scenario line 4: unknown setting 'rejekt'");
  EXPECT_EQ(
      FormatScenarioError("/x/y.scenario", ScenarioError{0, "cannot read: Permission denied"}),
      "GPlusUSBLibEx.so: scenario /x/y.scenario: cannot read: Permission denied");
}

}  // namespace
}  // namespace simdevice
