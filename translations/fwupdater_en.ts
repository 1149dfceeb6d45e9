<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja_JP">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>SCRIBOLANTE X FW Updater について</source>
        <translation>About SCRIBOLANTE X FW Updater</translation>
    </message>
</context>
<context>
    <name>CFWUpdaterApp</name>
    <message>
        <source>開く</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>すべてのファイル (*)</source>
        <translation>All files (*)</translation>
    </message>
</context>
<context>
    <name>CFWUpdaterView</name>
    <message>
        <source>現在のバージョン</source>
        <translation>Current version</translation>
    </message>
    <message>
        <source>アップデートするバージョン</source>
        <translation>Version to install</translation>
    </message>
    <message>
        <source>進行状況</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>操作ログ</source>
        <translation>Operation log</translation>
    </message>
</context>
<context>
    <name>CMainFrame</name>
    <message>
        <source>ファイル(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>アプリケーションの終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>ヘルプ(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>SCRIBOLANTE X FW Updaterについて(&amp;A)...</source>
        <translation>&amp;About SCRIBOLANTE X FW Updater...</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>ディスプレイがないため、ウィンドウを開けません (DISPLAY も WAYLAND_DISPLAY も設定されていません)。</source>
        <translation>No window can be opened: there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set).</translation>
    </message>
    <message>
        <source>ディスプレイに接続できないため、ウィンドウを開けません: %1</source>
        <translation>No window can be opened: the display cannot be reached: %1</translation>
    </message>
    <message>
        <source>引数は FILE または FOLDER の1つだけです。</source>
        <translation>Give at most one argument, a FILE or a FOLDER.</translation>
    </message>
    <message>
        <source>ファイルまたはフォルダが見つかりません: %1</source>
        <translation>No such file or folder: %1</translation>
    </message>
    <message>
        <source>フォルダを読み込めません: %1</source>
        <translation>Cannot read the folder: %1</translation>
    </message>
    <message>
        <source>ファイルを読み込めません: %1</source>
        <translation>Cannot read the file: %1</translation>
    </message>
    <message>
        <source>空のパスは指定できません。</source>
        <translation>An empty path names nothing.</translation>
    </message>
    <message>
        <source>バイナリファイルの名前が正しくありません (SC5_Firmware_v&lt;数字&gt;.&lt;数字&gt; を含み .bin で終わる名前が必要です): %1</source>
        <translation>the firmware file&apos;s name does not qualify (it must contain SC5_Firmware_v&lt;digits&gt;.&lt;digits&gt; and end in .bin): %1</translation>
    </message>
    <message>
        <source>バイナリファイルの名前が正しくないため読み込めませんでした。
%1
名前には SC5_Firmware_v&lt;数字&gt;.&lt;数字&gt; を含め、.bin で終わるようにしてください。
アプリを終了します。</source>
        <translation>The firmware file cannot be used because of its name.
%1
Its name must contain SC5_Firmware_v&lt;digits&gt;.&lt;digits&gt; and end in .bin.
The application will close.</translation>
    </message>
    <message>
        <source>--yes と --json は --cli と一緒にだけ使えます。</source>
        <translation>--yes and --json can only be used with --cli.</translation>
    </message>
    <message>
        <source>使い方: %1 [--record TRACE] [FILE|FOLDER]
        %1 --cli [--yes] [--json] [--record TRACE] [FILE|FOLDER]

USB で接続された SCRIBOLANTE X のファームウェアを書き換えます。ファームウェア
ファイル (名前に SC5_Firmware_v&lt;数字&gt;.&lt;数字&gt;.bin を含むファイル) を探し、
ファームウェアアップデートモードの本体がちょうど1台接続されるまで待ち、
両方のバージョンを表示して確認を求め、イメージを書き込み、本体にチェックサムを
確認させます。

引数:
  FILE           書き込むファームウェアファイル。このファイルだけを使い、
                 そのフォルダは探しません。名前には SC5_Firmware_v&lt;数字&gt;.&lt;数字&gt;
                 を含め、.bin で終わること (SC5_Firmware_v1.3 (1).bin は
                 バージョン 1.3)
  FOLDER         ファームウェアファイルを探すフォルダ
                 (引数がなければ作業フォルダ)
  ファイルとフォルダは読むだけで、書き込むことはありません。

オプション:
  -h, --help     このヘルプを表示して終了します
  -v, --version  プログラムの名前とバージョンを表示して終了します
  --record TRACE 本体のメーカーのライブラリへの呼び出しをすべて TRACE に
                 書き込みます (JSON Lines、サポートへの報告用)。アップデートは
                 変わりません
  --cli          ウィンドウを使わずに端末でアップデートします (ディスプレイ不要)。
                 メッセージと操作ログは標準エラー出力に1行ずつ出ます。確認には
                 端末で y を入力します。端末がなければ取り消します。失敗したら
                 やり直さずにステータス 2 で終了します
  --yes          (--cli と) アップデートの確認に「はい」と答えます
  --json         (--cli と) 標準出力に JSON Lines (1行に1つのイベント:
                 file, device, progress, message, 最後に end) だけを出します
  Qt 自身のオプション (-platform, -style など) も使えます。

終了ステータス:
  0  本体が新しいファームウェアのチェックサムを確認した
  1  このプログラムがすでに起動している
  2  アップデートせずに終了した: 取り消し、2台以上の本体、ライブラリや本体の
     異常、メモリ不足、ウィンドウを開けるディスプレイがない (--cli なし)、
     完了前にウィンドウを閉じた・終了シグナルを受けた、
     または正しくないコマンドライン: 存在しない・読み込めないパス、名前が条件に
     合わない FILE、2つ目のパスや空のパス、知らないオプション

確認まで進んだ試行はそれぞれ次のファイルに記録されます:
$XDG_STATE_HOME/scribolante-fw-updater/history.log
(既定では ~/.local/state/scribolante-fw-updater/history.log)
</source>
        <translation>Usage: %1 [--record TRACE] [FILE|FOLDER]
       %1 --cli [--yes] [--json] [--record TRACE] [FILE|FOLDER]

Rewrites the firmware of a SCRIBOLANTE X connected over USB. It finds the firmware
file (a name containing SC5_Firmware_v&lt;digits&gt;.&lt;digits&gt;.bin), waits until exactly
one device in firmware-update mode is connected, shows both versions, asks for
confirmation, writes the image and has the device confirm its checksum.

Arguments:
  FILE           the firmware file to write, and no other: its folder is never
                 searched. Its name must contain SC5_Firmware_v&lt;digits&gt;.&lt;digits&gt;
                 and end in .bin (SC5_Firmware_v1.3 (1).bin is version 1.3)
  FOLDER         the folder searched for the firmware file
                 (without an argument: the working folder)
  The file and its folder are only read, never written.

Options:
  -h, --help     show this help and exit
  -v, --version  show the program&apos;s name and version and exit
  --record TRACE write every call into the device maker&apos;s library to TRACE
                 (JSON Lines), for a support report; the update is unchanged
  --cli          update from the terminal, without a window (no display needed).
                 Messages and the operation log go to standard error, one line
                 each. Type y at the terminal to confirm; without a terminal the
                 update is declined. A failure ends with status 2 instead of
                 starting over
  --yes          (with --cli) answer the update question &quot;Yes&quot;
  --json         (with --cli) write only JSON Lines to standard output, one event
                 a line: file, device, progress, message, and end last
  Qt&apos;s own options (-platform, -style, ...) are accepted as well.

Exit status:
  0  the device confirmed the checksum of the new firmware
  1  another copy of the program is running
  2  ended without an update: declined, two or more devices, a library or device
     failure, out of memory, no display to open the window on (without --cli),
     the window closed or a termination signal before completion; or a bad
     command line: a path that does not exist or cannot be read, a FILE whose
     name does not qualify, a second or empty path, or an unknown option

Each attempt that reaches the confirmation is noted in
$XDG_STATE_HOME/scribolante-fw-updater/history.log
(by default ~/.local/state/scribolante-fw-updater/history.log).
</translation>
    </message>
</context>
<context>
    <name>EditPopupMenu</name>
    <message>
        <source>編集</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>切り取り(&amp;T)	Ctrl+X</source>
        <translation>Cu&amp;t	Ctrl+X</translation>
    </message>
    <message>
        <source>コピー(&amp;C)	Ctrl+C</source>
        <translation>&amp;Copy	Ctrl+C</translation>
    </message>
    <message>
        <source>貼り付け(&amp;P)	Ctrl+V</source>
        <translation>&amp;Paste	Ctrl+V</translation>
    </message>
</context>
<context>
    <name>MessageBox</name>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>はい</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>いいえ</source>
        <translation>No</translation>
    </message>
    <message>
        <source>移動</source>
        <translation>Go</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>複数起動検知</source>
        <translation>Already running</translation>
    </message>
    <message>
        <source>他のアプリケーションが起動しているため、SCRIBOLANTE X との通信ができません。
終了します。</source>
        <translation>Another application is running, so the SCRIBOLANTE X cannot be reached.
The application will close.</translation>
    </message>
    <message>
        <source>SCRIBOLANTE X をUpdate中です。
今終了すると SCRIBOLANTE X が起動できなくなる可能性があります。
終了しますか？</source>
        <translation>The SCRIBOLANTE X is being updated.
If you quit now, the SCRIBOLANTE X may no longer start.
Quit anyway?</translation>
    </message>
    <message>
        <source>SCRIBOLANTE X との接続に失敗しました。
アプリを終了します。</source>
        <translation>Connecting to the SCRIBOLANTE X failed.
The application will close.</translation>
    </message>
    <message>
        <source>SCRIBOLANTE X と接続できませんでした。</source>
        <translation>Could not connect to the SCRIBOLANTE X.</translation>
    </message>
    <message>
        <source>SCRIBOLANTE X が2台以上接続されています。
1台になるように他のSCRIBOLANTE X を切断してアプリを再起動してください。
アプリを終了します。</source>
        <translation>Two or more SCRIBOLANTE X devices are connected.
Disconnect the others so that only one is left, then start the application again.
The application will close.</translation>
    </message>
    <message>
        <source>本体のバージョンが最新でないため接続ができません。
本体のバージョンを1.1に更新してください。
</source>
        <translation>The device&apos;s firmware is too old to connect.
Update the device&apos;s firmware to version 1.1.
</translation>
    </message>
    <message>
        <source>バイナリファイルが見つかりませんでした。</source>
        <translation>The firmware file was not found.</translation>
    </message>
    <message>
        <source>バイナリファイルを読み込めませんでした。</source>
        <translation>The firmware file could not be read.</translation>
    </message>
    <message>
        <source>バイナリファイルが大きすぎるため読み込めませんでした。</source>
        <translation>The firmware file is too large to be read.</translation>
    </message>
    <message>
        <source>作業用スレッドを作成できませんでした。
アプリを終了します。</source>
        <translation>The worker thread could not be started.
The application will close.</translation>
    </message>
    <message>
        <source>作業用スレッドと通信できませんでした。
アプリを終了します。</source>
        <translation>The worker thread stopped answering.
The application will close.</translation>
    </message>
    <message>
        <source>メモリを確保できませんでした。
アプリを終了します。</source>
        <translation>Not enough memory.
The application will close.</translation>
    </message>
    <message>
        <source>SCRIBOLANTE X との通信に異常が発生しました。</source>
        <translation>An error occurred in communication with the SCRIBOLANTE X.</translation>
    </message>
    <message>
        <source>SCRIBOLANTE X がファームウェアアップデートモードになっていません。
「電源」＋「実行/改行」を長押しでファームウェアアップデートモードで起動させてください。</source>
        <translation>The SCRIBOLANTE X is not in firmware update mode.
Start it in firmware update mode by holding down &quot;Power&quot; and &quot;Execute/Newline&quot;.</translation>
    </message>
    <message>
        <source>SCRIBOLANTE X をUpdateしますか？</source>
        <translation>Update the SCRIBOLANTE X?</translation>
    </message>
    <message>
        <source>確認</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>SCRIBOLANTE X のUpdateを中止します。
アプリを終了します。</source>
        <translation>The update of the SCRIBOLANTE X is cancelled.
The application will close.</translation>
    </message>
    <message>
        <source>SCRIBOLANTE X のUpdate中に異常が発生しました。</source>
        <translation>An error occurred while updating the SCRIBOLANTE X.</translation>
    </message>
    <message>
        <source>SCRIBOLANTE X のUpdateが完了しました。
アプリを終了します。</source>
        <translation>The update of the SCRIBOLANTE X is complete.
The application will close.</translation>
    </message>
    <message>
        <source>SCRIBOLANTE X のUpdateに失敗しました。</source>
        <translation>The update of the SCRIBOLANTE X failed.</translation>
    </message>
    <message>
        <source>SCRIBOLANTE X のファームウェアを更新しています</source>
        <translation>Updating the firmware of the SCRIBOLANTE X</translation>
    </message>
</context>
<context>
    <name>TerminalView</name>
    <message>
        <source>残り約 %1</source>
        <translation>about %1 left</translation>
    </message>
    <message>
        <source>--yes により「はい」と答えました。</source>
        <translation>Answered &quot;Yes&quot; (--yes).</translation>
    </message>
    <message>
        <source>確認に答える端末がないため、アップデートしません (--yes で「はい」と答えます)。</source>
        <translation>No terminal to answer the question, so no update (--yes answers &quot;Yes&quot;).</translation>
    </message>
    <message>
        <source>[y/N] </source>
        <translation>[y/N] </translation>
    </message>
    <message>
        <source>ファームウェアを書き込み中です。中断すると本体のファームウェアが不完全なまま残ります。それでも中断するには、もう一度 Ctrl+C を押してください。</source>
        <translation>The firmware is being written. Stopping now leaves the device with incomplete firmware. To stop anyway, press Ctrl+C again.</translation>
    </message>
</context>
</TS>
