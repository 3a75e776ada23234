<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
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

打开 Gridquilt 窗口，将多个工作簿中的工作表合并为一个新工作簿。命令行中指定的工作簿和
文件夹如同拖放到窗口中一样被接收；若已有 Gridquilt 窗口打开，则交给该窗口。

选项：
  -h, --help     显示此帮助。
      --version  显示版本。
Qt 选项（如 -platform 名称 和 -style 名称）与其他 Qt 程序中的用法相同。

在终端中进行同样的合并：gridquilt-merge --help。
</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>Merge Completed!</source>
        <translation>合并完成！</translation>
    </message>
    <message>
        <source>No File need to merge!</source>
        <translation>没有需要合并的文件！</translation>
    </message>
    <message>
        <source>You must intall MS Excel first!</source>
        <translation>请先安装 MS Excel！</translation>
    </message>
    <message>
        <source>Are you sure to delete the file from disk?</source>
        <translation>确定要从磁盘删除该文件吗？</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>One sheet was not merged:</source>
        <translation>有一个工作表未合并：</translation>
    </message>
    <message>
        <source>One sheet was merged with changes:</source>
        <translation>有一个工作表在合并时有改动：</translation>
    </message>
    <message>
        <source>%1 sheets were not merged:</source>
        <translation>未合并的工作表：%1 个</translation>
    </message>
    <message>
        <source>%1 sheets were merged with changes:</source>
        <translation>合并时有改动的工作表：%1 个</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders? The sheets listed so far stay in the list.</source>
        <translation>停止添加拖放的文件和文件夹？已列出的工作表仍保留在列表中。</translation>
    </message>
    <message>
        <source>Stop the merge? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>停止合并？不会保存任何内容，同名的现有文件保持不变。</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders and close the window? The lists are not kept.</source>
        <translation>停止添加拖放的文件和文件夹并关闭窗口？列表不会保留。</translation>
    </message>
    <message>
        <source>Stop the merge and close the window? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>停止合并并关闭窗口？不会保存任何内容，同名的现有文件保持不变。</translation>
    </message>
</context>
<context>
    <name>gq::app::SheetList</name>
    <message>
        <source>Sheet Name</source>
        <translation>工作表名</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>文件名</translation>
    </message>
</context>
<context>
    <name>gq::app::TFMAbout</name>
    <message>
        <source>About Gridquilt</source>
        <translation>关于 Gridquilt</translation>
    </message>
    <message>
        <source>Web: </source>
        <translation>网站：</translation>
    </message>
    <message>
        <source>Email: </source>
        <translation>邮箱：</translation>
    </message>
</context>
<context>
    <name>gq::app::TWaitForm</name>
    <message>
        <source>This will take a few minutes.Please be patient...</source>
        <translation>这需要几分钟，请耐心等待……</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>gq::app::TfmMain</name>
    <message>
        <source>Click here to merge</source>
        <translation>点击此处合并</translation>
    </message>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>↑ Drop Excel Files or Folders Here  ↑</source>
        <translation>↑ 将 Excel 文件或文件夹拖放到这里  ↑</translation>
    </message>
    <message>
        <source>Merge into Multi-Sheet</source>
        <translation>多个工作表</translation>
    </message>
    <message>
        <source>Merge into Single Sheet</source>
        <translation>单个工作表</translation>
    </message>
    <message>
        <source>Add all sheets to the merge list</source>
        <translation>将所有工作表加入合并列表</translation>
    </message>
    <message>
        <source>Add the selected sheets to the merge list</source>
        <translation>将选中的工作表加入合并列表</translation>
    </message>
    <message>
        <source>Remove the selected sheets from the merge list</source>
        <translation>从合并列表移除选中的工作表</translation>
    </message>
    <message>
        <source>Remove all sheets from the merge list</source>
        <translation>从合并列表移除所有工作表</translation>
    </message>
    <message>
        <source>Move the focused sheet to the top</source>
        <translation>将当前工作表移到顶部</translation>
    </message>
    <message>
        <source>Move the focused sheet up</source>
        <translation>将当前工作表上移</translation>
    </message>
    <message>
        <source>Move the focused sheet down</source>
        <translation>将当前工作表下移</translation>
    </message>
    <message>
        <source>Move the focused sheet to the bottom</source>
        <translation>将当前工作表移到底部</translation>
    </message>
</context>
</TS>