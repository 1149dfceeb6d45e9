// Runs the view's tests inside a QApplication, offscreen unless a platform was chosen.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer: its painting hands work to its own thread pool and
// synchronises in ways the sanitizer cannot see, so the allocations and copies it makes through
// the sanitizer's interceptors would be reported as races. Our own code stays instrumented
// and checked. TSAN_OPTIONS given at run time still take precedence.
extern "C" const char* __tsan_default_options() {
  return "ignore_noninstrumented_modules=1";
}
#endif

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // The build lists the cases to register them with ctest, in its own environment: a listing
  // runs no case, so it starts no application.
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
