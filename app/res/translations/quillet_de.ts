<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CAboutDialog</name>
    <message>
        <source>About Quillet</source>
        <translation>Über Quillet</translation>
    </message>
    <message>
        <source>Quillet version</source>
        <translation>Quillet Version</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Quillet version %1</source>
        <translation>Quillet Version %1</translation>
    </message>
</context>
<context>
    <name>CFolderBrowser</name>
    <message>
        <source>The folder:

%1

does not exist.</source>
        <translation>Der Ordner:

%1

existiert nicht.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Folder:</source>
        <translation>Ordner:</translation>
    </message>
</context>
<context>
    <name>CMainDialog</name>
    <message>
        <source>Quillet</source>
        <translation>Quillet</translation>
    </message>
    <message>
        <source>Source Dir</source>
        <translation>Quellordner</translation>
    </message>
    <message>
        <source>Search in Sub-directories</source>
        <translation>Unterordner durchsuchen</translation>
    </message>
    <message>
        <source>All picture types</source>
        <translation>Alle Bildtypen</translation>
    </message>
    <message>
        <source>Thumbnail every picture type Quillet reads, not only .jpg files</source>
        <translation>Von jedem Bildtyp, den Quillet liest, ein Miniaturbild machen, nicht nur von .jpg-Dateien</translation>
    </message>
    <message>
        <source>Files:</source>
        <translation>Dateien:</translation>
    </message>
    <message>
        <source>Choose the source folder</source>
        <translation>Den Quellordner wählen</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt;</source>
        <translation>&gt;&gt;&gt;</translation>
    </message>
    <message>
        <source>Destination Dir</source>
        <translation>Zielordner</translation>
    </message>
    <message>
        <source>Choose the destination folder</source>
        <translation>Den Zielordner wählen</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>&amp;About...</source>
        <translation>Ü&amp;ber...</translation>
    </message>
    <message>
        <source>The program&apos;s name, version and maker</source>
        <translation>Name, Version und Hersteller des Programms</translation>
    </message>
    <message>
        <source>Desired Size</source>
        <translation>Gewünschte Größe</translation>
    </message>
    <message>
        <source>x</source>
        <translation>x</translation>
    </message>
    <message>
        <source>Method</source>
        <translation>Verfahren</translation>
    </message>
    <message>
        <source>Bi-linear</source>
        <translation>Bilinear</translation>
    </message>
    <message>
        <source>Bi-Cubic</source>
        <translation>Bikubisch</translation>
    </message>
    <message>
        <source>Rules:</source>
        <translation>Regeln:</translation>
    </message>
    <message>
        <source>Perfect Fit - crop if necessary</source>
        <translation>Genau passend - wenn nötig beschneiden</translation>
    </message>
    <message>
        <source>Fit outside - allow one side Bigger than desired</source>
        <translation>Außen einpassen - eine Seite darf größer werden</translation>
    </message>
    <message>
        <source>Fit inside - resize down if necessary</source>
        <translation>Innen einpassen - wenn nötig verkleinern</translation>
    </message>
    <message>
        <source>Not used while every picture is fitted inside W &amp; H</source>
        <translation>Unbenutzt, solange jedes Bild in B &amp; H eingepasst wird</translation>
    </message>
    <message>
        <source>The portrait rule &quot;Fit inside W &amp;&amp; H regardless other rules&quot; decides the size of every picture; choose another one to use these rules</source>
        <translation>Die Hochformat-Regel „In B &amp;&amp; H einpassen, andere Regeln egal“ bestimmt die Größe jedes Bildes; wählen Sie eine andere, um diese Regeln zu nutzen</translation>
    </message>
    <message>
        <source>JPG Quality:</source>
        <translation>JPG-Qualität:</translation>
    </message>
    <message>
        <source>Enhanced Sampling</source>
        <translation>Verbesserte Abtastung</translation>
    </message>
    <message>
        <source>Copy EXIF</source>
        <translation>EXIF kopieren</translation>
    </message>
    <message>
        <source>START</source>
        <translation>START</translation>
    </message>
    <message>
        <source>Portrait Images</source>
        <translation>Hochformatbilder</translation>
    </message>
    <message>
        <source>Reverse W &amp;&amp; H, and apply above rules</source>
        <translation>B &amp;&amp; H tauschen und obige Regeln anwenden</translation>
    </message>
    <message>
        <source>Fit inside W &amp;&amp; H regardless other rules</source>
        <translation>In B &amp;&amp; H einpassen, andere Regeln egal</translation>
    </message>
    <message>
        <source>Create Landscape (Crop)</source>
        <translation>Querformat erzeugen (beschneiden)</translation>
    </message>
    <message>
        <source>Don&apos;t care, just use rules</source>
        <translation>Egal, nur die Regeln anwenden</translation>
    </message>
    <message>
        <source>Height Crop Position:</source>
        <translation>Beschnittposition der Höhe:</translation>
    </message>
    <message>
        <source>%</source>
        <translation>%</translation>
    </message>
    <message>
        <source>Processing</source>
        <translation>Verarbeitung</translation>
    </message>
    <message>
        <source>Sharpen</source>
        <translation>Schärfen</translation>
    </message>
    <message>
        <source>Auto Brightness</source>
        <translation>Automatische Helligkeit</translation>
    </message>
    <message>
        <source>Boost Color</source>
        <translation>Farben verstärken</translation>
    </message>
    <message>
        <source>More options</source>
        <translation>Weitere Optionen</translation>
    </message>
    <message>
        <source>Rotate by orientation tag</source>
        <translation>Nach Ausrichtungsangabe drehen</translation>
    </message>
    <message>
        <source>Turn each photograph upright as its camera recorded it</source>
        <translation>Jedes Foto so aufrichten, wie die Kamera es vermerkt hat</translation>
    </message>
    <message>
        <source>Remove location</source>
        <translation>Ort entfernen</translation>
    </message>
    <message>
        <source>Leave the GPS position out of the EXIF block that &quot;Copy EXIF&quot; carries</source>
        <translation>Die GPS-Position aus dem EXIF-Block weglassen, den „EXIF kopieren“ mitnimmt</translation>
    </message>
    <message>
        <source>Fast decoding</source>
        <translation>Schnelles Dekodieren</translation>
    </message>
    <message>
        <source>Every picture is now reduced while it is read; kept for settings saved before</source>
        <translation>Jedes Bild wird jetzt schon beim Lesen verkleinert; bleibt für früher gespeicherte Einstellungen</translation>
    </message>
    <message>
        <source>Exact resampling</source>
        <translation>Exaktes Umrechnen</translation>
    </message>
    <message>
        <source>Load each picture whole and resample it from its full size, as earlier versions did: more memory, and fine patterns may alias</source>
        <translation>Jedes Bild ganz laden und aus voller Größe umrechnen, wie frühere Versionen: mehr Speicher, und feine Muster können flimmern</translation>
    </message>
    <message>
        <source>Only new photos</source>
        <translation>Nur neue Fotos</translation>
    </message>
    <message>
        <source>Leave out photographs whose thumbnail was made from them as they are, with these settings</source>
        <translation>Fotos auslassen, deren Miniaturbild aus ihnen in diesem Zustand mit diesen Einstellungen gemacht wurde</translation>
    </message>
    <message>
        <source>Keep folder structure</source>
        <translation>Ordnerstruktur beibehalten</translation>
    </message>
    <message>
        <source>Make each sub-folder&apos;s thumbnails in a sub-folder of the same name in the destination</source>
        <translation>Die Miniaturbilder jedes Unterordners in einem gleichnamigen Unterordner des Ziels anlegen</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>Format</translation>
    </message>
    <message>
        <source>The thumbnails&apos; file format; WebP and AVIF thumbnails take their format&apos;s extension, and the quality above is theirs</source>
        <translation>Das Dateiformat der Miniaturbilder; WebP- und AVIF-Miniaturbilder tragen die Endung ihres Formats, und die Qualität oben gilt für sie</translation>
    </message>
    <message>
        <source>JPEG</source>
        <translation>JPEG</translation>
    </message>
    <message>
        <source>WebP</source>
        <translation>WebP</translation>
    </message>
    <message>
        <source>AVIF</source>
        <translation>AVIF</translation>
    </message>
    <message>
        <source>Get more cool tools from</source>
        <translation>Weitere nützliche Werkzeuge von</translation>
    </message>
    <message>
        <source>www.brackenfold.example</source>
        <translation>www.brackenfold.example</translation>
    </message>
    <message>
        <source>Select Source</source>
        <translation>Quelle wählen</translation>
    </message>
    <message>
        <source>Select Destination</source>
        <translation>Ziel wählen</translation>
    </message>
    <message>
        <source>: the folder holds %1. Tick &quot;All picture types&quot; to take them.</source>
        <translation>: Der Ordner enthält %1. Kreuzen Sie „Alle Bildtypen“ an, um sie zu nehmen.</translation>
    </message>
    <message>
        <source>WebP Quality:</source>
        <translation>WebP-Qualität:</translation>
    </message>
    <message>
        <source>AVIF Quality:</source>
        <translation>AVIF-Qualität:</translation>
    </message>
</context>
<context>
    <name>CProgressDialog</name>
    <message>
        <source>Processing</source>
        <translation>Verarbeitung</translation>
    </message>
    <message>
        <source> 0 %</source>
        <translation> 0 %</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>Quillet</name>
    <message>
        <source>No files to process</source>
        <translation>Keine Dateien zu verarbeiten</translation>
    </message>
    <message>
        <source>Destination path is the same as source.</source>
        <translation>Der Zielordner ist derselbe wie die Quelle.</translation>
    </message>
    <message>
        <source>Please choose a destination folder.</source>
        <translation>Bitte wählen Sie einen Zielordner.</translation>
    </message>
    <message>
        <source>Please enter a thumbnail size of at least 1 x 1.</source>
        <translation>Bitte geben Sie eine Miniaturbildgröße von mindestens 1 x 1 ein.</translation>
    </message>
    <message>
        <source>Please enter a thumbnail size of at most 65500 x 65500: a JPEG file cannot be larger.</source>
        <translation>Bitte geben Sie eine Miniaturbildgröße von höchstens 65500 x 65500 ein: Eine JPEG-Datei kann nicht größer sein.</translation>
    </message>
    <message>
        <source>&amp;About Quillet...</source>
        <translation>Ü&amp;ber Quillet...</translation>
    </message>
    <message>
        <source>Processing</source>
        <translation>Verarbeitung</translation>
    </message>
    <message>
        <source>Cancelling…</source>
        <translation>Wird abgebrochen…</translation>
    </message>
    <message>
        <source>Please enter a positive integer.</source>
        <translation>Bitte geben Sie eine positive ganze Zahl ein.</translation>
    </message>
    <message>
        <source>The folder:

%1

does not exist. Do you want the folder to be created?</source>
        <translation>Der Ordner:

%1

existiert nicht. Soll der Ordner angelegt werden?</translation>
    </message>
    <message>
        <source>The folder:

%1

is invalid. Please reenter.</source>
        <translation>Der Ordner:

%1

ist ungültig. Bitte neu eingeben.</translation>
    </message>
    <message>
        <source>The folder:

%1

can not be created. Please double check.</source>
        <translation>Der Ordner:

%1

kann nicht angelegt werden. Bitte prüfen Sie ihn.</translation>
    </message>
    <message>
        <source>Thumbnails can not be written to the destination folder:

%1

%2.</source>
        <translation>In den Zielordner können keine Miniaturbilder geschrieben werden:

%1

%2.</translation>
    </message>
    <message>
        <source>No web browser could be started to open %1</source>
        <translation>Kein Webbrowser konnte gestartet werden, um %1 zu öffnen</translation>
    </message>
    <message>
        <source>%1 of %2: %3</source>
        <translation>%1 von %2: %3</translation>
    </message>
</context>
<context>
    <name>RunReport</name>
    <message>
        <source>The destination folder is gone or can no longer be written to; the run was stopped.</source>
        <translation>Der Zielordner ist verschwunden oder nicht mehr beschreibbar; der Lauf wurde angehalten.</translation>
    </message>
    <message>
        <source>its data ended early; the thumbnail is partly filled in</source>
        <translation>Die Daten enden vorzeitig; das Miniaturbild ist nur teilweise gefüllt</translation>
    </message>
    <message numerus="yes">
        <source>Cancelled after %1 of %n file(s)</source>
        <translation>
            <numerusform>Abgebrochen nach %1 von %n Datei</numerusform>
            <numerusform>Abgebrochen nach %1 von %n Dateien</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n thumbnail(s) written</source>
        <translation>
            <numerusform>%n Miniaturbild geschrieben</numerusform>
            <numerusform>%n Miniaturbilder geschrieben</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>, %n from incomplete sources</source>
        <translation>
            <numerusform>, %n aus unvollständigen Quellen</numerusform>
            <numerusform>, %n aus unvollständigen Quellen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>, %n up to date</source>
        <translation>
            <numerusform>, %n aktuell</numerusform>
            <numerusform>, %n aktuell</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>, %n kept (a file Quillet did not make was in the way)</source>
        <translation>
            <numerusform>, %n behalten (eine nicht von Quillet stammende Datei war im Weg)</numerusform>
            <numerusform>, %n behalten (eine nicht von Quillet stammende Datei war im Weg)</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>, %n skipped</source>
        <translation>
            <numerusform>, %n übersprungen</numerusform>
            <numerusform>, %n übersprungen</numerusform>
        </translation>
    </message>
    <message>
        <source>Time taken: %1</source>
        <translation>Dauer: %1</translation>
    </message>
    <message>
        <source>1 picture of another type (%1)</source>
        <translation>1 Bild eines anderen Typs (%1)</translation>
    </message>
    <message>
        <source>%n pictures of other types (%1)</source>
        <translation>%n Bilder anderer Typen (%1)</translation>
    </message>
</context>
<context>
    <name>RunSummary</name>
    <message>
        <source>Open folder</source>
        <translation>Ordner öffnen</translation>
    </message>
</context>
</TS>
