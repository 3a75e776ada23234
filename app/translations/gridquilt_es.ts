<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es">
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

Abre la ventana de Gridquilt, que combina hojas de cálculo de muchos libros en un libro nuevo.
Los libros y carpetas indicados se toman como si se soltaran; si ya hay una ventana de
Gridquilt abierta, se le entregan a ella.

Opciones:
  -h, --help     Mostrar esta ayuda.
      --version  Mostrar la versión.
Las opciones de Qt, como -platform NOMBRE y -style NOMBRE, funcionan como en cualquier programa Qt.

La misma combinación desde un shell: gridquilt-merge --help.
</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>Merge Completed!</source>
        <translation>¡Combinación completada!</translation>
    </message>
    <message>
        <source>No File need to merge!</source>
        <translation>¡No hay ningún archivo que combinar!</translation>
    </message>
    <message>
        <source>You must intall MS Excel first!</source>
        <translation>¡Primero instale MS Excel!</translation>
    </message>
    <message>
        <source>Are you sure to delete the file from disk?</source>
        <translation>¿Seguro que desea eliminar el archivo del disco?</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Advertencia</translation>
    </message>
    <message>
        <source>One sheet was not merged:</source>
        <translation>Una hoja no se combinó:</translation>
    </message>
    <message>
        <source>One sheet was merged with changes:</source>
        <translation>Una hoja se combinó con cambios:</translation>
    </message>
    <message>
        <source>%1 sheets were not merged:</source>
        <translation>Hojas no combinadas: %1</translation>
    </message>
    <message>
        <source>%1 sheets were merged with changes:</source>
        <translation>Hojas combinadas con cambios: %1</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders? The sheets listed so far stay in the list.</source>
        <translation>¿Dejar de añadir los archivos y carpetas soltados? Las hojas listadas hasta ahora permanecen en la lista.</translation>
    </message>
    <message>
        <source>Stop the merge? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>¿Detener la combinación? No se guardará nada, y un archivo existente con ese nombre queda como estaba.</translation>
    </message>
    <message>
        <source>Stop adding the dropped files and folders and close the window? The lists are not kept.</source>
        <translation>¿Dejar de añadir los archivos y carpetas soltados y cerrar la ventana? Las listas no se conservan.</translation>
    </message>
    <message>
        <source>Stop the merge and close the window? Nothing will be saved, and an existing file of that name stays as it was.</source>
        <translation>¿Detener la combinación y cerrar la ventana? No se guardará nada, y un archivo existente con ese nombre queda como estaba.</translation>
    </message>
</context>
<context>
    <name>gq::app::SheetList</name>
    <message>
        <source>Sheet Name</source>
        <translation>Nombre de la hoja</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>Nombre del archivo</translation>
    </message>
</context>
<context>
    <name>gq::app::TFMAbout</name>
    <message>
        <source>About Gridquilt</source>
        <translation>Acerca de Gridquilt</translation>
    </message>
    <message>
        <source>Web: </source>
        <translation>Web: </translation>
    </message>
    <message>
        <source>Email: </source>
        <translation>Correo: </translation>
    </message>
</context>
<context>
    <name>gq::app::TWaitForm</name>
    <message>
        <source>This will take a few minutes.Please be patient...</source>
        <translation>Esto tardará unos minutos. Tenga paciencia...</translation>
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
        <translation>Haga clic aquí para combinar</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Acerca de</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Ayuda</translation>
    </message>
    <message>
        <source>↑ Drop Excel Files or Folders Here  ↑</source>
        <translation>↑ Suelte aquí archivos de Excel o carpetas  ↑</translation>
    </message>
    <message>
        <source>Merge into Multi-Sheet</source>
        <translation>Varias hojas</translation>
    </message>
    <message>
        <source>Merge into Single Sheet</source>
        <translation>Una sola hoja</translation>
    </message>
    <message>
        <source>Add all sheets to the merge list</source>
        <translation>Añadir todas las hojas a la lista de combinación</translation>
    </message>
    <message>
        <source>Add the selected sheets to the merge list</source>
        <translation>Añadir las hojas seleccionadas a la lista de combinación</translation>
    </message>
    <message>
        <source>Remove the selected sheets from the merge list</source>
        <translation>Quitar las hojas seleccionadas de la lista de combinación</translation>
    </message>
    <message>
        <source>Remove all sheets from the merge list</source>
        <translation>Quitar todas las hojas de la lista de combinación</translation>
    </message>
    <message>
        <source>Move the focused sheet to the top</source>
        <translation>Mover la hoja con el foco al principio</translation>
    </message>
    <message>
        <source>Move the focused sheet up</source>
        <translation>Subir la hoja con el foco</translation>
    </message>
    <message>
        <source>Move the focused sheet down</source>
        <translation>Bajar la hoja con el foco</translation>
    </message>
    <message>
        <source>Move the focused sheet to the bottom</source>
        <translation>Mover la hoja con el foco al final</translation>
    </message>
</context>
</TS>