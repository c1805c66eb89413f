<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Appcast</name>
    <message>
        <source>The update feed contains a document type declaration, which is not accepted.</source>
        <translation>Die Update-Liste enthält eine Dokumenttyp-Deklaration; das wird nicht angenommen.</translation>
    </message>
    <message>
        <source>The update feed is not an RSS feed.</source>
        <translation>Die Update-Liste ist kein RSS-Feed.</translation>
    </message>
    <message>
        <source>The update feed is nested too deeply.</source>
        <translation>Die Update-Liste ist zu tief verschachtelt.</translation>
    </message>
    <message>
        <source>The update feed lists too many releases.</source>
        <translation>Die Update-Liste nennt zu viele Versionen.</translation>
    </message>
    <message>
        <source>The update feed is not valid XML (line %1: %2).</source>
        <translation>Die Update-Liste ist kein gültiges XML (Zeile %1: %2).</translation>
    </message>
    <message>
        <source>The update feed is empty.</source>
        <translation>Die Update-Liste ist leer.</translation>
    </message>
    <message>
        <source>The update feed holds a field that is too long.</source>
        <translation>Die Update-Liste enthält ein zu langes Feld.</translation>
    </message>
</context>
<context>
    <name>InstanceRequests</name>
    <message>
        <source>Opened the settings window.</source>
        <translation>Das Einstellungsfenster ist geöffnet.</translation>
    </message>
    <message>
        <source>Quitting.</source>
        <translation>Wird beendet.</translation>
    </message>
    <message>
        <source>Dimming is off.</source>
        <translation>Abdunkeln ist aus.</translation>
    </message>
    <message>
        <source>Dimming is on.</source>
        <translation>Abdunkeln ist an.</translation>
    </message>
    <message>
        <source>Dimming is on; it starts once a window manager reports the active window.</source>
        <translation>Abdunkeln ist an; es beginnt, sobald ein Fenstermanager das aktive Fenster meldet.</translation>
    </message>
    <message>
        <source>Sombrix on display %1: %2</source>
        <translation>Sombrix auf Display %1: %2</translation>
    </message>
    <message>
        <source>the Sombrix on display %1 did not quit within %2 seconds.</source>
        <translation>Sombrix auf Display %1 hat sich nicht innerhalb von %2 Sekunden beendet.</translation>
    </message>
</context>
<context>
    <name>StatusMenu</name>
    <message>
        <source>Sombrix — no window manager reports the active window</source>
        <translation>Sombrix – kein Fenstermanager meldet das aktive Fenster</translation>
    </message>
    <message>
        <source>Sombrix</source>
        <translation>Sombrix</translation>
    </message>
    <message>
        <source>Window Manager Needed…</source>
        <translation>Fenstermanager benötigt…</translation>
    </message>
    <message>
        <source>Dim Background Windows</source>
        <translation>Hintergrundfenster abdunkeln</translation>
    </message>
    <message>
        <source>Settings…</source>
        <translation>Einstellungen…</translation>
    </message>
    <message>
        <source>Quit Sombrix</source>
        <translation>Sombrix beenden</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Sombrix is not running on display %1; nothing to quit.</source>
        <translation>Sombrix läuft nicht auf Display %1; nichts zu beenden.</translation>
    </message>
</context>
<context>
    <name>sombrix::AppcastUpdater</name>
    <message>
        <source>%1 MiB</source>
        <translation>%1 MiB</translation>
    </message>
    <message>
        <source>%1 KiB</source>
        <translation>%1 KiB</translation>
    </message>
    <message>
        <source>The update server did not answer within %1 seconds.</source>
        <translation>Der Update-Server hat nicht innerhalb von %1 Sekunden geantwortet.</translation>
    </message>
    <message>
        <source>The update feed address is not a secure (https) address.</source>
        <translation>Die Adresse der Update-Liste ist keine sichere (https-)Adresse.</translation>
    </message>
    <message>
        <source>The update feed is larger than %1.</source>
        <translation>Die Update-Liste ist größer als %1.</translation>
    </message>
    <message>
        <source>The update server redirected to an address that is not secure.</source>
        <translation>Der Update-Server hat auf eine unsichere Adresse umgeleitet.</translation>
    </message>
    <message>
        <source>The update server answered with HTTP status %1.</source>
        <translation>Der Update-Server hat mit HTTP-Status %1 geantwortet.</translation>
    </message>
    <message>
        <source>The update server could not be reached: %1.</source>
        <translation>Der Update-Server ist nicht erreichbar: %1.</translation>
    </message>
    <message>
        <source>The update feed lists no version.</source>
        <translation>Die Update-Liste nennt keine Version.</translation>
    </message>
    <message>
        <source>The update feed offers version %1 without a secure (https) download address.</source>
        <translation>Die Update-Liste bietet Version %1 ohne sichere (https-)Download-Adresse an.</translation>
    </message>
</context>
<context>
    <name>sombrix::ExceptionsSection</name>
    <message>
        <source>Windows of these classes are never dimmed:</source>
        <translation>Fenster dieser Klassen werden nie abgedunkelt:</translation>
    </message>
    <message>
        <source>Class, e.g. mpv</source>
        <translation>Klasse, z. B. mpv</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Hinzufügen</translation>
    </message>
    <message>
        <source>Open Windows</source>
        <translation>Offene Fenster</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>No other windows open</source>
        <translation>Keine weiteren Fenster offen</translation>
    </message>
    <message>
        <source>Dim this display</source>
        <translation>Diesen Bildschirm abdunkeln</translation>
    </message>
</context>
<context>
    <name>sombrix::SettingsModel</name>
    <message>
        <source>Version %1 (%2)</source>
        <translation>Version %1 (%2)</translation>
    </message>
</context>
<context>
    <name>sombrix::SettingsView</name>
    <message>
        <source>Fade when switching on or off</source>
        <translation>Beim Ein- und Ausschalten überblenden</translation>
    </message>
    <message>
        <source>Fading needs a compositor; without one the dim switches at once.</source>
        <translation>Überblenden braucht einen Compositor; ohne ihn schaltet die Abdunklung sofort.</translation>
    </message>
    <message>
        <source>Exceptions</source>
        <translation>Ausnahmen</translation>
    </message>
    <message>
        <source>Never</source>
        <translation>Nie</translation>
    </message>
    <message>
        <source>Dimming</source>
        <translation>Abdunkeln</translation>
    </message>
    <message>
        <source>Dim background windows</source>
        <translation>Hintergrundfenster abdunkeln</translation>
    </message>
    <message>
        <source>Black</source>
        <translation>Schwarz</translation>
    </message>
    <message>
        <source>Wallpaper</source>
        <translation>Hintergrundbild</translation>
    </message>
    <message>
        <source>Background</source>
        <translation>Hintergrund</translation>
    </message>
    <message>
        <source>Dim strength</source>
        <translation>Stärke</translation>
    </message>
    <message>
        <source>Requirements</source>
        <translation>Voraussetzungen</translation>
    </message>
    <message>
        <source>Wallpaper picture</source>
        <translation>Hintergrundbild</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>Bereit</translation>
    </message>
    <message>
        <source>Wallpaper picture needed</source>
        <translation>Hintergrundbild benötigt</translation>
    </message>
    <message>
        <source>Help…</source>
        <translation>Hilfe…</translation>
    </message>
    <message>
        <source>Restart Sombrix</source>
        <translation>Sombrix neu starten</translation>
    </message>
    <message>
        <source>Window manager</source>
        <translation>Fenstermanager</translation>
    </message>
    <message>
        <source>Window manager needed</source>
        <translation>Fenstermanager benötigt</translation>
    </message>
    <message>
        <source>Sombrix needs a window manager that reports the active window. It starts dimming as soon as one runs.</source>
        <translation>Sombrix braucht einen Fenstermanager, der das aktive Fenster meldet. Das Abdunkeln beginnt, sobald einer läuft.</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Launch at login</source>
        <translation>Bei der Anmeldung starten</translation>
    </message>
    <message>
        <source>Updates</source>
        <translation>Updates</translation>
    </message>
    <message>
        <source>Automatically check for updates</source>
        <translation>Automatisch nach Updates suchen</translation>
    </message>
    <message>
        <source>Last checked</source>
        <translation>Zuletzt gesucht</translation>
    </message>
    <message>
        <source>Check for Updates…</source>
        <translation>Nach Updates suchen…</translation>
    </message>
    <message>
        <source>This build does not check for updates.</source>
        <translation>Dieser Build sucht nicht nach Updates.</translation>
    </message>
    <message>
        <source>By %1</source>
        <translation>Von %1</translation>
    </message>
    <message>
        <source>The active window stays bright. On every other screen the topmost window stays bright. At 100% the background is fully black.</source>
        <translation>Das aktive Fenster bleibt hell. Auf jedem anderen Bildschirm bleibt das oberste Fenster hell. Bei 100 % ist der Hintergrund ganz schwarz.</translation>
    </message>
    <message>
        <source>Only the active window is shown, on top of your wallpaper. On every other screen the topmost window stays visible. Moving wallpapers show as a still picture.</source>
        <translation>Nur das aktive Fenster wird gezeigt, über Ihrem Hintergrundbild. Auf jedem anderen Bildschirm bleibt das oberste Fenster sichtbar. Bewegte Hintergründe erscheinen als Standbild.</translation>
    </message>
    <message>
        <source>Wallpaper mode needs a wallpaper picture (see Requirements). Until then Sombrix dims with black.</source>
        <translation>Der Hintergrundbild-Modus braucht ein Hintergrundbild (siehe Voraussetzungen). Bis dahin dunkelt Sombrix mit Schwarz ab.</translation>
    </message>
    <message>
        <source>No compositor is running, so the veil is opaque whatever the strength. Start one (picom, or your desktop&apos;s own) and the strength applies at once.</source>
        <translation>Es läuft kein Compositor, daher ist der Schleier bei jeder Stärke deckend. Starten Sie einen (picom oder den Ihrer Arbeitsumgebung), dann gilt die Stärke sofort.</translation>
    </message>
    <message>
        <source>Sombrix shows the picture your wallpaper setter publishes (feh, nitrogen, hsetroot) or your desktop draws. Set a wallpaper and Sombrix picks it up by itself.</source>
        <translation>Sombrix zeigt das Bild, das Ihr Hintergrundprogramm veröffentlicht (feh, nitrogen, hsetroot) oder Ihre Arbeitsumgebung zeichnet. Setzen Sie ein Hintergrundbild, Sombrix übernimmt es von selbst.</translation>
    </message>
</context>
<context>
    <name>sombrix::SettingsWindow</name>
    <message>
        <source>Sombrix Settings</source>
        <translation>Sombrix-Einstellungen</translation>
    </message>
</context>
<context>
    <name>sombrix::updater::UpdateWindow</name>
    <message>
        <source>Software Update</source>
        <translation>Softwareaktualisierung</translation>
    </message>
    <message>
        <source>Download…</source>
        <translation>Herunterladen…</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Checking for updates…</source>
        <translation>Suche nach Updates…</translation>
    </message>
    <message>
        <source>Sombrix is reading the list of releases.</source>
        <translation>Sombrix liest die Liste der Versionen.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>You’re up to date!</source>
        <translation>Sie sind auf dem neuesten Stand!</translation>
    </message>
    <message>
        <source>Sombrix %1 is currently the newest version available.</source>
        <translation>Sombrix %1 ist die neueste verfügbare Version.</translation>
    </message>
    <message>
        <source>A new version of Sombrix is available!</source>
        <translation>Eine neue Version von Sombrix ist verfügbar!</translation>
    </message>
    <message>
        <source>Sombrix %1 is now available—you have %2. Download it from the Sombrix web site and install it when you are ready.</source>
        <translation>Sombrix %1 ist verfügbar – Sie haben %2. Laden Sie es von der Sombrix-Website herunter und installieren Sie es, wann es Ihnen passt.</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Später</translation>
    </message>
    <message>
        <source>Update Error</source>
        <translation>Update-Fehler</translation>
    </message>
</context>
</TS>
