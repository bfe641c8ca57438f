<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>MainWindow</name>
    <message>
        <source>Velloran Client Update</source>
        <translation>Velloran-Client-Aktualisierung</translation>
    </message>
    <message>
        <source>Details</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>Update to Velloran %1</source>
        <translation>Aktualisierung auf Velloran %1</translation>
    </message>
    <message>
        <source>Stable</source>
        <translation>Stabil</translation>
    </message>
    <message>
        <source>Beta</source>
        <translation>Beta</translation>
    </message>
    <message>
        <source>Alpha</source>
        <translation>Alpha</translation>
    </message>
    <message>
        <source>You are currently on &lt;strong&gt;%1 channel&lt;/strong&gt;.</source>
        <translation>Sie sind derzeit auf dem &lt;strong&gt;Kanal %1&lt;/strong&gt;.</translation>
    </message>
    <message>
        <source>Step one: Updating updater</source>
        <translation>Schritt eins: Aktualisierung des Updaters</translation>
    </message>
    <message>
        <source>Step two: Updating Velloran client</source>
        <translation>Schritt zwei: Aktualisierung des Velloran-Clients</translation>
    </message>
    <message>
        <source>Update cancelled</source>
        <translation>Aktualisierung abgebrochen</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisierung</translation>
    </message>
    <message>
        <source>Update cancelled. Push &quot;Details&quot; to check reasons.</source>
        <translation>Aktualisierung abgebrochen. Klicken Sie auf „Details“, um die Gründe zu sehen.</translation>
    </message>
    <message>
        <source>Question</source>
        <translation>Frage</translation>
    </message>
    <message>
        <source>&lt;p&gt;Update in progress.&lt;/p&gt;&lt;p&gt;Are you sure you want to abort?&lt;/p&gt;</source>
        <translation>&lt;p&gt;Die Aktualisierung läuft.&lt;/p&gt;&lt;p&gt;Möchten Sie sie wirklich abbrechen?&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Confirm reboot</source>
        <translation>Neustart bestätigen</translation>
    </message>
    <message>
        <source>&lt;p&gt;A computer restart is required to proceed with the client update. If you do not reboot now, the Velloran update will be cancelled.&lt;/p&gt;&lt;p&gt;Do you want to reboot now?&lt;/p&gt;</source>
        <translation>&lt;p&gt;Um die Aktualisierung des Clients fortzusetzen, muss der Computer neu gestartet werden. Wenn Sie jetzt nicht neu starten, wird die Velloran-Aktualisierung abgebrochen.&lt;/p&gt;&lt;p&gt;Möchten Sie jetzt neu starten?&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Copyright © 2026 Velloran.</source>
        <translation>Copyright © 2026 Velloran.</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Invalid version nr (%1)</source>
        <translation>Ungültige Versionsnummer (%1)</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Failed to query latest client
version from update server.</source>
        <translation>Die neueste Client-Version konnte nicht
vom Aktualisierungsserver abgefragt werden.</translation>
    </message>
    <message>
        <source>Update server returned no version</source>
        <translation>Der Aktualisierungsserver hat keine Version geliefert</translation>
    </message>
    <message>
        <source>Update server returned invalid version nr (%1)</source>
        <translation>Der Aktualisierungsserver hat eine ungültige Versionsnummer geliefert (%1)</translation>
    </message>
    <message>
        <source>Downloading %1</source>
        <translation>Lade %1 herunter</translation>
    </message>
    <message>
        <source>Unable to create file %1 for saving</source>
        <translation>Die Datei %1 kann nicht zum Speichern angelegt werden</translation>
    </message>
    <message>
        <source>Download failed to initialize</source>
        <translation>Der Download konnte nicht gestartet werden</translation>
    </message>
    <message>
        <source>%1 returned %2</source>
        <translation>%1 lieferte %2</translation>
    </message>
    <message>
        <source>Error writing to file %1. Should write %2 bytes but wrote %3 bytes</source>
        <translation>Fehler beim Schreiben in die Datei %1. Zu schreiben waren %2 Bytes, geschrieben wurden %3 Bytes</translation>
    </message>
    <message>
        <source>Downloading %1 finished</source>
        <translation>Download von %1 abgeschlossen</translation>
    </message>
    <message>
        <source>Unable to download %1</source>
        <translation>%1 kann nicht heruntergeladen werden</translation>
    </message>
    <message>
        <source>file %1 timed out</source>
        <translation>Zeitüberschreitung bei Datei %1</translation>
    </message>
    <message>
        <source>Abort downloading %1</source>
        <translation>Download von %1 wird abgebrochen</translation>
    </message>
    <message>
        <source>warning: rollback rename %1 to %2 failed</source>
        <translation>Warnung: Rückgängigmachen der Umbenennung von %1 in %2 fehlgeschlagen</translation>
    </message>
    <message>
        <source>warning: rollback create file %1 failed</source>
        <translation>Warnung: Rückgängigmachen der Dateierstellung %1 fehlgeschlagen</translation>
    </message>
    <message>
        <source>warning: rollback create dir %1 failed</source>
        <translation>Warnung: Rückgängigmachen der Verzeichniserstellung %1 fehlgeschlagen</translation>
    </message>
    <message>
        <source>Signature check failed for %1</source>
        <translation>Signaturprüfung für %1 fehlgeschlagen</translation>
    </message>
    <message>
        <source>Could not open file %1 for reading</source>
        <translation>Die Datei %1 kann nicht zum Lesen geöffnet werden</translation>
    </message>
    <message>
        <source>could not read file %1 correctly</source>
        <translation>Die Datei %1 konnte nicht korrekt gelesen werden</translation>
    </message>
    <message>
        <source>RSA check failed, could not read %1</source>
        <translation>RSA-Prüfung fehlgeschlagen, %1 konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>RSA check: %1</source>
        <translation>RSA-Prüfung: %1</translation>
    </message>
    <message>
        <source>RSA check failed, caught exception: %1</source>
        <translation>RSA-Prüfung fehlgeschlagen, Ausnahme: %1</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is an invalid proxy specification</source>
        <translation>„%1“ ist keine gültige Proxy-Angabe</translation>
    </message>
    <message>
        <source>Previous update session for v. %1 found</source>
        <translation>Frühere Aktualisierungssitzung für Version %1 gefunden</translation>
    </message>
    <message>
        <source>Failed to write update.ini. The updater does not seem to have the required write permissions.</source>
        <translation>update.ini konnte nicht geschrieben werden. Dem Updater fehlen anscheinend die nötigen Schreibrechte.</translation>
    </message>
    <message>
        <source>Cleanup previous session (v. %1, %2) files...</source>
        <translation>Dateien der früheren Sitzung (Version %1, %2) werden entfernt …</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Failed to remove directory</source>
        <translation>Verzeichnis konnte nicht entfernt werden</translation>
    </message>
    <message>
        <source>This build of the updater cannot run updates.</source>
        <translation>Diese Ausgabe des Updaters kann keine Aktualisierungen ausführen.</translation>
    </message>
    <message>
        <source>Update successfully finished</source>
        <translation>Aktualisierung erfolgreich abgeschlossen</translation>
    </message>
    <message>
        <source>User aborted update</source>
        <translation>Aktualisierung durch den Benutzer abgebrochen</translation>
    </message>
    <message>
        <source>Remove temporary files...</source>
        <translation>Temporäre Dateien werden entfernt …</translation>
    </message>
    <message>
        <source>Temporary files removed.</source>
        <translation>Temporäre Dateien entfernt.</translation>
    </message>
    <message>
        <source>Removed temporary update.ini</source>
        <translation>Temporäre update.ini entfernt</translation>
    </message>
</context>
</TS>
