<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja">
<context>
    <name>CommandLine</name>
    <message>
        <source>Usage: gridquilt [Qt options] [FILE|FOLDER]...
       gridquilt --help | --version

Opens the Gridquilt window, which merges worksheets from many workbooks into one new
workbook. The workbooks and folders named are taken in as a drop of them; while a
Gridquilt window is open, they are handed to that window instead.

Options:
  -h, --help     Show this help.
      --version  Show the version.
Qt options such as -platform NAME and -style NAME work as in every Qt program.

The same merge from a shell: gridquilt-merge --help.
</source>
        <translation>Usage: gridquilt [Qt options] [FILE|FOLDER]...
       gridquilt --help | --version

複数のブックのワークシートを 1 つの新しいブックに結合する Gridquilt のウィンドウを開きます。
指定したブックとフォルダーはドロップしたときと同じように取り込まれます。Gridquilt の
ウィンドウがすでに開いている場合は、そのウィンドウに渡されます。

オプション:
  -h, --help     このヘルプを表示します。
      --version  バージョンを表示します。
-platform 名前 や -style 名前 などの Qt のオプションは、ほかの Qt プログラムと同じように働きます。

シェルから同じ結合を行うには: gridquilt-merge --help
</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>Merge Completed!</source>
        <translation>結合が完了しました！</translation>
    </message>
    <message>
        <source>No File need to merge!</source>
        <translation>結合するファイルがありません！</translation>
    </message>
    <message>
        <source>You must intall MS Excel first!</source>
        <translation>先に MS Excel をインストールしてください！</translation>
    </message>
    <message>
        <source>Are you sure to delete the file from disk?</source>
        <translation>ファイルをディスクから削除してもよろしいですか？</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>One sheet was not merged:</source>
        <translation>1 つのシートが結合されませんでした:</translation>
    </message>
    <message>
        <source>One sheet was merged with changes:</source>
        <translation>1 つのシートが変更を伴って結合されました:</translation>
    </message>
    <message>
        <source>%1 sheets were not merged:</source>
        <translation>結合されなかったシート: %1</translation>
    </message>
    <message>
        <source>%1 sheets were merged with changes:</source>
        <translation>変更を伴って結合されたシート: %1</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders? The sheets listed so far stay in the list.</source>
        <translation>ドロップしたファイルとフォルダーの追加を中止しますか？ これまでに一覧に入ったシートは残ります。</translation>
    </message>
    <message>
        <source>Stop the merge? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>結合を中止しますか？ 何も保存されず、同じ名前の既存のファイルはそのまま残ります。</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders and close the window? The lists are not kept.</source>
        <translation>ドロップしたファイルとフォルダーの追加を中止してウィンドウを閉じますか？ 一覧は保持されません。</translation>
    </message>
    <message>
        <source>Stop the merge and close the window? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>結合を中止してウィンドウを閉じますか？ 何も保存されず、同じ名前の既存のファイルはそのまま残ります。</translation>
    </message>
</context>
<context>
    <name>gq::app::SheetList</name>
    <message>
        <source>Sheet Name</source>
        <translation>シート名</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>ファイル名</translation>
    </message>
</context>
<context>
    <name>gq::app::TFMAbout</name>
    <message>
        <source>About Gridquilt</source>
        <translation>Gridquilt について</translation>
    </message>
    <message>
        <source>Web: </source>
        <translation>Web: </translation>
    </message>
    <message>
        <source>Email: </source>
        <translation>メール: </translation>
    </message>
</context>
<context>
    <name>gq::app::TWaitForm</name>
    <message>
        <source>This will take a few minutes.Please be patient...</source>
        <translation>数分かかります。しばらくお待ちください...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
</context>
<context>
    <name>gq::app::TfmMain</name>
    <message>
        <source>Click here to merge</source>
        <translation>ここをクリックして結合</translation>
    </message>
    <message>
        <source>About</source>
        <translation>バージョン情報</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>ヘルプ</translation>
    </message>
    <message>
        <source>↑ Drop Excel Files or Folders Here  ↑</source>
        <translation>↑ Excel ファイルまたはフォルダーをここにドロップ  ↑</translation>
    </message>
    <message>
        <source>Merge into Multi-Sheet</source>
        <translation>複数のシート</translation>
    </message>
    <message>
        <source>Merge into Single Sheet</source>
        <translation>1 つのシート</translation>
    </message>
    <message>
        <source>Add all sheets to the merge list</source>
        <translation>すべてのシートを結合リストに追加</translation>
    </message>
    <message>
        <source>Add the selected sheets to the merge list</source>
        <translation>選択したシートを結合リストに追加</translation>
    </message>
    <message>
        <source>Remove the selected sheets from the merge list</source>
        <translation>選択したシートを結合リストから削除</translation>
    </message>
    <message>
        <source>Remove all sheets from the merge list</source>
        <translation>すべてのシートを結合リストから削除</translation>
    </message>
    <message>
        <source>Move the focused sheet to the top</source>
        <translation>フォーカスのあるシートを先頭へ移動</translation>
    </message>
    <message>
        <source>Move the focused sheet up</source>
        <translation>フォーカスのあるシートを上へ移動</translation>
    </message>
    <message>
        <source>Move the focused sheet down</source>
        <translation>フォーカスのあるシートを下へ移動</translation>
    </message>
    <message>
        <source>Move the focused sheet to the bottom</source>
        <translation>フォーカスのあるシートを末尾へ移動</translation>
    </message>
</context>
</TS>