// Phases 1 and 2: the device filter, and the once-a-second poll that waits for exactly one
// device in update mode, recognising the device in its normal mode by its friendly name.
#include "update/connection_checks.h"

#include <cstring>
#include <string>

#include "platform/present_devices.h"
#include "platform/url_opener.h"
#include "update/update_controller.h"
#include "update/update_state.h"
#include "update/update_view.h"
#include "usb/hid_std_agent.h"

namespace {

constexpr const char* kConnectFailedMessage =
    QT_TRANSLATE_NOOP("Messages", "SCRIBOLANTE X との接続に失敗しました。\nアプリを終了します。");
constexpr const char* kNoDeviceMessage =
    QT_TRANSLATE_NOOP("Messages", "SCRIBOLANTE X と接続できませんでした。");
constexpr const char* kSeveralDevicesMessage =
    QT_TRANSLATE_NOOP("Messages",
                      "SCRIBOLANTE X が2台以上接続されています。\n"
                      "1台になるように他のSCRIBOLANTE X を切断してアプリを再起動してください。\n"
                      "アプリを終了します。");
constexpr const char* kNormalModeMessageLead =
    QT_TRANSLATE_NOOP("Messages",
                      "本体のバージョンが最新でないため接続ができません。\n"
                      "本体のバージョンを1.1に更新してください。\n");
// The normal-mode box has a blank title bar rather than the application title.
constexpr const char* kEmptyCaption = "";

// The normal-mode name is compared over exactly its own length; anything after it is ignored.
constexpr std::size_t kNormalModeNameLength = 29;
static_assert(std::char_traits<char>::length(NORMAL_MODE_DEVICE_NAME) == kNormalModeNameLength);

platform::PresentDeviceList* installedDeviceList = nullptr;
platform::UrlOpener* installedUrlOpener = nullptr;
// The poll count of the last look for an unreachable device, and whether this attempt logged
// one. The count only grows within an attempt, so a count not above it means a new attempt.
std::uint32_t unreachableCheckedAt = 0;
bool unreachableLogged = false;

platform::PresentDeviceList& DeviceList() {
  if (installedDeviceList != nullptr) return *installedDeviceList;
  static platform::SysfsPresentDeviceList sysfsList;
  return sysfsList;
}

bool IsNormalModeName(const std::string& name) {
  return name.size() >= kNormalModeNameLength &&
         std::memcmp(name.data(), NORMAL_MODE_DEVICE_NAME, kNormalModeNameLength) == 0;
}

// An empty poll at a multiple of the scan interval: tell the user when the device is there
// but in normal mode, and offer the support page.
void ExplainNormalModeDevice(UpdateView& view) {
  if (!ScanForNormalModeDevice()) return;
  const std::string text = std::string(kNormalModeMessageLead) + SUPPORT_PAGE_URL;
  if (view.ShowRelabelledMessageBox(text, kEmptyCaption, MB_OKCANCEL) == IDOK &&
      installedUrlOpener != nullptr) {
    installedUrlOpener->Open(SUPPORT_PAGE_URL);
  }
}

// An empty poll at a multiple of the scan interval: the system lists the device in update
// mode but the library does not (no access to it, or a library that cannot see it). Said
// once per attempt.
void ReportUnreachableDevice() {
  if (ConnectionPollCount <= unreachableCheckedAt) unreachableLogged = false;
  unreachableCheckedAt = ConnectionPollCount;
  if (unreachableLogged || !DeviceList().HasUsbDevice(kDeviceVendorId, kDeviceProductId)) return;
  AppendLogLine(kDeviceUnreachableLine);
  unreachableLogged = true;
}

}  // namespace

void SetPresentDeviceList(platform::PresentDeviceList* list) {
  installedDeviceList = list;
}

void SetUrlOpener(platform::UrlOpener* opener) {
  installedUrlOpener = opener;
}

int SelectDevice() {
  UpdateContext->deviceAgent->SetDeviceIds(kDeviceVendorId, kDeviceProductId, kDeviceExtraId);
  return kPhaseAdvance;
}

int CheckConnection() {
  UpdateView& view = *UpdateContext->view;
  C_GPUSBHIDStdAgentEx& agent = *UpdateContext->deviceAgent;

  if (agent.Scan(0) != 1) {
    view.ShowMessageBox(kConnectFailedMessage, nullptr, MB_OK);
    return kPhaseEnd;
  }

  const int count = agent.GetDeviceCount();
  if (count < 0) {
    // The list was rebuilt but cannot be counted: as good as no list at all.
    view.ShowMessageBox(kConnectFailedMessage, nullptr, MB_OK);
    return kPhaseEnd;
  }
  if (count == 0) {
    ConnectionPollCount += 1;
    if (ConnectionPollCount >= CONNECT_POLL_LIMIT) {
      view.ShowMessageBox(kNoDeviceMessage, nullptr, MB_OK);
      ConnectionPollCount = 0;
      return kPhaseRestart;
    }
    if (ConnectionPollCount % NAME_SCAN_INTERVAL == 0) {
      ReportUnreachableDevice();
      ExplainNormalModeDevice(view);
    }
    return kPhaseWait;
  }
  if (count > 1) {
    view.ShowMessageBox(kSeveralDevicesMessage, nullptr, MB_OK);
    return kPhaseEnd;
  }

  if (agent.Connect(0) == 1) {
    AppendLogLine("USB Connected.");
    return kPhaseAdvance;
  }
  AppendLogLine("USB Open error.");
  return kPhaseRestart;
}

bool ScanForNormalModeDevice() {
  const auto names = DeviceList().FriendlyNames();
  if (!names) return false;
  for (const std::string& name : *names) {
    if (IsNormalModeName(name)) return true;
  }
  return false;
}
