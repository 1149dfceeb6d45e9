// A vendor library that cannot serve the updater: a file that is no library, a library without
// the factory, a factory that fails or gives no agent, a device list that cannot be had. Each
// must end the application with its message, without a crash, a hang or any transfer.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "recorded_message_boxes.h"
#include "update/firmware_image.h"
#include "update/update_state.h"
#include "update_run_fixture.h"
#include "usb/library_loader.h"

namespace {

enum class LibraryChoice { Simulated, NotALibrary, WithoutFactory };

struct LibraryFault {
  const char* name;
  LibraryChoice library;
  const char* scenario;
  const char* traceLine;  // a line the simulated library must have traced, or null
};

// Failure messages name the case rather than dumping its bytes.
void PrintTo(const LibraryFault& value, std::ostream* out) {
  *out << value.name;
}

class VendorLibraryFault : public UpdateRunTest,
                           public ::testing::WithParamInterface<LibraryFault> {
 protected:
  void TearDown() override {
    UpdateRunTest::TearDown();
    // Back to the library beside the program for the tests that follow.
    usbLibraryLoader.SetLibraryPath(nullptr);
    std::error_code error;
    if (!m_libraryFolder.empty()) std::filesystem::remove_all(m_libraryFolder, error);
  }

  // The device agent's construction chooses the default library, so the choice is made once
  // the controller exists, before the first scan loads anything.
  std::string ChooseLibrary(LibraryChoice choice) {
    switch (choice) {
      case LibraryChoice::Simulated:
        return {};
      case LibraryChoice::NotALibrary: {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "fwu-library-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "no temporary folder";
        m_libraryFolder = pattern;
        const auto file = m_libraryFolder / "GPlusUSBLibEx.so";
        std::ofstream(file) << "a text file where the library should be\n";
        usbLibraryLoader.SetLibraryPath(file.c_str());
        return file.string();
      }
      case LibraryChoice::WithoutFactory:
        usbLibraryLoader.SetLibraryPath(FWU_LIBRARY_WITHOUT_FACTORY);
        return FWU_LIBRARY_WITHOUT_FACTORY;
    }
    return {};
  }

  std::filesystem::path m_libraryFolder;
};

TEST_P(VendorLibraryFault, EndsTheApplicationWithTheConnectionMessageAndNoTransfer) {
  const LibraryFault fault = GetParam();
  usb_test::RecordedMessageBoxes ownerless;
  WriteFirmware("SC5_Firmware_v1.9.bin", PatternedFirmware(2 * FW_BLOCK_SIZE));
  Start(fault.scenario);
  const std::string library = ChooseLibrary(fault.library);

  ASSERT_EQ(Run(), RunEnd::Closed);
  EXPECT_EQ(BoxTexts(m_view), std::vector<std::string>{kConnectFailedText});
  EXPECT_EQ(m_view.LogTexts(), (std::vector<std::string>{"Startup FW updater.", "USB Connecting...",
                                                         "End Application"}));
  EXPECT_EQ(UpdatePhase, 6u);
  EXPECT_EQ(m_view.CloseCount(), 1);
  // Only a file that cannot be loaded at all warns; a missing export is silent.
  if (fault.library == LibraryChoice::NotALibrary) {
    EXPECT_EQ(ownerless.texts(), std::vector<std::string>{"Load '" + library + "' failed!!"});
  } else {
    EXPECT_TRUE(ownerless.texts().empty());
  }
  EXPECT_TRUE(Transfers().empty());
  EXPECT_EQ(TraceLinesStartingWith("open "), 0u);
  if (fault.library == LibraryChoice::Simulated) {
    EXPECT_EQ(TraceLinesStartingWith("factory "), 1u) << "one attempt, then the end";
  } else {
    EXPECT_EQ(TraceText(), "") << "the simulated library was never used";
  }
  if (fault.traceLine) {
    EXPECT_NE(TraceText().find(fault.traceLine), std::string::npos) << TraceText();
  }

  // Ended means ended: no further step runs.
  const auto ticks = m_view.Ticks().size();
  EXPECT_EQ(Run(), RunEnd::Closed);
  m_controller->OnTimer(STEP_TIMER_ID);
  EXPECT_EQ(m_view.Ticks().size(), ticks);
  EXPECT_EQ(BoxTexts(m_view).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Each, VendorLibraryFault,
    ::testing::Values(
        LibraryFault{"NotALibraryFile", LibraryChoice::NotALibrary, "", nullptr},
        LibraryFault{"LibraryWithoutTheFactory", LibraryChoice::WithoutFactory, "", nullptr},
        LibraryFault{"FactoryFailsWithCode5", LibraryChoice::Simulated, "fail factory 5",
                     "factory version=1 result=5"},
        LibraryFault{"FactoryGivesNoAgent", LibraryChoice::Simulated, "fail factory null",
                     "factory version=1 result=0"},
        LibraryFault{"DeviceListNeverAvailable", LibraryChoice::Simulated, "fail enumerate always",
                     "enumerate kind=0 mode=0 scanOption=1 filterEnabled=1 vendorId=0f37 "
                     "productId=0100 extraId=0200 result=1 count=0"}),
    NameOfRow{});

// The agent made by a working factory is given back when the view goes, even though its
// device list could never be had.
class VendorAgent : public UpdateRunTest {};

TEST_F(VendorAgent, WhoseListFailedIsReleasedWithTheView) {
  WriteFirmware("SC5_Firmware_v1.9.bin", PatternedFirmware(FW_BLOCK_SIZE));
  Start("fail enumerate always");
  ASSERT_EQ(Run(), RunEnd::Closed);
  EXPECT_EQ(TraceLinesStartingWith("release object=agent"), 0u);
  m_view.BeginClosing();
  m_controller.reset();
  EXPECT_EQ(TraceLinesStartingWith("release object=agent"), 1u);
}

}  // namespace
