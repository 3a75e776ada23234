<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru">
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

Открывает окно Gridquilt, которое объединяет листы из многих книг в одну новую книгу.
Указанные книги и папки принимаются так, как если бы их перетащили в окно; если окно
Gridquilt уже открыто, они передаются ему.

Параметры:
  -h, --help     Показать эту справку.
      --version  Показать версию.
Параметры Qt, например -platform ИМЯ и -style ИМЯ, действуют как в любой программе Qt.

То же объединение из командной строки: gridquilt-merge --help.
</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>Merge Completed!</source>
        <translation>Объединение завершено!</translation>
    </message>
    <message>
        <source>No File need to merge!</source>
        <translation>Нет файлов для объединения!</translation>
    </message>
    <message>
        <source>You must intall MS Excel first!</source>
        <translation>Сначала установите MS Excel!</translation>
    </message>
    <message>
        <source>Are you sure to delete the file from disk?</source>
        <translation>Удалить файл с диска?</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Предупреждение</translation>
    </message>
    <message>
        <source>One sheet was not merged:</source>
        <translation>Один лист не объединён:</translation>
    </message>
    <message>
        <source>One sheet was merged with changes:</source>
        <translation>Один лист объединён с изменениями:</translation>
    </message>
    <message>
        <source>%1 sheets were not merged:</source>
        <translation>Не объединено листов: %1</translation>
    </message>
    <message>
        <source>%1 sheets were merged with changes:</source>
        <translation>Объединено с изменениями листов: %1</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders? The sheets listed so far stay in the list.</source>
        <translation>Прекратить добавление перетащенных файлов и папок? Уже перечисленные листы останутся в списке.</translation>
    </message>
    <message>
        <source>Stop the merge? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>Прекратить объединение? Ничего не будет сохранено, существующий файл с этим именем останется без изменений.</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders and close the window? The lists are not kept.</source>
        <translation>Прекратить добавление перетащенных файлов и папок и закрыть окно? Списки не сохраняются.</translation>
    </message>
    <message>
        <source>Stop the merge and close the window? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>Прекратить объединение и закрыть окно? Ничего не будет сохранено, существующий файл с этим именем останется без изменений.</translation>
    </message>
</context>
<context>
    <name>gq::app::SheetList</name>
    <message>
        <source>Sheet Name</source>
        <translation>Имя листа</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>Имя файла</translation>
    </message>
</context>
<context>
    <name>gq::app::TFMAbout</name>
    <message>
        <source>About Gridquilt</source>
        <translation>О программе Gridquilt</translation>
    </message>
    <message>
        <source>Web: </source>
        <translation>Сайт: </translation>
    </message>
    <message>
        <source>Email: </source>
        <translation>Эл. почта: </translation>
    </message>
</context>
<context>
    <name>gq::app::TWaitForm</name>
    <message>
        <source>This will take a few minutes.Please be patient...</source>
        <translation>Это займёт несколько минут. Пожалуйста, подождите...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
</context>
<context>
    <name>gq::app::TfmMain</name>
    <message>
        <source>Click here to merge</source>
        <translation>Нажмите, чтобы объединить</translation>
    </message>
    <message>
        <source>About</source>
        <translation>О программе</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Справка</translation>
    </message>
    <message>
        <source>↑ Drop Excel Files or Folders Here  ↑</source>
        <translation>↑ Перетащите сюда файлы Excel или папки  ↑</translation>
    </message>
    <message>
        <source>Merge into Multi-Sheet</source>
        <translation>Несколько листов</translation>
    </message>
    <message>
        <source>Merge into Single Sheet</source>
        <translation>Один лист</translation>
    </message>
    <message>
        <source>Add all sheets to the merge list</source>
        <translation>Добавить все листы в список объединения</translation>
    </message>
    <message>
        <source>Add the selected sheets to the merge list</source>
        <translation>Добавить выбранные листы в список объединения</translation>
    </message>
    <message>
        <source>Remove the selected sheets from the merge list</source>
        <translation>Убрать выбранные листы из списка объединения</translation>
    </message>
    <message>
        <source>Remove all sheets from the merge list</source>
        <translation>Убрать все листы из списка объединения</translation>
    </message>
    <message>
        <source>Move the focused sheet to the top</source>
        <translation>Переместить текущий лист в начало</translation>
    </message>
    <message>
        <source>Move the focused sheet up</source>
        <translation>Переместить текущий лист вверх</translation>
    </message>
    <message>
        <source>Move the focused sheet down</source>
        <translation>Переместить текущий лист вниз</translation>
    </message>
    <message>
        <source>Move the focused sheet to the bottom</source>
        <translation>Переместить текущий лист в конец</translation>
    </message>
</context>
</TS>