// The real program takes the vendor library only from its own folder: a loadable decoy of the
// same name in the working folder and in a folder on LD_LIBRARY_PATH is never loaded.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QString>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "folder_snapshot.h"
#include "process_test_support.h"
#include "spawned_program.h"

namespace {

namespace fs = std::filesystem;

// The libraries the running program has mapped whose file name contains name.
std::vector<std::string> MappedLibraries(pid_t pid, const std::string& name) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::vector<std::string> files;
  for (std::string line; std::getline(maps, line);) {
    const std::size_t slash = line.find('/');
    if (slash == std::string::npos) continue;
    const std::string file = line.substr(slash);
    if (fs::path(file).filename().string().find(name) == std::string::npos) continue;
    if (std::find(files.begin(), files.end(), file) == files.end()) files.push_back(file);
  }
  return files;
}

class LibrarySearchProcessTest : public ProcessTest {};

TEST_F(LibrarySearchProcessTest, DecoysInTheWorkingFolderAndOnTheLibraryPathAreNeverLoaded) {
#ifndef FWU_DECOY_LIBRARY_PATH
  GTEST_SKIP() << "the decoy library was not built";
#else
  const fs::path decoy = FWU_DECOY_LIBRARY_PATH;
  ASSERT_TRUE(fs::exists(decoy)) << decoy;
  const fs::path root = rootFolder();
  const fs::path searchFolder = root / "library-path";
  fs::create_directories(searchFolder);
  fs::copy_file(decoy, searchFolder / "GPlusUSBLibEx.so");
  fs::copy_file(decoy, fs::path(workFolder().toStdString()) / "GPlusUSBLibEx.so");
  const fs::path marker = root / "decoy-was-loaded";
  WriteFirmware(2);
  WriteScenario("list 1 SCRIBOLANTE-X-1\n");
  const auto before = test_support::FolderSnapshot::Take(workFolder().toStdString());

  SpawnedProgram& program =
      Start({{"LD_LIBRARY_PATH", searchFolder.string()}, {"FWU_DECOY_MARKER", marker.string()}});
  // The real library answered: the device was found, opened and asked for its version.
  ASSERT_TRUE(program.WaitForOutput(kConfirmationBox, 90000))
      << program.ErrorOutput().toStdString();
  EXPECT_GE(TraceLines("factory version=1 result=0"), 1);

  const fs::path expected =
      fs::canonical(fs::path(ProgramPath()).parent_path() / "GPlusUSBLibEx.so");
  const std::vector<std::string> mapped = MappedLibraries(program.pid(), "GPlusUSBLibEx");
  ASSERT_FALSE(mapped.empty());
  for (const std::string& file : mapped) EXPECT_EQ(fs::path(file), expected);

  program.Signal(SIGTERM);
  ASSERT_TRUE(program.WaitForEnd(kHangTimeoutMs)) << "hung";
  EXPECT_EQ(program.ExitCode(), 2) << program.ErrorOutput().toStdString();
  ExpectNoSanitizerReport(program.ErrorOutput().toStdString());
  EXPECT_FALSE(fs::exists(marker)) << "the decoy was loaded";
  const auto after = test_support::FolderSnapshot::Take(workFolder().toStdString());
  EXPECT_THAT(before.DifferencesTo(after), ::testing::IsEmpty());
#endif
}

// The marker works: a process that does load the decoy leaves it, so its absence above means
// something.
TEST_F(LibrarySearchProcessTest, DecoyLeavesItsMarkerWhenLoaded) {
#ifndef FWU_DECOY_LIBRARY_PATH
  GTEST_SKIP() << "the decoy library was not built";
#else
  const fs::path marker = fs::path(rootFolder()) / "loaded";
  ScopedEnvironment variable("FWU_DECOY_MARKER", marker.string());
  QLibrary library(QStringLiteral(FWU_DECOY_LIBRARY_PATH));
  ASSERT_TRUE(library.load()) << library.errorString().toStdString();
  EXPECT_TRUE(fs::exists(marker));
  library.unload();
#endif
}

}  // namespace
