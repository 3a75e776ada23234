<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="it">
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

Apre la finestra di Gridquilt, che unisce fogli di lavoro di molte cartelle di lavoro in una
nuova cartella di lavoro. Le cartelle di lavoro e le cartelle indicate vengono prese come se
fossero trascinate; se una finestra di Gridquilt è già aperta, vengono passate a quella.

Opzioni:
  -h, --help     Mostra questo aiuto.
      --version  Mostra la versione.
Le opzioni di Qt come -platform NOME e -style NOME funzionano come in ogni programma Qt.

La stessa unione da una shell: gridquilt-merge --help.
</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>Merge Completed!</source>
        <translation>Unione completata!</translation>
    </message>
    <message>
        <source>No File need to merge!</source>
        <translation>Nessun file da unire!</translation>
    </message>
    <message>
        <source>You must intall MS Excel first!</source>
        <translation>Installare prima MS Excel!</translation>
    </message>
    <message>
        <source>Are you sure to delete the file from disk?</source>
        <translation>Eliminare davvero il file dal disco?</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Avviso</translation>
    </message>
    <message>
        <source>One sheet was not merged:</source>
        <translation>Un foglio non è stato unito:</translation>
    </message>
    <message>
        <source>One sheet was merged with changes:</source>
        <translation>Un foglio è stato unito con modifiche:</translation>
    </message>
    <message>
        <source>%1 sheets were not merged:</source>
        <translation>Fogli non uniti: %1</translation>
    </message>
    <message>
        <source>%1 sheets were merged with changes:</source>
        <translation>Fogli uniti con modifiche: %1</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders? The sheets listed so far stay in the list.</source>
        <translation>Interrompere l'aggiunta dei file e delle cartelle trascinati? I fogli elencati finora restano nell'elenco.</translation>
    </message>
    <message>
        <source>Stop the merge? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>Interrompere l'unione? Non verrà salvato nulla e un file esistente con quel nome resta com'era.</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders and close the window? The lists are not kept.</source>
        <translation>Interrompere l'aggiunta dei file e delle cartelle trascinati e chiudere la finestra? Gli elenchi non vengono conservati.</translation>
    </message>
    <message>
        <source>Stop the merge and close the window? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>Interrompere l'unione e chiudere la finestra? Non verrà salvato nulla e un file esistente con quel nome resta com'era.</translation>
    </message>
</context>
<context>
    <name>gq::app::SheetList</name>
    <message>
        <source>Sheet Name</source>
        <translation>Nome del foglio</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>Nome del file</translation>
    </message>
</context>
<context>
    <name>gq::app::TFMAbout</name>
    <message>
        <source>About Gridquilt</source>
        <translation>Informazioni su Gridquilt</translation>
    </message>
    <message>
        <source>Web: </source>
        <translation>Web: </translation>
    </message>
    <message>
        <source>Email: </source>
        <translation>E-mail: </translation>
    </message>
</context>
<context>
    <name>gq::app::TWaitForm</name>
    <message>
        <source>This will take a few minutes.Please be patient...</source>
        <translation>Ci vorrà qualche minuto. Attendere prego...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annulla</translation>
    </message>
</context>
<context>
    <name>gq::app::TfmMain</name>
    <message>
        <source>Click here to merge</source>
        <translation>Fare clic qui per unire</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Informazioni</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Aiuto</translation>
    </message>
    <message>
        <source>↑ Drop Excel Files or Folders Here  ↑</source>
        <translation>↑ Trascinare qui file di Excel o cartelle  ↑</translation>
    </message>
    <message>
        <source>Merge into Multi-Sheet</source>
        <translation>Più fogli</translation>
    </message>
    <message>
        <source>Merge into Single Sheet</source>
        <translation>Un solo foglio</translation>
    </message>
    <message>
        <source>Add all sheets to the merge list</source>
        <translation>Aggiungi tutti i fogli all'elenco da unire</translation>
    </message>
    <message>
        <source>Add the selected sheets to the merge list</source>
        <translation>Aggiungi i fogli selezionati all'elenco da unire</translation>
    </message>
    <message>
        <source>Remove the selected sheets from the merge list</source>
        <translation>Rimuovi i fogli selezionati dall'elenco da unire</translation>
    </message>
    <message>
        <source>Remove all sheets from the merge list</source>
        <translation>Rimuovi tutti i fogli dall'elenco da unire</translation>
    </message>
    <message>
        <source>Move the focused sheet to the top</source>
        <translation>Sposta il foglio attivo in cima</translation>
    </message>
    <message>
        <source>Move the focused sheet up</source>
        <translation>Sposta su il foglio attivo</translation>
    </message>
    <message>
        <source>Move the focused sheet down</source>
        <translation>Sposta giù il foglio attivo</translation>
    </message>
    <message>
        <source>Move the focused sheet to the bottom</source>
        <translation>Sposta il foglio attivo in fondo</translation>
    </message>
</context>
</TS>