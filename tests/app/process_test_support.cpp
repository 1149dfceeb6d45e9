// The process-test fixture: a private folder per test and the program started inside it.
#include "process_test_support.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app_test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBlockSize = 32768;

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

void ExpectNoSanitizerReport(const std::string& errors) {
  EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;
}

void ExpectEndsWith(SpawnedProgram& program, int status, int timeoutMs) {
  ASSERT_TRUE(program.WaitForEnd(timeoutMs)) << program.ErrorOutput().toStdString();
  const std::string errors = program.ErrorOutput().toStdString();
  EXPECT_TRUE(program.ExitedNormally()) << "signal " << program.EndingSignal() << "\n" << errors;
  EXPECT_EQ(program.ExitCode(), status) << errors;
  ExpectNoSanitizerReport(errors);
}

void ProcessTest::SetUp() {
  ASSERT_TRUE(m_root.isValid());
  ASSERT_TRUE(QFileInfo(QString::fromStdString(ProgramPath())).isExecutable()) << ProgramPath();
  QDir root(m_root.path());
  ASSERT_TRUE(root.mkpath(QStringLiteral("work")));
  ASSERT_TRUE(root.mkpath(QStringLiteral("config")));
  ASSERT_TRUE(root.mkpath(QStringLiteral("sysfs")));
  m_guardName = UniqueGuardName();
  WriteScenario("list 1 SCRIBOLANTE-X-1\n");
}

SpawnedProgram& ProcessTest::Start(const std::map<std::string, std::string>& extra,
                                   const std::vector<std::string>& arguments,
                                   const std::vector<std::string>& removed) {
  const std::string root = rootFolder();
  std::map<std::string, std::string> environment = {
      {"QT_QPA_PLATFORM", "offscreen"},
      {"FWU_ECHO_UI", "1"},
      {"FWU_CONNECT_GUARD_NAME", m_guardName},
      {"XDG_CONFIG_HOME", root + "/config"},
      {"XDG_STATE_HOME", root + "/state"},
      {"GPLUS_SIM_SCENARIO", root + "/device.scenario"},
      {"FWU_SYSFS_ROOT", root + "/sysfs"},
      {"LC_ALL", "C.UTF-8"},  // the program's own Japanese texts, whatever the runner's locale
  };
  for (const auto& [name, value] : extra) environment[name] = value;
  for (const std::string& name : removed) environment.erase(name);
  std::vector<std::string> removedNames{"FWU_AUTO_ANSWER_BOXES", "FWU_AUTO_ANSWER_VIEW_BOXES",
                                        "LANGUAGE"};
  removedNames.insert(removedNames.end(), removed.begin(), removed.end());
  const std::string errorFile = root + "/stderr-" + std::to_string(m_programs.size());
  m_programs.push_back(std::make_unique<SpawnedProgram>(
      workFolder().toStdString(), errorFile, environment, removedNames, m_program, arguments));
  SpawnedProgram& program = *m_programs.back();
  EXPECT_TRUE(program.started()) << ProgramPath();
  return program;
}

void ProcessTest::UseProgramWithoutLibrary() {
  const fs::path folder = fs::path(rootFolder()) / "program";
  fs::create_directories(folder);
  const fs::path copy = folder / fs::path(ProgramPath()).filename();
  fs::copy_file(ProgramPath(), copy);
  m_program = copy.string();
}

void ProcessTest::WriteFirmware(int blocks) {
  std::string bytes(static_cast<std::size_t>(blocks) * kBlockSize, '\0');
  std::uint32_t state = 0x2545F491;
  for (char& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<char>(state >> 24);
  }
  const fs::path path = fs::path(workFolder().toStdString()) / "SC5_Firmware_v1.3.bin";
  WriteText(path, bytes);
  const struct timespec past[2] = {{1000000000, 123456789}, {1000000000, 123456789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
}

void ProcessTest::WriteScenario(const std::string& settings) {
  WriteText(fs::path(rootFolder()) / "device.scenario",
            settings + "trace " + rootFolder() + "/device.trace\n");
}

void ProcessTest::MakeNormalModeDeviceList() {
  // A USB disk as the kernel shows the device's normal mode: vendor VELDRA, model SCRIBOLANTE.
  const fs::path root = fs::path(rootFolder()) / "sysfs";
  const fs::path usbDevice = root / "devices/pci0000:00/0000:00:14.0/usb1/1-1";
  const fs::path disk = usbDevice / "1-1:1.0/host6/target6:0:0/6:0:0:0";
  fs::create_directories(disk);
  fs::create_directories(root / "block/sdx");
  fs::create_directories(root / "bus/usb/devices");
  fs::create_directory_symlink("../../../../../bus/usb", usbDevice / "subsystem");
  fs::create_directory_symlink("../../../../../../bus/usb", usbDevice / "1-1:1.0/subsystem");
  WriteText(disk / "vendor", "VELDRA  \n");
  WriteText(disk / "model", "SCRIBOLANTE     \n");
  WriteText(usbDevice / "idVendor", "0f37\n");
  WriteText(usbDevice / "idProduct", "0101\n");
  fs::create_directory_symlink(
      "../../devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0",
      root / "block/sdx/device");
}

int ProcessTest::TraceLines(const std::string& text) const {
  std::ifstream trace(rootFolder() + "/device.trace");
  int count = 0;
  for (std::string line; std::getline(trace, line);) {
    if (line.find(text) != std::string::npos) ++count;
  }
  return count;
}

bool ProcessTest::WaitForTraceLines(SpawnedProgram& program, const std::string& text, int count,
                                    int timeoutMs) const {
  return WaitUntil([&] { return TraceLines(text) >= count || !program.Running(); }, timeoutMs);
}
