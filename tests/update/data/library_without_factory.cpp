// A shared library that loads like the vendor's but lacks its factory export, so the tests
// can check what the updater does with a wrong or outdated library file beside it.
extern "C" __attribute__((visibility("default"))) int GPAPI_GetLibraryVersion() {
  return 1;
}
