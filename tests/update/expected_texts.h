// The messages the update sequence shows, written out here as the update tests expect them,
// so that a changed message is caught.
#pragma once

#include <string>

inline const std::string kConfirmUpdateText = "SCRIBOLANTE X をUpdateしますか？";
inline const std::string kCompleteText =
    "SCRIBOLANTE X のUpdateが完了しました。\nアプリを終了します。";
inline const std::string kCommunicationText = "SCRIBOLANTE X との通信に異常が発生しました。";
inline const std::string kUpdateErrorText = "SCRIBOLANTE X のUpdate中に異常が発生しました。";
inline const std::string kUpdateFailedText = "SCRIBOLANTE X のUpdateに失敗しました。";
inline const std::string kNotUpdateModeText =
    "SCRIBOLANTE X がファームウェアアップデートモードになっていません。\n"
    "「電源」＋「実行/改行」を長押しでファームウェアアップデートモードで起動させてください。";
inline const std::string kNoDeviceText = "SCRIBOLANTE X と接続できませんでした。";
inline const std::string kConnectFailedText =
    "SCRIBOLANTE X との接続に失敗しました。\nアプリを終了します。";
inline const std::string kUnreadableText = "バイナリファイルを読み込めませんでした。";
inline const std::string kNoMemoryText = "メモリを確保できませんでした。\nアプリを終了します。";
inline const std::string kCancelledText =
    "SCRIBOLANTE X のUpdateを中止します。\nアプリを終了します。";
inline const std::string kSeveralDevicesText =
    "SCRIBOLANTE X が2台以上接続されています。\n"
    "1台になるように他のSCRIBOLANTE X を切断してアプリを再起動してください。\n"
    "アプリを終了します。";
inline const std::string kNormalModeText =
    "本体のバージョンが最新でないため接続ができません。\n"
    "本体のバージョンを1.1に更新してください。\n"
    "https://support.veldra.co.jp/stationery/scribolantex/support.html";
