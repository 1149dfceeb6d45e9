// Opening an address in the user's default web browser, used to show the maker's support page.
#pragma once

#include <string>

namespace platform {

// Called on the UI thread. The outcome is not reported: a page that cannot be opened shows
// nothing further.
class UrlOpener {
 public:
  virtual ~UrlOpener() = default;
  virtual void Open(const std::string& address) = 0;
};

// Hands an http or https address to the desktop's browser without going through a shell:
// through QDesktopServices when a GUI application runs, otherwise by starting xdg-open
// directly with the address as its one argument. Any other address is ignored.
class DesktopUrlOpener : public UrlOpener {
 public:
  void Open(const std::string& address) override;
};

}  // namespace platform
