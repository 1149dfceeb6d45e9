// The vendor library loader: where the library is taken from, the warning when it cannot
// be loaded, the choice of an explicit file, and the limits of path and warning.
#include "usb/library_loader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/program_path.h"
#include "test_support.h"
#include "usb/hid_std_agent.h"

namespace usb_test {
namespace {

namespace fs = std::filesystem;
using CreateExport = usb::exports::GPAPI_CreateGPUsbDeviceAgent;

constexpr unsigned kWarningType = 0x30;  // MB_OK | MB_ICONEXCLAMATION

// The file an exported function was loaded from.
fs::path FileDefining(void* address) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  return fs::canonical(info.dli_fname);
}

bool IsValidUtf8(const std::string& text) {
  for (std::size_t index = 0; index < text.size();) {
    const auto lead = static_cast<unsigned char>(text[index]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x6  ? 2
                               : (lead >> 4) == 0xE  ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 0 || index + length > text.size()) return false;
    for (std::size_t next = 1; next < length; ++next) {
      if ((static_cast<unsigned char>(text[index + next]) & 0xC0) != 0x80) return false;
    }
    index += length;
  }
  return true;
}

std::string Uppercase(std::string text) {
  for (char& character : text) character = static_cast<char>(std::toupper(character));
  return text;
}

class LibraryLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLibraryLoader();
    ASSERT_TRUE(fs::exists(SimulatedLibraryPath())) << "build the GPlusUSBLibEx target";
  }
  void TearDown() override { ResetLibraryLoader(); }

  // A copy of the simulated library in the temporary folder.
  fs::path CopyOfLibrary(const std::string& name = "copy.so") {
    const fs::path copy = folder.path() / name;
    fs::copy_file(SimulatedLibraryPath(), copy);
    return copy;
  }

  RecordedMessageBoxes boxes;
  TemporaryFolder folder;
};

TEST_F(LibraryLoaderTest, DefaultLibraryComesFromTheProgramsFolder) {
  EXPECT_EQ(C_USBLibraryLoader::libraryHandle, nullptr) << "nothing is loaded up front";
  const auto create = usbLibraryLoader.GetExport<CreateExport>();
  ASSERT_NE(create, nullptr);
  EXPECT_EQ(FileDefining(reinterpret_cast<void*>(create)), fs::canonical(SimulatedLibraryPath()));
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(usbLibraryLoader.GetProc("NoSuchExport"), nullptr) << "silently";
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(LibraryLoaderTest, LibraryInTheWorkingFolderIsNeverLoaded) {
  WriteFile(folder.path() / "GPlusUSBLibEx.so", "not a library");
  const fs::path previous = fs::current_path();
  fs::current_path(folder.path());
  const int loaded = usbLibraryLoader.EnsureLoaded();
  void* create = usbLibraryLoader.GetProc(CreateExport::kName);
  fs::current_path(previous);
  EXPECT_EQ(loaded, 1);
  EXPECT_EQ(FileDefining(create), fs::canonical(SimulatedLibraryPath()));
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(LibraryLoaderTest, ExplicitPathThatCannotLoadWarnsWithThePathEachTime) {
  const std::string missing = (folder.path() / "missing.so").string();
  usbLibraryLoader.SetLibraryPath(missing.c_str());
  EXPECT_EQ(usbLibraryLoader.GetProc(CreateExport::kName), nullptr);
  EXPECT_EQ(usbLibraryLoader.EnsureLoaded(), 0);
  EXPECT_EQ(C_USBLibraryLoader::libraryHandle, nullptr);
  const auto shown = boxes.boxes();
  ASSERT_EQ(shown.size(), 2u) << "every attempt tries again";
  for (const ShownBox& box : shown) {
    EXPECT_EQ(box.text, "Load '" + missing + "' failed!!");
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_EQ(box.type, kWarningType);
  }

  const std::string broken = (folder.path() / "broken.so").string();
  WriteFile(broken, "garbage, not an ELF file");
  usbLibraryLoader.SetLibraryPath(broken.c_str());
  EXPECT_EQ(usbLibraryLoader.EnsureLoaded(), 0);
  ASSERT_EQ(boxes.boxes().size(), 3u);
  EXPECT_EQ(boxes.boxes().back().text, "Load '" + broken + "' failed!!");
}

TEST_F(LibraryLoaderTest, ExplicitBareNameIsNotLookedUpOnTheSearchPath) {
  // libc is on every search path; as a file in the working folder it does not exist.
  usbLibraryLoader.SetLibraryPath("libc.so.6");
  EXPECT_EQ(usbLibraryLoader.EnsureLoaded(), 0);
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, "Load 'libc.so.6' failed!!");
}

TEST_F(LibraryLoaderTest, LoadedLibraryIsNeverReloaded) {
  const fs::path copy = CopyOfLibrary();
  usbLibraryLoader.SetLibraryPath(copy.c_str());
  ASSERT_EQ(usbLibraryLoader.EnsureLoaded(), 1);
  void* const handle = C_USBLibraryLoader::libraryHandle;
  fs::remove(copy);
  EXPECT_EQ(usbLibraryLoader.EnsureLoaded(), 1);
  EXPECT_EQ(C_USBLibraryLoader::libraryHandle, handle);
  EXPECT_NE(usbLibraryLoader.GetProc(CreateExport::kName), nullptr);
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(LibraryLoaderTest, SameExplicitPathInOtherLetterCaseKeepsTheLibrary) {
  const fs::path copy = CopyOfLibrary("Copy.so");
  usbLibraryLoader.SetLibraryPath(copy.c_str());
  ASSERT_EQ(usbLibraryLoader.EnsureLoaded(), 1);
  void* const handle = C_USBLibraryLoader::libraryHandle;
  usbLibraryLoader.SetLibraryPath(Uppercase(copy.string()).c_str());
  EXPECT_EQ(C_USBLibraryLoader::libraryHandle, handle);
  EXPECT_STREQ(C_USBLibraryLoader::libraryPath, copy.c_str());

  // Null after an explicit path goes back to the default location and unloads.
  usbLibraryLoader.SetLibraryPath(nullptr);
  EXPECT_EQ(C_USBLibraryLoader::libraryHandle, nullptr);
  EXPECT_STREQ(C_USBLibraryLoader::libraryPath, "");
}

TEST_F(LibraryLoaderTest, NullWhileTheDefaultIsChosenKeepsTheLibrary) {
  ASSERT_EQ(usbLibraryLoader.EnsureLoaded(), 1);
  void* const handle = C_USBLibraryLoader::libraryHandle;
  usbLibraryLoader.SetLibraryPath(nullptr);
  EXPECT_EQ(C_USBLibraryLoader::libraryHandle, handle);
}

TEST_F(LibraryLoaderTest, AnotherPathUnloadsAndLoadsTheNewFileNextTime) {
  ASSERT_EQ(usbLibraryLoader.EnsureLoaded(), 1);
  const fs::path first = CopyOfLibrary("first.so");
  usbLibraryLoader.SetLibraryPath(first.c_str());
  EXPECT_EQ(C_USBLibraryLoader::libraryHandle, nullptr) << "default to explicit";
  ASSERT_EQ(usbLibraryLoader.EnsureLoaded(), 1);

  const fs::path second = CopyOfLibrary("second.so");
  usbLibraryLoader.SetLibraryPath(second.c_str());
  EXPECT_EQ(C_USBLibraryLoader::libraryHandle, nullptr) << "explicit to another";
  EXPECT_EQ(FileDefining(usbLibraryLoader.GetProc(CreateExport::kName)), fs::canonical(second));
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(LibraryLoaderTest, OverLongPathIsRefusedAndChangesNothing) {
  const fs::path copy = CopyOfLibrary();
  usbLibraryLoader.SetLibraryPath(copy.c_str());
  ASSERT_EQ(usbLibraryLoader.EnsureLoaded(), 1);
  void* const handle = C_USBLibraryLoader::libraryHandle;

  for (std::size_t length : {260u, 261u, 4096u}) {
    const std::string tooLong = "/" + std::string(length - 1, 'p');
    usbLibraryLoader.SetLibraryPath(tooLong.c_str());
    EXPECT_EQ(C_USBLibraryLoader::libraryHandle, handle) << length;
    EXPECT_STREQ(C_USBLibraryLoader::libraryPath, copy.c_str()) << length;
  }
  const std::string longest = "/" + std::string(258, 'p');
  usbLibraryLoader.SetLibraryPath(longest.c_str());
  EXPECT_EQ(C_USBLibraryLoader::libraryHandle, nullptr) << "259 bytes still fit";
  EXPECT_EQ(C_USBLibraryLoader::libraryPath, longest);
}

TEST_F(LibraryLoaderTest, OverLongWarningIsCutOnACharacterBoundary) {
  // The warning holds 255 bytes: a path of up to 239 bytes is shown whole.
  const std::string fits = "/nonexistent/" + std::string(239 - 13, 'f');
  usbLibraryLoader.SetLibraryPath(fits.c_str());
  EXPECT_EQ(usbLibraryLoader.EnsureLoaded(), 0);
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, "Load '" + fits + "' failed!!");
  EXPECT_EQ(boxes.boxes()[0].text.size(), 255u);

  // Three-byte characters at every alignment against the cut.
  const std::string character = "\xE3\x81\x82";  // U+3042
  for (int padding = 0; padding < 3; ++padding) {
    std::string path = "/nonexistent/" + std::string(static_cast<std::size_t>(padding), 'x');
    while (path.size() + character.size() <= 259) path += character;
    usbLibraryLoader.SetLibraryPath(path.c_str());
    ASSERT_STREQ(C_USBLibraryLoader::libraryPath, path.c_str());
    EXPECT_EQ(usbLibraryLoader.EnsureLoaded(), 0);
    const std::string text = boxes.boxes().back().text;
    EXPECT_LE(text.size(), 255u) << padding;
    EXPECT_TRUE(IsValidUtf8(text)) << padding;
    EXPECT_EQ(text.rfind("Load '/nonexistent/", 0), 0u) << text;
    EXPECT_TRUE(text.ends_with("...' failed!!")) << text;
    EXPECT_GE(text.size(), 255u - 2) << "cut no more than the split character";
  }
}

// Runs only in a copy of this program in a folder without the library, started by the test
// below, which names that folder in kChildVariable.
constexpr const char* kChildVariable = "USB_TESTS_EXPECTED_FOLDER";

class WarnsWhenNoLibraryIsBesideTheProgram : public ::testing::Test {
 public:
  void TestBody() override {
    EXPECT_EQ(fs::path(platform::ProgramFolder()), fs::canonical(std::getenv(kChildVariable)));

    RecordedMessageBoxes boxes;
    EXPECT_EQ(usbLibraryLoader.GetProc(CreateExport::kName), nullptr);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Load 'GPlusUSBLibEx.so' failed!!");
    EXPECT_EQ(boxes.boxes()[0].caption, "Warning");
    EXPECT_EQ(boxes.boxes()[0].type, kWarningType);

    // What the update workflow sees: no scan, and a count that tries (and warns) again.
    C_GPUSBHIDStdAgentEx facade;
    EXPECT_EQ(facade.Scan(0), 0);
    EXPECT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(facade.GetDeviceCount(), -1);
    EXPECT_EQ(boxes.boxes().size(), 3u);
    EXPECT_EQ(facade.Connect(0), 0);
    unsigned char block[16] = {};
    EXPECT_EQ(facade.SendCommand(0, block, 0, nullptr, 0), 17);
  }
};

[[maybe_unused]] const bool childTestRegistered = [] {
  if (std::getenv(kChildVariable) == nullptr) return false;
  ::testing::RegisterTest(
      "LoaderInAnotherFolder", "WarnsWhenNoLibraryIsBesideTheProgram", nullptr, nullptr, __FILE__,
      __LINE__, []() -> ::testing::Test* { return new WarnsWhenNoLibraryIsBesideTheProgram; });
  return true;
}();

TEST(LoaderInAnotherFolderTest, ProgramWithoutTheLibraryBesideItWarns) {
  TemporaryFolder folder;
  const fs::path program = folder.path() / "usb_tests";
  fs::copy_file("/proc/self/exe", program);
  fs::permissions(program, fs::perms::owner_all);
  const fs::path output = folder.path() / "output.txt";
  // Run from this program's folder, where a loadable GPlusUSBLibEx.so lies: the copy must
  // not take it from its working folder.
  const std::string command = "cd '" + platform::ProgramFolder() + "' && " + kChildVariable + "='" +
                              folder.path().string() + "' '" + program.string() +
                              "' --gtest_filter=LoaderInAnotherFolder.* > '" + output.string() +
                              "' 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream stream(output);
  const std::string text((std::istreambuf_iterator<char>(stream)),
                         std::istreambuf_iterator<char>());
  EXPECT_EQ(status, 0) << text;
  EXPECT_NE(text.find("[  PASSED  ] 1 test"), std::string::npos) << text;
}

}  // namespace
}  // namespace usb_test
