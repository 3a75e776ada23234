<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pt_BR">
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

Abre a janela do Gridquilt, que mescla planilhas de muitas pastas de trabalho em uma nova
pasta de trabalho. As pastas de trabalho e pastas indicadas são recebidas como se fossem
soltas; se uma janela do Gridquilt já estiver aberta, são entregues a ela.

Opções:
  -h, --help     Mostrar esta ajuda.
      --version  Mostrar a versão.
Opções do Qt como -platform NOME e -style NOME funcionam como em qualquer programa Qt.

A mesma mesclagem no shell: gridquilt-merge --help.
</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>Merge Completed!</source>
        <translation>Mesclagem concluída!</translation>
    </message>
    <message>
        <source>No File need to merge!</source>
        <translation>Nenhum arquivo para mesclar!</translation>
    </message>
    <message>
        <source>You must intall MS Excel first!</source>
        <translation>Instale o MS Excel primeiro!</translation>
    </message>
    <message>
        <source>Are you sure to delete the file from disk?</source>
        <translation>Tem certeza de que deseja excluir o arquivo do disco?</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Aviso</translation>
    </message>
    <message>
        <source>One sheet was not merged:</source>
        <translation>Uma planilha não foi mesclada:</translation>
    </message>
    <message>
        <source>One sheet was merged with changes:</source>
        <translation>Uma planilha foi mesclada com alterações:</translation>
    </message>
    <message>
        <source>%1 sheets were not merged:</source>
        <translation>Planilhas não mescladas: %1</translation>
    </message>
    <message>
        <source>%1 sheets were merged with changes:</source>
        <translation>Planilhas mescladas com alterações: %1</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders? The sheets listed so far stay in the list.</source>
        <translation>Parar de adicionar os arquivos e pastas soltos? As planilhas listadas até agora continuam na lista.</translation>
    </message>
    <message>
        <source>Stop the merge? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>Parar a mesclagem? Nada será salvo, e um arquivo existente com esse nome fica como estava.</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders and close the window? The lists are not kept.</source>
        <translation>Parar de adicionar os arquivos e pastas soltos e fechar a janela? As listas não são mantidas.</translation>
    </message>
    <message>
        <source>Stop the merge and close the window? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>Parar a mesclagem e fechar a janela? Nada será salvo, e um arquivo existente com esse nome fica como estava.</translation>
    </message>
</context>
<context>
    <name>gq::app::SheetList</name>
    <message>
        <source>Sheet Name</source>
        <translation>Nome da planilha</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>Nome do arquivo</translation>
    </message>
</context>
<context>
    <name>gq::app::TFMAbout</name>
    <message>
        <source>About Gridquilt</source>
        <translation>Sobre o Gridquilt</translation>
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
        <translation>Isto levará alguns minutos. Por favor, aguarde...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
</context>
<context>
    <name>gq::app::TfmMain</name>
    <message>
        <source>Click here to merge</source>
        <translation>Clique aqui para mesclar</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Sobre</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Ajuda</translation>
    </message>
    <message>
        <source>↑ Drop Excel Files or Folders Here  ↑</source>
        <translation>↑ Solte aqui arquivos do Excel ou pastas  ↑</translation>
    </message>
    <message>
        <source>Merge into Multi-Sheet</source>
        <translation>Várias planilhas</translation>
    </message>
    <message>
        <source>Merge into Single Sheet</source>
        <translation>Uma só planilha</translation>
    </message>
    <message>
        <source>Add all sheets to the merge list</source>
        <translation>Adicionar todas as planilhas à lista de mesclagem</translation>
    </message>
    <message>
        <source>Add the selected sheets to the merge list</source>
        <translation>Adicionar as planilhas selecionadas à lista de mesclagem</translation>
    </message>
    <message>
        <source>Remove the selected sheets from the merge list</source>
        <translation>Remover as planilhas selecionadas da lista de mesclagem</translation>
    </message>
    <message>
        <source>Remove all sheets from the merge list</source>
        <translation>Remover todas as planilhas da lista de mesclagem</translation>
    </message>
    <message>
        <source>Move the focused sheet to the top</source>
        <translation>Mover a planilha em foco para o topo</translation>
    </message>
    <message>
        <source>Move the focused sheet up</source>
        <translation>Mover a planilha em foco para cima</translation>
    </message>
    <message>
        <source>Move the focused sheet down</source>
        <translation>Mover a planilha em foco para baixo</translation>
    </message>
    <message>
        <source>Move the focused sheet to the bottom</source>
        <translation>Mover a planilha em foco para o fim</translation>
    </message>
</context>
</TS>