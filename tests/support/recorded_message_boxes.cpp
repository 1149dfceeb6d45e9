// Recording the ownerless boxes; the presenter may be called from the worker thread.
#include "recorded_message_boxes.h"

#include <mutex>

#include "platform/message_box.h"

namespace usb_test {
namespace {

std::mutex boxesMutex;
std::vector<ShownBox> shownBoxes;

int RecordBox(const std::string& text, const std::string& caption, unsigned type) {
  std::lock_guard<std::mutex> guard(boxesMutex);
  shownBoxes.push_back({text, caption, type});
  return 1;
}

}  // namespace

RecordedMessageBoxes::RecordedMessageBoxes() {
  {
    std::lock_guard<std::mutex> guard(boxesMutex);
    shownBoxes.clear();
  }
  platform::SetOwnerlessMessageBox(&RecordBox);
}

RecordedMessageBoxes::~RecordedMessageBoxes() {
  platform::SetOwnerlessMessageBox(nullptr);
}

std::vector<ShownBox> RecordedMessageBoxes::boxes() const {
  std::lock_guard<std::mutex> guard(boxesMutex);
  return shownBoxes;
}

std::vector<std::string> RecordedMessageBoxes::texts() const {
  std::vector<std::string> texts;
  for (const ShownBox& box : boxes()) texts.push_back(box.text);
  return texts;
}

}  // namespace usb_test
