// The built GPlusUSBLibEx.so as the program meets it: loaded with dlopen from the folder of
// this test program, exporting only the factory, reading GPLUS_SIM_SCENARIO at every call.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "simdevice/result_codes.h"
#include "simdevice_test_support.h"
#include "usb/vendor_interfaces.h"

namespace simdevice {
namespace {

using ::simdevice::testing::FileLines;
using ::simdevice::testing::TemporaryFolder;

std::string LibraryPath() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "GPlusUSBLibEx.so")
      .string();
}

// The names of the symbols a shared object defines in its dynamic symbol table.
std::set<std::string> ExportedSymbols(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::set<std::string> names;
  if (image.size() < sizeof(Elf64_Ehdr)) return names;
  const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
  if (std::memcmp(header->e_ident, ELFMAG, SELFMAG) != 0 ||
      header->e_ident[EI_CLASS] != ELFCLASS64 ||
      header->e_shoff + header->e_shnum * sizeof(Elf64_Shdr) > image.size()) {
    return names;
  }
  const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
  for (int index = 0; index < header->e_shnum; ++index) {
    if (sections[index].sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr& strings = sections[sections[index].sh_link];
    const auto* symbols =
        reinterpret_cast<const Elf64_Sym*>(image.data() + sections[index].sh_offset);
    const std::size_t count = sections[index].sh_size / sizeof(Elf64_Sym);
    for (std::size_t symbol = 0; symbol < count; ++symbol) {
      if (symbols[symbol].st_shndx == SHN_UNDEF || symbols[symbol].st_name == 0) continue;
      names.insert(image.data() + strings.sh_offset + symbols[symbol].st_name);
    }
  }
  return names;
}

class LibraryModuleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Loaded once and kept, as the program's loader does.
    handle_ = ::dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_) {
      factory_ = reinterpret_cast<GPAPI_CreateGPUsbDeviceAgentFunction>(
          ::dlsym(handle_, kCreateAgentExportName));
    }
  }
  void SetUp() override {
    ASSERT_NE(handle_, nullptr) << ::dlerror();
    ASSERT_NE(factory_, nullptr);
    ::unsetenv("GPLUS_SIM_SCENARIO");
  }
  void TearDown() override { ::unsetenv("GPLUS_SIM_SCENARIO"); }

  // Creates an agent, scans with the updater's filter and returns the listed names.
  std::vector<std::string> ScanOnce(I_GPUsbDeviceAgent* agent) {
    DeviceFilter filter{1, 1, 0x0F37, 0x0100, 0x0200, {}};
    EnumerateRequest request{0, 0, &filter};
    EXPECT_EQ(agent->Enumerate(&request), 0);
    std::vector<std::string> names;
    for (int position = 0; position < agent->GetCount(); ++position) {
      names.push_back(agent->GetDeviceInfo(position)->GetName());
    }
    return names;
  }

  static inline void* handle_ = nullptr;
  static inline GPAPI_CreateGPUsbDeviceAgentFunction factory_ = nullptr;
  TemporaryFolder folder_;
};

TEST_F(LibraryModuleTest, ExportsOnlyTheFactory) {
  EXPECT_EQ(ExportedSymbols(LibraryPath()), std::set<std::string>{"GPAPI_CreateGPUsbDeviceAgent"});
}

TEST_F(LibraryModuleTest, WithoutAScenarioNoDeviceIsListedAndItSaysSo) {
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    if (value) ::setenv("GPLUS_SIM_SCENARIO", value, 1);
    I_GPUsbDeviceAgent* agent = nullptr;
    ::testing::internal::CaptureStderr();
    const int result = factory_(1, &agent);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(result, 0) << "a working agent";
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(errors,
              "GPlusUSBLibEx.so: simulated device library; no scenario named "
              "(GPLUS_SIM_SCENARIO), so no device is listed\n")
        << (value ? "empty" : "unset");
    EXPECT_EQ(ScanOnce(agent), std::vector<std::string>{});
    EXPECT_EQ(ScanOnce(agent), std::vector<std::string>{}) << "nor later";
    agent->Release();
  }
}

TEST_F(LibraryModuleTest, AScenarioWithoutAListStillPlaysOneDevice) {
  const std::string path = folder_.Write("plain.scenario", "# nothing but the defaults\n");
  ::setenv("GPLUS_SIM_SCENARIO", path.c_str(), 1);
  I_GPUsbDeviceAgent* agent = nullptr;
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(factory_(1, &agent), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "a named scenario says nothing";
  EXPECT_EQ(ScanOnce(agent), std::vector<std::string>{"SCRIBOLANTE-X-1"});
  agent->Release();
}

TEST_F(LibraryModuleTest, ReadsTheScenarioAfreshAtEveryCall) {
  const std::string trace = folder_.File("calls.trace");
  const std::string path = folder_.Write("two.scenario", "list 1 A B\ntrace " + trace + "\n");
  ::setenv("GPLUS_SIM_SCENARIO", path.c_str(), 1);
  I_GPUsbDeviceAgent* first = nullptr;
  ASSERT_EQ(factory_(1, &first), 0);
  EXPECT_EQ(ScanOnce(first), (std::vector<std::string>{"A", "B"}));

  folder_.Write("two.scenario", "list 1 C\ntrace " + trace + "\n");
  I_GPUsbDeviceAgent* second = nullptr;
  ASSERT_EQ(factory_(1, &second), 0);
  EXPECT_EQ(ScanOnce(second), std::vector<std::string>{"C"});
  EXPECT_EQ(ScanOnce(first), (std::vector<std::string>{"A", "B"})) << "each agent its own world";
  first->Release();
  second->Release();

  const std::vector<std::string> lines = FileLines(trace);
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0], "factory version=1 result=0");
  EXPECT_EQ(lines[1].rfind("enumerate kind=0 mode=0 scanOption=1 filterEnabled=1 ", 0), 0u);
  EXPECT_EQ(lines[4], "factory version=1 result=0");
}

TEST_F(LibraryModuleTest, ARelativeTracePathIsRelativeToTheWorkingFolder) {
  const std::string path = folder_.Write("relative.scenario", "trace relative.trace\n");
  ::setenv("GPLUS_SIM_SCENARIO", path.c_str(), 1);
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(std::filesystem::path(path).parent_path());
  I_GPUsbDeviceAgent* agent = nullptr;
  const int result = factory_(1, &agent);
  std::filesystem::current_path(before);
  ASSERT_EQ(result, 0);
  agent->Release();
  EXPECT_EQ(
      FileLines(folder_.File("relative.trace")),
      (std::vector<std::string>{"factory version=1 result=0", "release object=agent name=-"}));
}

TEST_F(LibraryModuleTest, ABadScenarioFailsTheFactoryWithOneLine) {
  const std::string path = folder_.Write("bad.scenario", "list 1 A\n\n  rejekt 4\n");
  ::setenv("GPLUS_SIM_SCENARIO", path.c_str(), 1);
  I_GPUsbDeviceAgent* agent = reinterpret_cast<I_GPUsbDeviceAgent*>(&agent);
  ::testing::internal::CaptureStderr();
  const int result = factory_(1, &agent);
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, kResultScenarioError);
  EXPECT_EQ(agent, nullptr);
  EXPECT_EQ(errors, "GPlusUSBLibEx.so: scenario " + path + " line 3: unknown setting 'rejekt'\n");
}

TEST_F(LibraryModuleTest, AnUnreadableScenarioOrTraceFailsTheFactory) {
  const std::string missing = folder_.File("missing.scenario");
  ::setenv("GPLUS_SIM_SCENARIO", missing.c_str(), 1);
  I_GPUsbDeviceAgent* agent = nullptr;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(factory_(1, &agent), kResultScenarioError);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "GPlusUSBLibEx.so: scenario " + missing + ": cannot read: No such file or directory\n");

  const std::string trace = folder_.File("no-such-folder/calls.trace");
  const std::string path = folder_.Write("trace.scenario", "# traced\ntrace " + trace + "\n");
  ::setenv("GPLUS_SIM_SCENARIO", path.c_str(), 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(factory_(1, &agent), kResultScenarioError);
  EXPECT_EQ(agent, nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "GPlusUSBLibEx.so: scenario " + path +
                                                          " line 2: cannot open trace file '" +
                                                          trace + "': No such file or directory\n");
}

TEST_F(LibraryModuleTest, InjectedFactoryFailuresComeThrough) {
  const std::string path = folder_.Write("fail.scenario", "fail factory 12\n");
  ::setenv("GPLUS_SIM_SCENARIO", path.c_str(), 1);
  I_GPUsbDeviceAgent* agent = nullptr;
  EXPECT_EQ(factory_(1, &agent), 12);
  EXPECT_EQ(agent, nullptr);
  folder_.Write("fail.scenario", "fail factory null\n");
  EXPECT_EQ(factory_(1, &agent), 0);
  EXPECT_EQ(agent, nullptr);
}

}  // namespace
}  // namespace simdevice
