<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
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

Öffnet das Gridquilt-Fenster, das Arbeitsblätter aus vielen Arbeitsmappen zu einer neuen
Arbeitsmappe zusammenführt. Die genannten Arbeitsmappen und Ordner werden wie beim Ablegen
übernommen; ist bereits ein Gridquilt-Fenster offen, werden sie an dieses übergeben.

Optionen:
  -h, --help     Diese Hilfe anzeigen.
      --version  Die Version anzeigen.
Qt-Optionen wie -platform NAME und -style NAME wirken wie in jedem Qt-Programm.

Dieselbe Zusammenführung in der Shell: gridquilt-merge --help.
</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>Merge Completed!</source>
        <translation>Zusammenführung abgeschlossen!</translation>
    </message>
    <message>
        <source>No File need to merge!</source>
        <translation>Keine Datei zum Zusammenführen!</translation>
    </message>
    <message>
        <source>You must intall MS Excel first!</source>
        <translation>Bitte zuerst MS Excel installieren!</translation>
    </message>
    <message>
        <source>Are you sure to delete the file from disk?</source>
        <translation>Die Datei wirklich von der Festplatte löschen?</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>One sheet was not merged:</source>
        <translation>Ein Blatt wurde nicht zusammengeführt:</translation>
    </message>
    <message>
        <source>One sheet was merged with changes:</source>
        <translation>Ein Blatt wurde mit Änderungen zusammengeführt:</translation>
    </message>
    <message>
        <source>%1 sheets were not merged:</source>
        <translation>Nicht zusammengeführte Blätter: %1</translation>
    </message>
    <message>
        <source>%1 sheets were merged with changes:</source>
        <translation>Mit Änderungen zusammengeführte Blätter: %1</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders? The sheets listed so far stay in the list.</source>
        <translation>Das Hinzufügen der abgelegten Dateien und Ordner abbrechen? Die bisher aufgelisteten Blätter bleiben in der Liste.</translation>
    </message>
    <message>
        <source>Stop the merge? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>Die Zusammenführung abbrechen? Es wird nichts gespeichert, und eine vorhandene Datei dieses Namens bleibt unverändert.</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders and close the window? The lists are not kept.</source>
        <translation>Das Hinzufügen der abgelegten Dateien und Ordner abbrechen und das Fenster schließen? Die Listen werden nicht aufbewahrt.</translation>
    </message>
    <message>
        <source>Stop the merge and close the window? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>Die Zusammenführung abbrechen und das Fenster schließen? Es wird nichts gespeichert, und eine vorhandene Datei dieses Namens bleibt unverändert.</translation>
    </message>
</context>
<context>
    <name>gq::app::SheetList</name>
    <message>
        <source>Sheet Name</source>
        <translation>Blattname</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>Dateiname</translation>
    </message>
</context>
<context>
    <name>gq::app::TFMAbout</name>
    <message>
        <source>About Gridquilt</source>
        <translation>Über Gridquilt</translation>
    </message>
    <message>
        <source>Web: </source>
        <translation>Web: </translation>
    </message>
    <message>
        <source>Email: </source>
        <translation>E-Mail: </translation>
    </message>
</context>
<context>
    <name>gq::app::TWaitForm</name>
    <message>
        <source>This will take a few minutes.Please be patient...</source>
        <translation>Das dauert einige Minuten. Bitte etwas Geduld...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>gq::app::TfmMain</name>
    <message>
        <source>Click here to merge</source>
        <translation>Hier klicken zum Zusammenführen</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>↑ Drop Excel Files or Folders Here  ↑</source>
        <translation>↑ Excel-Dateien oder Ordner hier ablegen  ↑</translation>
    </message>
    <message>
        <source>Merge into Multi-Sheet</source>
        <translation>Mehrere Blätter</translation>
    </message>
    <message>
        <source>Merge into Single Sheet</source>
        <translation>Ein einziges Blatt</translation>
    </message>
    <message>
        <source>Add all sheets to the merge list</source>
        <translation>Alle Blätter zur Zusammenführungsliste hinzufügen</translation>
    </message>
    <message>
        <source>Add the selected sheets to the merge list</source>
        <translation>Die ausgewählten Blätter zur Zusammenführungsliste hinzufügen</translation>
    </message>
    <message>
        <source>Remove the selected sheets from the merge list</source>
        <translation>Die ausgewählten Blätter aus der Zusammenführungsliste entfernen</translation>
    </message>
    <message>
        <source>Remove all sheets from the merge list</source>
        <translation>Alle Blätter aus der Zusammenführungsliste entfernen</translation>
    </message>
    <message>
        <source>Move the focused sheet to the top</source>
        <translation>Das fokussierte Blatt ganz nach oben verschieben</translation>
    </message>
    <message>
        <source>Move the focused sheet up</source>
        <translation>Das fokussierte Blatt nach oben verschieben</translation>
    </message>
    <message>
        <source>Move the focused sheet down</source>
        <translation>Das fokussierte Blatt nach unten verschieben</translation>
    </message>
    <message>
        <source>Move the focused sheet to the bottom</source>
        <translation>Das fokussierte Blatt ganz nach unten verschieben</translation>
    </message>
</context>
</TS>