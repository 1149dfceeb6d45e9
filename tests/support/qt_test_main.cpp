// Runs the tests of a suite with Qt widgets (the application shell, the form view) inside a
// QApplication, offscreen unless a platform was chosen, with their settings, update history and
// working folder in a private temporary folder: the tests neither read nor change the user's
// files, and no firmware file is found.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <cstdlib>
#include <string>

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer: its painting hands work to its own thread pool and
// synchronises in ways the sanitizer cannot see, so what it does through the sanitizer's
// interceptors would be reported as races. Our own code stays instrumented and checked.
// TSAN_OPTIONS given at run time still take precedence.
extern "C" const char* __tsan_default_options() {
  return "ignore_noninstrumented_modules=1";
}
#endif

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // The build lists the cases to register them with ctest, in its own environment: a listing
  // runs no case, so it makes no folder and starts no application.
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  char folderTemplate[] = "/tmp/fwu-qt-tests-XXXXXX";
  const char* folder = ::mkdtemp(folderTemplate);
  if (folder == nullptr) return 2;
  const std::string work = std::string(folder) + "/work";
  const std::string config = std::string(folder) + "/config";
  const std::string state = std::string(folder) + "/state";
  QDir().mkpath(QString::fromStdString(work));
  QDir().mkpath(QString::fromStdString(config));
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  ::setenv("XDG_STATE_HOME", state.c_str(), 1);
  if (::chdir(work.c_str()) != 0) return 2;

  int result = 0;
  {
    QApplication application(argc, argv);
    result = RUN_ALL_TESTS();
  }
  QDir(QString::fromUtf8(folder)).removeRecursively();
  return result;
}
