<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
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

Ouvre la fenêtre de Gridquilt, qui fusionne des feuilles de calcul de nombreux classeurs en un
nouveau classeur. Les classeurs et dossiers nommés sont pris comme s'ils étaient déposés ; si une
fenêtre Gridquilt est déjà ouverte, ils lui sont transmis.

Options :
  -h, --help     Afficher cette aide.
      --version  Afficher la version.
Les options de Qt, comme -platform NOM et -style NOM, agissent comme dans tout programme Qt.

La même fusion depuis un shell : gridquilt-merge --help.
</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>Merge Completed!</source>
        <translation>Fusion terminée !</translation>
    </message>
    <message>
        <source>No File need to merge!</source>
        <translation>Aucun fichier à fusionner !</translation>
    </message>
    <message>
        <source>You must intall MS Excel first!</source>
        <translation>Installez d'abord MS Excel !</translation>
    </message>
    <message>
        <source>Are you sure to delete the file from disk?</source>
        <translation>Voulez-vous vraiment supprimer le fichier du disque ?</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Avertissement</translation>
    </message>
    <message>
        <source>One sheet was not merged:</source>
        <translation>Une feuille n'a pas été fusionnée :</translation>
    </message>
    <message>
        <source>One sheet was merged with changes:</source>
        <translation>Une feuille a été fusionnée avec des modifications :</translation>
    </message>
    <message>
        <source>%1 sheets were not merged:</source>
        <translation>Feuilles non fusionnées : %1</translation>
    </message>
    <message>
        <source>%1 sheets were merged with changes:</source>
        <translation>Feuilles fusionnées avec des modifications : %1</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders? The sheets listed so far stay in the list.</source>
        <translation>Arrêter l'ajout des fichiers et dossiers déposés ? Les feuilles déjà listées restent dans la liste.</translation>
    </message>
    <message>
        <source>Stop the merge? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>Arrêter la fusion ? Rien ne sera enregistré, et un fichier existant de ce nom reste inchangé.</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders and close the window? The lists are not kept.</source>
        <translation>Arrêter l'ajout des fichiers et dossiers déposés et fermer la fenêtre ? Les listes ne sont pas conservées.</translation>
    </message>
    <message>
        <source>Stop the merge and close the window? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>Arrêter la fusion et fermer la fenêtre ? Rien ne sera enregistré, et un fichier existant de ce nom reste inchangé.</translation>
    </message>
</context>
<context>
    <name>gq::app::SheetList</name>
    <message>
        <source>Sheet Name</source>
        <translation>Nom de la feuille</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>Nom du fichier</translation>
    </message>
</context>
<context>
    <name>gq::app::TFMAbout</name>
    <message>
        <source>About Gridquilt</source>
        <translation>À propos de Gridquilt</translation>
    </message>
    <message>
        <source>Web: </source>
        <translation>Web : </translation>
    </message>
    <message>
        <source>Email: </source>
        <translation>E-mail : </translation>
    </message>
</context>
<context>
    <name>gq::app::TWaitForm</name>
    <message>
        <source>This will take a few minutes.Please be patient...</source>
        <translation>Cela prendra quelques minutes. Veuillez patienter...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
</context>
<context>
    <name>gq::app::TfmMain</name>
    <message>
        <source>Click here to merge</source>
        <translation>Cliquez ici pour fusionner</translation>
    </message>
    <message>
        <source>About</source>
        <translation>À propos</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Aide</translation>
    </message>
    <message>
        <source>↑ Drop Excel Files or Folders Here  ↑</source>
        <translation>↑ Déposez ici des fichiers Excel ou des dossiers  ↑</translation>
    </message>
    <message>
        <source>Merge into Multi-Sheet</source>
        <translation>Plusieurs feuilles</translation>
    </message>
    <message>
        <source>Merge into Single Sheet</source>
        <translation>Une seule feuille</translation>
    </message>
    <message>
        <source>Add all sheets to the merge list</source>
        <translation>Ajouter toutes les feuilles à la liste de fusion</translation>
    </message>
    <message>
        <source>Add the selected sheets to the merge list</source>
        <translation>Ajouter les feuilles sélectionnées à la liste de fusion</translation>
    </message>
    <message>
        <source>Remove the selected sheets from the merge list</source>
        <translation>Retirer les feuilles sélectionnées de la liste de fusion</translation>
    </message>
    <message>
        <source>Remove all sheets from the merge list</source>
        <translation>Retirer toutes les feuilles de la liste de fusion</translation>
    </message>
    <message>
        <source>Move the focused sheet to the top</source>
        <translation>Placer la feuille active en haut</translation>
    </message>
    <message>
        <source>Move the focused sheet up</source>
        <translation>Monter la feuille active</translation>
    </message>
    <message>
        <source>Move the focused sheet down</source>
        <translation>Descendre la feuille active</translation>
    </message>
    <message>
        <source>Move the focused sheet to the bottom</source>
        <translation>Placer la feuille active en bas</translation>
    </message>
</context>
</TS>