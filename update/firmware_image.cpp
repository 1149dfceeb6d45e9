// Phase 0: the firmware file is found by its name in the working folder, read read-only into
// an image padded with 0xFF to whole kilobytes, and checksummed with CRC-16/IBM-3740.
#include "update/firmware_image.h"

#include <filesystem>
#include <fstream>
#include <new>
// GCC 12 warns inside libstdc++'s regex automaton when building with sanitizers (a known
// false positive about a moved-from std::function); the warning is not about our code.
// Clang has no such warning (and would warn about the unknown name), so only GCC is told.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <stdexcept>
#include <system_error>

#include "update/update_controller.h"
#include "update/update_protocol.h"
#include "update/update_state.h"
#include "update/update_view.h"

FirmwareImage firmwareImage;

namespace {

void (*allocationHook)(std::size_t) = nullptr;

FirmwareSource firmwareSource;

// Why a file could not become an image; each answer has its own message.
enum class ReadOutcome { Loaded, Unreadable, TooLarge, NoMemory };

ReadOutcome ReadImage(const std::string& path, FirmwareImage& image) {
  std::error_code error;
  // Only a regular file (or a link to one) is read: a folder reads as nothing and a pipe or
  // device of that name could block the UI thread.
  if (!std::filesystem::is_regular_file(path, error)) return ReadOutcome::Unreadable;
  std::ifstream file(path, std::ios::in | std::ios::binary);
  if (!file.is_open()) return ReadOutcome::Unreadable;
  file.seekg(0, std::ios::end);
  const std::streamoff end = file.tellg();
  if (!file || end < 0) return ReadOutcome::Unreadable;
  const auto length = static_cast<std::uint64_t>(end);
  if (length > kMaxFirmwareFileLength) return ReadOutcome::TooLarge;
  file.seekg(0, std::ios::beg);
  if (!file) return ReadOutcome::Unreadable;

  const auto size =
      static_cast<std::uint32_t>((length + FW_PAD_UNIT - 1) / FW_PAD_UNIT * FW_PAD_UNIT);
  if (size != 0) {
    try {
      if (allocationHook) allocationHook(size);
      image.data.assign(size, 0xFF);
    } catch (const std::bad_alloc&) {
      return ReadOutcome::NoMemory;
    } catch (const std::length_error&) {
      return ReadOutcome::NoMemory;
    }
    // Exactly the length measured: a file that shrank meanwhile is a read error, and one that
    // grew does not spill into the padding.
    file.read(reinterpret_cast<char*>(image.data.data()), static_cast<std::streamsize>(length));
    if (static_cast<std::uint64_t>(file.gcount()) != length) return ReadOutcome::Unreadable;
  }
  image.size = size;
  image.crc = Crc16(image.data.data(), size);
  image.blockCount = size / FW_BLOCK_SIZE;
  image.fileLength = length;
  return ReadOutcome::Loaded;
}

int ShowAndAnswer(UpdateView* view, const std::string& message, int result) {
  if (view) view->ShowMessageBox(message, nullptr, MB_OK);
  return result;
}

int LoadFoundFile(UpdateView* view) {
  const std::string path = FindFirmwareFile();
  if (path.empty()) return ShowAndAnswer(view, kFirmwareNotFoundMessage, kPhaseRestart);

  const std::string name = std::filesystem::path(path).filename().string();
  const std::string version =
      firmwareSource.fileName.empty() ? FirmwareVersionText(name) : NamedFirmwareVersion(name);
  if (view) view->SetTargetVersionText(version);

  FirmwareImage image;
  image.fileName = name;
  switch (ReadImage(path, image)) {
    case ReadOutcome::Loaded:
      break;
    case ReadOutcome::Unreadable:
      return ShowAndAnswer(view, std::string(kFirmwareUnreadableMessage) + "\n" + name,
                           kPhaseRestart);
    case ReadOutcome::TooLarge:
      return ShowAndAnswer(view, std::string(kFirmwareTooLargeMessage) + "\n" + name,
                           kPhaseRestart);
    case ReadOutcome::NoMemory:
      return ShowAndAnswer(view, kOutOfMemoryMessage, kPhaseEnd);
  }
  // Replaced only now, so a failed load never leaves a half-built image behind.
  firmwareImage = std::move(image);
  transferCursor.nextBlock = 1;
  return kPhaseAdvance;
}

}  // namespace

bool IsFirmwareFileName(const std::string& name) {
  static const std::regex pattern(kFirmwareNamePattern, std::regex::ECMAScript);
  return std::regex_search(name, pattern);
}

std::string NamedFirmwareVersion(const std::string& fileName) {
  static const std::regex pattern(kNamedFirmwarePattern, std::regex::ECMAScript);
  std::smatch match;
  if (!fileName.ends_with(".bin") || !std::regex_search(fileName, match, pattern)) return {};
  return match[1].str();
}

void SetFirmwareSource(const FirmwareSource& source) {
  firmwareSource = source;
  if (!source.folder.empty()) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(source.folder, error);
    if (!error) firmwareSource.folder = absolute.lexically_normal().string();
  }
}

const FirmwareSource& CurrentFirmwareSource() {
  return firmwareSource;
}

std::string FindFirmwareFile() {
  std::error_code error;
  const std::filesystem::path folder = firmwareSource.folder.empty()
                                           ? std::filesystem::current_path(error)
                                           : std::filesystem::path(firmwareSource.folder);
  if (error) return {};
  // A named file is the only candidate: when it has gone, there is none, whatever else the
  // folder holds.
  const std::string& named = firmwareSource.fileName;
  if (!named.empty()) {
    if (NamedFirmwareVersion(named).empty()) return {};
    const auto type = std::filesystem::symlink_status(folder / named, error).type();
    if (error || type == std::filesystem::file_type::not_found) return {};
    return (folder / named).string();
  }
  // An error while listing ends the search: what was not listed cannot be chosen.
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    std::string name;
    try {
      name = entry->path().filename().string();
    } catch (const std::exception&) {
      continue;  // a name that cannot be converted is skipped
    }
    if (IsFirmwareFileName(name)) return (folder / name).string();
  }
  return {};
}

std::string FirmwareVersionText(const std::string& fileName) {
  const auto prefix = fileName.find(kFirmwareNamePrefix);
  if (prefix == std::string::npos) return {};
  const std::string rest =
      fileName.substr(prefix + std::char_traits<char>::length(kFirmwareNamePrefix));
  return rest.size() >= 4 ? rest.substr(0, rest.size() - 4) : std::string();
}

int LoadFirmwareImage() {
  UpdateView* view = UpdateContext ? UpdateContext->view : nullptr;
  if (view) {
    view->SetProgressRange(0, kProgressMaximum);
    // The one line added without bringing it into view.
    view->AddLogLine(kStartupLogLine, false);
  }
  const int result = LoadFoundFile(view);
  transferCursor.retryCount = 0;
  ConnectionPollCount = 0;
  return result;
}

void SetImageAllocationHookForTesting(void (*hook)(std::size_t size)) {
  allocationHook = hook;
}
