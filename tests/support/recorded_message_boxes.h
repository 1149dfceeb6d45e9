// The boxes the program shows without an owner window (the library loader's warning), recorded
// instead of shown: one recorder for the tests of the USB layer and of the update.
#pragma once

#include <string>
#include <vector>

namespace usb_test {

struct ShownBox {
  std::string text;
  std::string caption;
  unsigned type;
};

// Installs a presenter that records every ownerless box and answers OK; the destructor
// restores the default presenter.
class RecordedMessageBoxes {
 public:
  RecordedMessageBoxes();
  ~RecordedMessageBoxes();
  RecordedMessageBoxes(const RecordedMessageBoxes&) = delete;
  RecordedMessageBoxes& operator=(const RecordedMessageBoxes&) = delete;

  std::vector<ShownBox> boxes() const;
  // The boxes' texts, in the order shown.
  std::vector<std::string> texts() const;
};

}  // namespace usb_test
