// The per-user settings of the application shell: the recent-file list and where the window
// was last closed. Nothing stored here changes how the update behaves.
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>
#include <optional>

inline constexpr const char* kSettingsOrganization =
    "アプリケーション ウィザードで生成されたローカル アプリケーション";
inline constexpr const char* kSettingsApplication = "SCRIBOLANTE X FW Updater";
inline constexpr int kRecentFileCount = 4;

// UI thread only. Each call reads or writes the settings file at once.
class AppSettings {
 public:
  // Most recent first, at most kRecentFileCount entries.
  static QStringList LoadRecentFiles();
  static void SaveRecentFiles(const QStringList& files);
  // Puts path at the front of list, dropping an older copy of it and anything past the limit.
  static QStringList WithRecentFile(QStringList list, const QString& path);

  static std::optional<QPoint> LoadWindowPosition();
  static void SaveWindowPosition(const QPoint& position);
};
