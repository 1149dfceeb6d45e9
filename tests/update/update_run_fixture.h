// A whole update against the simulated device, checked afterwards for "nothing is lost": the
// working folder, the firmware file's bytes and its modification time are as they were.
// Shared by the fault-matrix, vendor-library and odd-name tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "expected_texts.h"
#include "fake_update_view.h"
#include "folder_snapshot.h"
#include "sequence_harness.h"
#include "simulated_device_support.h"
#include "update/update_controller.h"

// Bytes of a firmware file that differ from block to block.
std::vector<std::uint8_t> PatternedFirmware(std::size_t size);

std::vector<std::string> BoxTexts(const FakeUpdateView& view);
std::vector<TickRecord> TicksInPhase(const FakeUpdateView& view, std::uint32_t phase);
std::size_t CountOf(const std::vector<std::string>& texts, const std::string& text);

// The transfers of one clean pass over the image built from file: the device information,
// each block's write and status read with their exact command blocks, then a checksum
// confirmation of the whole padded image that the device confirmed (a reply of 16 zero bytes).
void ExpectCleanPass(const std::vector<TraceTransfer>& transfers,
                     const std::vector<std::uint8_t>& file);

// Names each case of a table-driven run after its row's `name`, so that the test listing says
// which row it is; the row type's own PrintTo says the same in failure messages.
struct NameOfRow {
  template <typename Row>
  std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
    return info.param.name;
  }
};

class UpdateRunTest : public ::testing::Test {
 protected:
  // A fresh working folder whose name contains namePart; call before writing the firmware.
  void MakeWorkingFolder(const std::string& namePart = "fwu-matrix");
  std::filesystem::path WriteFirmware(const std::string& name,
                                      const std::vector<std::uint8_t>& bytes);
  // Records the working folder as it is now, writes the scenario and creates the view's
  // controller, as the window's creation would.
  void Start(const std::string& scenario);
  // Runs the sequence on virtual time; bounded, so a fault that loops fails rather than hangs.
  RunEnd Run(std::function<bool()> until = {});
  // Closes the view like its teardown, then checks that the working folder is unchanged.
  void TearDown() override;

  std::vector<TraceTransfer> Transfers() const { return m_scenario->Transfers(); }
  std::string TraceText() const { return m_scenario->TraceText(); }
  std::size_t TraceLinesStartingWith(const std::string& start) const;

  ScopedStateHome m_state;  // the update history of these runs
  FakeUpdateView m_view;
  ScriptedDeviceList m_list{std::vector<std::string>{}};
  RecordingUrlOpener m_opener;
  ScopedConnectionServices m_services{m_list, m_opener};
  std::optional<ScopedWorkingFolder> m_folder;
  std::unique_ptr<ScopedScenario> m_scenario;
  std::unique_ptr<UpdateController> m_controller;
  std::optional<test_support::FolderSnapshot> m_before;
};
