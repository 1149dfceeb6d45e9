// The answer a message box gives when the view closes under it.
#include "update/update_view.h"

int DismissedAnswer(unsigned type) {
  switch (type & MB_TYPEMASK) {
    case MB_OK:
      return IDOK;
    case MB_YESNO:
      return IDNO;
    default:
      // OK/Cancel and every other box with a way out: nothing goes ahead.
      return IDCANCEL;
  }
}
