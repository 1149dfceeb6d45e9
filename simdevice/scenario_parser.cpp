// Scenario files: one setting per line, blank-separated words, '#' comments. Every mistake
// is reported with its line, because a silently ignored typo would test the wrong thing.
#include "simdevice/scenario_parser.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <set>

#include "platform/file_chunks.h"
#include "simdevice/scenario_line_reader.h"

namespace simdevice {
namespace {

constexpr std::int64_t kMaxDevicesPerLine = 10000;
constexpr std::int64_t kMaxRate = 1000000000000;  // 1 TB/s: any faster is no delay at all
constexpr std::int64_t kMaxDelayMs = 3600000;     // an hour

// The usage shown when a setting has the wrong number of words.
const std::map<std::string, std::string, std::less<>> kUsage = {
    {"list", "list <from-scan> [<name> ...]"},
    {"devices", "devices <from-scan> <count> [<prefix>]"},
    {"fail factory", "fail factory <code>|null"},
    {"fail enumerate", "fail enumerate <call>|always [<code>]"},
    {"fail open", "fail open <call>|always [<code>]"},
    {"fail interface", "fail interface <call>|always [<code>]"},
    {"fail transfer", "fail transfer <exchange> [<code>]"},
    {"info status", "info status <n>"},
    {"info version", "info version <major> <minor>"},
    {"reject", "reject <block> [times <n>] [names same|zero|beyond|<number>]"},
    {"reject-all", "reject-all"},
    {"short-reply", "short-reply <exchange> <bytes>"},
    {"checksum", "checksum auto|accept|refuse"},
    {"rate", "rate <bytes-per-second>"},
    {"attribute a", "attribute a <n>"},
    {"attribute b", "attribute b <n>"},
    {"trace", "trace <path>"},
    {"usb-ids", "usb-ids <vendor-id> <product-id> <extra-id>"},
    {"unplug", "unplug <exchange>"},
    {"hang", "hang <exchange>"},
    {"checksum-delay", "checksum-delay <milliseconds>"},
    {"unstable-names", "unstable-names"},
    {"replay", "replay <trace>"},
};

// The settings of a scenario, one line at a time, into the scenario.
class Parser : public ScenarioLineReader {
 public:
  explicit Parser(Scenario* scenario) : scenario_(scenario) { *scenario_ = Scenario{}; }

  // Applies one line; false with message() set when the line is wrong.
  bool ParseLine(int number, std::string_view line);
  // Puts the collected list changes into the scenario (the default list when there were none).
  void Finish();

 private:
  bool WrongWordCount(std::string_view setting) {
    return Fail("wrong number of words for " + Quote(setting) + ": expected '" +
                kUsage.find(setting)->second + "'");
  }

  // A setting that is one word on its own line and turns *value on.
  bool ParseSwitch(std::string_view setting, bool* value);
  bool ParseList();
  bool ParseDevices();
  bool ParseFail();
  bool ParseCallFailure(const std::string& setting, CallFailures* failures);
  bool ParseInfo();
  bool ParseReject();
  bool ParseShortReply();
  bool ParseChecksum();
  bool ParseAttribute();
  bool ParseUsbIds();
  bool ParseUnplug();
  bool AddList(std::uint64_t fromScan, std::vector<std::string> names);

  Scenario* scenario_;
  std::map<std::uint64_t, std::vector<std::string>> lists_;
  int firstSettingLine_ = 0;
};

bool Parser::ParseLine(int number, std::string_view line) {
  if (!ReadLine(number, line)) return false;
  if (words().empty()) return true;

  const std::string_view key = words()[0];
  // A replayed trace answers every call by itself: another setting could only be ignored.
  if (scenario_->replayLine != 0 || (key == "replay" && firstSettingLine_ != 0)) {
    return Fail("'replay' takes no other setting in its scenario (see line " +
                std::to_string(firstSettingLine_) + ")");
  }
  if (firstSettingLine_ == 0) firstSettingLine_ = lineNumber();
  if (key == "replay") {
    if (RestOfLine().empty()) return WrongWordCount("replay");
    scenario_->replayPath = std::string(RestOfLine());
    scenario_->replayLine = lineNumber();
    return true;
  }
  if (key == "list") return ParseList();
  if (key == "devices") return ParseDevices();
  if (key == "fail") return ParseFail();
  if (key == "info") return ParseInfo();
  if (key == "reject") return ParseReject();
  if (key == "reject-all") return ParseSwitch("reject-all", &scenario_->device.rejectAll);
  if (key == "unstable-names") return ParseSwitch("unstable-names", &scenario_->unstableNames);
  if (key == "short-reply") return ParseShortReply();
  if (key == "checksum") return ParseChecksum();
  if (key == "rate") {
    std::int64_t rate = 0;
    if (words().size() != 2) return WrongWordCount("rate");
    if (!Number(words()[1], "rate", 0, kMaxRate, &rate) || !ClaimOnce("rate")) return false;
    scenario_->rate = static_cast<std::uint64_t>(rate);
    return true;
  }
  if (key == "attribute") return ParseAttribute();
  if (key == "trace") {
    const std::string_view path = RestOfLine();
    if (path.empty()) return WrongWordCount("trace");
    if (!ClaimOnce("trace")) return false;
    scenario_->tracePath = std::string(path);
    scenario_->traceLine = lineNumber();
    return true;
  }
  if (key == "usb-ids") return ParseUsbIds();
  if (key == "unplug") return ParseUnplug();
  if (key == "hang") {
    std::uint64_t exchange = 0;
    if (words().size() != 2) return WrongWordCount("hang");
    if (!Count(words()[1], "exchange number", &exchange) ||
        !ClaimOnce("hang " + std::to_string(exchange))) {
      return false;
    }
    scenario_->hangAt.push_back(exchange);
    return true;
  }
  if (key == "checksum-delay") {
    std::int64_t milliseconds = 0;
    if (words().size() != 2) return WrongWordCount("checksum-delay");
    if (!Number(words()[1], "checksum delay", 0, kMaxDelayMs, &milliseconds) ||
        !ClaimOnce("checksum-delay")) {
      return false;
    }
    scenario_->checksumDelayMs = static_cast<std::uint64_t>(milliseconds);
    return true;
  }
  return Fail("unknown setting " + Quote(key));
}

void Parser::Finish() {
  if (lists_.empty()) return;  // keep the default list
  scenario_->lists.clear();
  for (auto& [fromScan, names] : lists_) {
    scenario_->lists.push_back(ListChange{fromScan, std::move(names)});
  }
}

bool Parser::AddList(std::uint64_t fromScan, std::vector<std::string> names) {
  // 'list' and 'devices' lines share their keys: one list per starting scan.
  if (const int earlier = Claim("list " + std::to_string(fromScan)); earlier != 0) {
    return Fail("a list for scan " + std::to_string(fromScan) + " is already given on line " +
                std::to_string(earlier));
  }
  std::set<std::string_view> unique;
  for (const std::string& name : names) {
    if (!unique.insert(name).second) {
      return Fail("device name " + Quote(name) + " appears twice in the list");
    }
  }
  lists_[fromScan] = std::move(names);
  return true;
}

bool Parser::ParseSwitch(std::string_view setting, bool* value) {
  if (words().size() != 1) return WrongWordCount(setting);
  if (!ClaimOnce(std::string(setting))) return false;
  *value = true;
  return true;
}

bool Parser::ParseList() {
  if (words().size() < 2) return WrongWordCount("list");
  std::uint64_t fromScan = 0;
  if (!Count(words()[1], "scan number", &fromScan)) return false;
  std::vector<std::string> names(words().begin() + 2, words().end());
  return AddList(fromScan, std::move(names));
}

bool Parser::ParseDevices() {
  if (words().size() != 3 && words().size() != 4) return WrongWordCount("devices");
  std::uint64_t fromScan = 0;
  std::int64_t count = 0;
  if (!Count(words()[1], "scan number", &fromScan) ||
      !Number(words()[2], "device count", 0, kMaxDevicesPerLine, &count)) {
    return false;
  }
  const std::string prefix = words().size() == 4 ? std::string(words()[3]) : kDefaultDevicePrefix;
  std::vector<std::string> names;
  for (std::int64_t index = 1; index <= count; ++index) {
    names.push_back(prefix + std::to_string(index));
  }
  return AddList(fromScan, std::move(names));
}

bool Parser::ParseFail() {
  if (words().size() < 2) {
    return Fail("'fail' needs what fails: factory, enumerate, open, interface or transfer");
  }
  const std::string_view what = words()[1];
  if (what == "factory") {
    if (words().size() != 3) return WrongWordCount("fail factory");
    if (words()[2] == "null") {
      if (!ClaimOnce("fail factory")) return false;
      scenario_->factoryReturnsNull = true;
      return true;
    }
    int code = 0;
    if (!Code(words()[2], &code) || !ClaimOnce("fail factory")) return false;
    scenario_->factoryFailure = code;
    return true;
  }
  if (what == "enumerate") {
    return ParseCallFailure("fail enumerate", &scenario_->enumerateFailures);
  }
  if (what == "open") return ParseCallFailure("fail open", &scenario_->openFailures);
  if (what == "interface") {
    return ParseCallFailure("fail interface", &scenario_->interfaceFailures);
  }
  if (what == "transfer") {
    if (words().size() != 3 && words().size() != 4) return WrongWordCount("fail transfer");
    std::uint64_t exchange = 0;
    int code = 31;
    if (!Count(words()[2], "exchange number", &exchange)) return false;
    if (words().size() == 4 && !Code(words()[3], &code)) return false;
    if (!ClaimOnce("fail transfer " + std::to_string(exchange))) return false;
    scenario_->transferFailures[exchange] = code;
    return true;
  }
  return Fail("unknown failure " + Quote(what) +
              " (expected factory, enumerate, open, interface or transfer)");
}

bool Parser::ParseCallFailure(const std::string& setting, CallFailures* failures) {
  if (words().size() != 3 && words().size() != 4) return WrongWordCount(setting);
  int code = 1;
  if (words().size() == 4 && !Code(words()[3], &code)) return false;
  if (words()[2] == "always") {
    if (!ClaimOnce(setting + " always")) return false;
    failures->always = code;
    return true;
  }
  std::uint64_t call = 0;
  if (!Count(words()[2], "call number", &call)) return false;
  if (!ClaimOnce(setting + " " + std::to_string(call))) return false;
  failures->atCall[call] = code;
  return true;
}

bool Parser::ParseInfo() {
  if (words().size() >= 2 && words()[1] == "status") {
    std::int64_t status = 0;
    if (words().size() != 3) return WrongWordCount("info status");
    if (!Number(words()[2], "status", 0, 255, &status) || !ClaimOnce("info status")) return false;
    scenario_->device.status = static_cast<std::uint8_t>(status);
    return true;
  }
  if (words().size() >= 2 && words()[1] == "version") {
    std::int64_t major = 0;
    std::int64_t minor = 0;
    if (words().size() != 4) return WrongWordCount("info version");
    if (!Number(words()[2], "major version", 0, 255, &major) ||
        !Number(words()[3], "minor version", 0, 255, &minor) || !ClaimOnce("info version")) {
      return false;
    }
    scenario_->device.versionMajor = static_cast<std::uint8_t>(major);
    scenario_->device.versionMinor = static_cast<std::uint8_t>(minor);
    return true;
  }
  return Fail("'info' needs 'status' or 'version'" +
              (words().size() >= 2 ? ", not " + Quote(words()[1]) : std::string()));
}

bool Parser::ParseReject() {
  if (words().size() < 2 || words().size() > 6 || words().size() % 2 != 0) {
    return WrongWordCount("reject");
  }
  RejectRule rule;
  std::uint64_t block = 0;
  if (!Count(words()[1], "block number", &block)) return false;
  rule.block = static_cast<std::uint32_t>(block);
  bool timesGiven = false;
  bool namesGiven = false;
  for (std::size_t index = 2; index + 1 < words().size(); index += 2) {
    const std::string_view option = words()[index];
    const std::string_view value = words()[index + 1];
    if (option == "times" && !timesGiven) {
      std::uint64_t times = 0;
      if (!Count(value, "times", &times)) return false;
      rule.times = static_cast<std::uint32_t>(times);
      timesGiven = true;
    } else if (option == "names" && !namesGiven) {
      namesGiven = true;
      if (value == "same") {
        rule.naming = RejectNaming::Same;
      } else if (value == "zero") {
        rule.naming = RejectNaming::Zero;
      } else if (value == "beyond") {
        rule.naming = RejectNaming::Beyond;
      } else {
        std::int64_t number = 0;
        if (!Number(value, "named block", 0, kMaxCount, &number)) {
          return Fail("'names' takes same, zero, beyond or a block number, not " + Quote(value));
        }
        rule.naming = RejectNaming::Number;
        rule.number = static_cast<std::uint32_t>(number);
      }
    } else if (option == "times" || option == "names") {
      return Fail(Quote(option) + " is given twice");
    } else {
      return Fail("unknown reject option " + Quote(option) + " (expected times or names)");
    }
  }
  scenario_->device.rejects.push_back(rule);
  return true;
}

bool Parser::ParseShortReply() {
  if (words().size() != 3) return WrongWordCount("short-reply");
  std::uint64_t exchange = 0;
  std::int64_t bytes = 0;
  if (!Count(words()[1], "exchange number", &exchange) ||
      !Number(words()[2], "byte count", 0, kMaxCount, &bytes) ||
      !ClaimOnce("short-reply " + std::to_string(exchange))) {
    return false;
  }
  scenario_->shortReplies[exchange] = static_cast<std::uint64_t>(bytes);
  return true;
}

bool Parser::ParseChecksum() {
  if (words().size() != 2) return WrongWordCount("checksum");
  ChecksumMode mode;
  if (words()[1] == "auto") {
    mode = ChecksumMode::Auto;
  } else if (words()[1] == "accept") {
    mode = ChecksumMode::Accept;
  } else if (words()[1] == "refuse") {
    mode = ChecksumMode::Refuse;
  } else {
    return Fail("checksum mode " + Quote(words()[1]) + " is not auto, accept or refuse");
  }
  if (!ClaimOnce("checksum")) return false;
  scenario_->device.checksum = mode;
  return true;
}

bool Parser::ParseAttribute() {
  if (words().size() < 2 || (words()[1] != "a" && words()[1] != "b")) {
    return Fail("'attribute' needs 'a' or 'b'" +
                (words().size() >= 2 ? ", not " + Quote(words()[1]) : std::string()));
  }
  const std::string setting = "attribute " + std::string(words()[1]);
  if (words().size() != 3) return WrongWordCount(setting);
  std::int64_t value = 0;
  if (!Number(words()[2], "attribute value", std::numeric_limits<int>::min(),
              std::numeric_limits<int>::max(), &value) ||
      !ClaimOnce(setting)) {
    return false;
  }
  (words()[1] == "a" ? scenario_->attributeA : scenario_->attributeB) = static_cast<int>(value);
  return true;
}

bool Parser::ParseUsbIds() {
  if (words().size() != 4) return WrongWordCount("usb-ids");
  std::int64_t vendor = 0;
  std::int64_t product = 0;
  std::int64_t extra = 0;
  if (!Number(words()[1], "vendor ID", 0, 0xFFFF, &vendor) ||
      !Number(words()[2], "product ID", 0, 0xFFFF, &product) ||
      !Number(words()[3], "extra ID", 0, 0xFFFF, &extra) || !ClaimOnce("usb-ids")) {
    return false;
  }
  scenario_->vendorId = static_cast<std::uint16_t>(vendor);
  scenario_->productId = static_cast<std::uint16_t>(product);
  scenario_->extraId = static_cast<std::uint16_t>(extra);
  return true;
}

bool Parser::ParseUnplug() {
  if (words().size() != 2) return WrongWordCount("unplug");
  std::uint64_t exchange = 0;
  if (!Count(words()[1], "exchange number", &exchange) ||
      !ClaimOnce("unplug " + std::to_string(exchange))) {
    return false;
  }
  scenario_->unplugAt.push_back(exchange);
  return true;
}

}  // namespace

bool ParseScenario(std::string_view text, Scenario* scenario, ScenarioError* error) {
  Parser parser(scenario);
  int number = 0;
  while (!text.empty() || number == 0) {
    ++number;
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!parser.ParseLine(number, line)) {
      *error = ScenarioError{number, parser.message()};
      return false;
    }
  }
  parser.Finish();
  return true;
}

bool LoadScenarioFile(const std::string& path, Scenario* scenario, ScenarioError* error) {
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    *error = ScenarioError{0, std::string("cannot read: ") + std::strerror(errno)};
    return false;
  }
  std::string text;
  char buffer[8192];
  const platform::ChunkReadEnd end =
      platform::ReadInChunks(file, buffer, [&text](const char* bytes, std::size_t size) {
        text.append(bytes, size);
        return text.size() <= kMaxScenarioFileSize;
      });
  if (end == platform::ChunkReadEnd::Failed) {
    *error = ScenarioError{0, std::string("cannot read: ") + std::strerror(errno)};
    ::close(file);
    return false;
  }
  if (end == platform::ChunkReadEnd::Stopped) {
    *error = ScenarioError{
        0, "too large (more than " + std::to_string(kMaxScenarioFileSize) + " bytes)"};
    ::close(file);
    return false;
  }
  ::close(file);
  if (!ParseScenario(text, scenario, error)) return false;
  // A replayed trace usually lies beside its scenario.
  const std::size_t slash = path.rfind('/');
  if (!scenario->replayPath.empty() && scenario->replayPath.front() != '/' &&
      slash != std::string::npos) {
    scenario->replayPath = path.substr(0, slash + 1) + scenario->replayPath;
  }
  return true;
}

std::string FormatScenarioError(const std::string& path, const ScenarioError& error) {
  std::string line = "GPlusUSBLibEx.so: scenario " + path;
  if (error.line > 0) line += " line " + std::to_string(error.line);
  return line + ": " + error.message;
}

}  // namespace simdevice
