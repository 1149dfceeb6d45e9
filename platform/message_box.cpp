// Message boxes without an owner window: a replaceable presenter, stderr by default.
#include "platform/message_box.h"

#include <atomic>
#include <cstdio>

namespace platform {
namespace {

int WriteToStandardError(const std::string& text, const std::string& caption, unsigned) {
  std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  return IDOK;
}

std::atomic<OwnerlessMessageBoxFunction> presenter{&WriteToStandardError};

}  // namespace

void SetOwnerlessMessageBox(OwnerlessMessageBoxFunction function) {
  presenter.store(function ? function : &WriteToStandardError);
}

int ShowOwnerlessMessageBox(const std::string& text, const std::string& caption, unsigned type) {
  return presenter.load()(text, caption, type);
}

}  // namespace platform
