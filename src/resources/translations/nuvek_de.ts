<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AboutDialog</name>
    <message>
        <source>PRODUCT INFORMATION</source>
        <translation>PRODUKTINFORMATIONEN</translation>
    </message>
    <message>
        <source>CONTRIBUTIONS</source>
        <translation>BEITRÄGE</translation>
    </message>
    <message>
        <source>Copyright © %1</source>
        <translation>Copyright © %1</translation>
    </message>
    <message>
        <source>license</source>
        <translation>Lizenz</translation>
    </message>
    <message>
        <source>Open Source Software</source>
        <translation>Open-Source-Software</translation>
    </message>
</context>
<context>
    <name>BookmarkDialog</name>
    <message>
        <source>Bookmarks</source>
        <translation>Lesezeichen</translation>
    </message>
    <message>
        <source>History</source>
        <translation>Verlauf</translation>
    </message>
</context>
<context>
    <name>BookmarkModel</name>
    <message>
        <source>Single Application</source>
        <translation>Einzelne Anwendung</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Command</source>
        <translation>Befehl</translation>
    </message>
    <message>
        <source>Window Size</source>
        <translation>Fenstergröße</translation>
    </message>
</context>
<context>
    <name>Connection</name>
    <message>
        <source>No file name is known for the connection.</source>
        <translation>Für die Verbindung ist kein Dateiname bekannt.</translation>
    </message>
</context>
<context>
    <name>ConnectionEditor</name>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Host</source>
        <translation>Host</translation>
    </message>
    <message>
        <source>server.example.com</source>
        <translation>server.example.com</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>22</source>
        <translation>22</translation>
    </message>
    <message>
        <source>User</source>
        <translation>Benutzer</translation>
    </message>
    <message>
        <source>jsmith</source>
        <translation>jsmith</translation>
    </message>
    <message>
        <source>Sci</source>
        <translation>Sci</translation>
    </message>
    <message>
        <source>FIPS compliant mode</source>
        <translation>FIPS-konformer Modus</translation>
    </message>
    <message>
        <source>Save As Global</source>
        <translation>Für alle Benutzer speichern</translation>
    </message>
    <message>
        <source>The connection cannot be saved.</source>
        <translation>Die Verbindung kann nicht gespeichert werden.</translation>
    </message>
    <message>
        <source>A host name cannot begin with &quot;-&quot;.</source>
        <translation>Ein Hostname darf nicht mit „-“ beginnen.</translation>
    </message>
</context>
<context>
    <name>ConnectionListWidget</name>
    <message>
        <source>About %1</source>
        <translation>Über %1</translation>
    </message>
    <message>
        <source>Join a session.</source>
        <translation>An einer Sitzung teilnehmen.</translation>
    </message>
    <message>
        <source>Add a new connection.</source>
        <translation>Eine neue Verbindung hinzufügen.</translation>
    </message>
    <message>
        <source>Show the About dialog.</source>
        <translation>Den Dialog „Über“ anzeigen.</translation>
    </message>
    <message>
        <source>Documentation</source>
        <translation>Dokumentation</translation>
    </message>
    <message>
        <source>Show the program documentation.</source>
        <translation>Die Dokumentation des Programms anzeigen.</translation>
    </message>
    <message>
        <source>Edit the connection.</source>
        <translation>Die Verbindung bearbeiten.</translation>
    </message>
    <message>
        <source>Remove the connection.</source>
        <translation>Die Verbindung entfernen.</translation>
    </message>
    <message>
        <source>Failed to add the connection.</source>
        <translation>Die Verbindung konnte nicht hinzugefügt werden.</translation>
    </message>
    <message>
        <source>Failed to edit the connection &quot;%1&quot;.</source>
        <translation>Die Verbindung „%1“ konnte nicht bearbeitet werden.</translation>
    </message>
    <message>
        <source>Failed to remove the connection &quot;%1&quot;.</source>
        <translation>Die Verbindung „%1“ konnte nicht entfernt werden.</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>New Connection</source>
        <translation>Neue Verbindung</translation>
    </message>
    <message>
        <source>Remove connection &quot;%1&quot;?</source>
        <translation>Verbindung „%1“ entfernen?</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Keep</source>
        <translation>Behalten</translation>
    </message>
    <message>
        <source>There was a problem joining the session.</source>
        <translation>Beim Beitreten zur Sitzung ist ein Problem aufgetreten.</translation>
    </message>
    <message>
        <source>Invalid sharing key.</source>
        <translation>Ungültiger Freigabeschlüssel.</translation>
    </message>
    <message>
        <source>Viewing %1:%2</source>
        <translation>Ansicht von %1:%2</translation>
    </message>
    <message>
        <source>Make sure it is still running and that SSH tunneling is enabled.</source>
        <translation>Stellen Sie sicher, dass sie noch läuft und SSH-Tunnel erlaubt sind.</translation>
    </message>
    <message>
        <source>Oops! We are not sure what happened here.</source>
        <translation>Hoppla! Wir wissen nicht genau, was hier passiert ist.</translation>
    </message>
    <message>
        <source>Please contact %1 support if this happens again.</source>
        <translation>Bitte wenden Sie sich an den Support von %1, falls dies erneut auftritt.</translation>
    </message>
    <message>
        <source>The session is no longer shared with this key.</source>
        <translation>Die Sitzung wird mit diesem Schlüssel nicht mehr geteilt.</translation>
    </message>
</context>
<context>
    <name>ConnectionModel</name>
    <message>
        <source>Uid: %1</source>
        <translation>UID: %1</translation>
    </message>
    <message>
        <source>Name: %1</source>
        <translation>Name: %1</translation>
    </message>
    <message>
        <source>Host: %1</source>
        <translation>Host: %1</translation>
    </message>
    <message>
        <source>Port: %1</source>
        <translation>Port: %1</translation>
    </message>
    <message>
        <source>User: %1</source>
        <translation>Benutzer: %1</translation>
    </message>
    <message>
        <source>Sci: %1</source>
        <translation>Sci: %1</translation>
    </message>
    <message>
        <source>FIPS mode enabled</source>
        <translation>FIPS-Modus eingeschaltet</translation>
    </message>
</context>
<context>
    <name>ErrorBox</name>
    <message>
        <source>%1 Error</source>
        <translation>%1 – Fehler</translation>
    </message>
</context>
<context>
    <name>JoinSessionDialog</name>
    <message>
        <source>Your Name</source>
        <translation>Ihr Name</translation>
    </message>
    <message>
        <source>jdoe</source>
        <translation>mmustermann</translation>
    </message>
    <message>
        <source>Sharing Key</source>
        <translation>Freigabeschlüssel</translation>
    </message>
    <message>
        <source>FIPS compliant mode</source>
        <translation>FIPS-konformer Modus</translation>
    </message>
</context>
<context>
    <name>JsonRpcHandler</name>
    <message>
        <source>Got invalid JSON</source>
        <translation>Ungültiges JSON empfangen</translation>
    </message>
</context>
<context>
    <name>OperationStatusDialog</name>
    <message>
        <source>Connecting...</source>
        <translation>Verbindung wird hergestellt …</translation>
    </message>
    <message>
        <source>This host is not recognized by the system. Are you sure you want to continue?</source>
        <translation>Dieser Host ist dem System nicht bekannt. Möchten Sie wirklich fortfahren?</translation>
    </message>
    <message>
        <source>The username for this connection:</source>
        <translation>Der Benutzername für diese Verbindung:</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Fortfahren</translation>
    </message>
    <message>
        <source>Abort</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>QuestionDialog</name>
    <message>
        <source>Questions?</source>
        <translation>Fragen?</translation>
    </message>
</context>
<context>
    <name>RdpCertificatePrompt</name>
    <message>
        <source>New fingerprint: %1
Previous fingerprint: %2</source>
        <translation>Neuer Fingerabdruck: %1
Bisheriger Fingerabdruck: %2</translation>
    </message>
    <message>
        <source>Fingerprint: %1</source>
        <translation>Fingerabdruck: %1</translation>
    </message>
    <message>
        <source>Subject: %1
Issuer: %2</source>
        <translation>Inhaber: %1
Aussteller: %2</translation>
    </message>
    <message>
        <source>Connect only if the session&apos;s owner confirms this fingerprint.</source>
        <translation>Verbinden Sie sich nur, wenn der Besitzer der Sitzung diesen Fingerabdruck bestätigt.</translation>
    </message>
    <message>
        <source>The certificate of %1 has changed since the last connection. Someone may be intercepting the connection.</source>
        <translation>Das Zertifikat von %1 hat sich seit der letzten Verbindung geändert. Möglicherweise wird die Verbindung abgehört.</translation>
    </message>
    <message>
        <source>The identity of %1 cannot be verified.</source>
        <translation>Die Identität von %1 kann nicht überprüft werden.</translation>
    </message>
    <message>
        <source>Trust Always</source>
        <translation>Immer vertrauen</translation>
    </message>
    <message>
        <source>Connect Once</source>
        <translation>Einmal verbinden</translation>
    </message>
</context>
<context>
    <name>RdpInstance</name>
    <message>
        <source>%1 now has control of the session.</source>
        <translation>%1 steuert jetzt die Sitzung.</translation>
    </message>
    <message>
        <source>%1 has joined the session.</source>
        <translation>%1 hat sich der Sitzung angeschlossen.</translation>
    </message>
    <message>
        <source>%1 has left the session.</source>
        <translation>%1 hat die Sitzung verlassen.</translation>
    </message>
</context>
<context>
    <name>RdpOptionsDialog</name>
    <message>
        <source>Change Update Settings</source>
        <translation>Aktualisierung selbst einstellen</translation>
    </message>
    <message>
        <source>Image Quality: Highest</source>
        <translation>Bildqualität: Höchste</translation>
    </message>
    <message>
        <source>Frame Rate: 60 fps</source>
        <translation>Bildrate: 60 fps</translation>
    </message>
    <message>
        <source>Frame Window: Off</source>
        <translation>Bildfenster: Aus</translation>
    </message>
    <message>
        <source>Zoom: %1</source>
        <translation>Zoom: %1</translation>
    </message>
    <message>
        <source>Highest</source>
        <translation>Höchste</translation>
    </message>
    <message>
        <source>Very Low</source>
        <translation>Sehr niedrig</translation>
    </message>
    <message>
        <source>Higher</source>
        <translation>Höher</translation>
    </message>
    <message>
        <source>Lower</source>
        <translation>Niedriger</translation>
    </message>
    <message>
        <source>Medium</source>
        <translation>Mittel</translation>
    </message>
    <message>
        <source>Image Quality: %1</source>
        <translation>Bildqualität: %1</translation>
    </message>
    <message>
        <source>Frame Rate: %1 fps</source>
        <translation>Bildrate: %1 fps</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Aus</translation>
    </message>
    <message>
        <source>Frame Window: %1</source>
        <translation>Bildfenster: %1</translation>
    </message>
</context>
<context>
    <name>RdpRailWidget</name>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Trennen</translation>
    </message>
</context>
<context>
    <name>RdpSharingDialog</name>
    <message>
        <source>Share the secret key.</source>
        <translation>Den geheimen Schlüssel weitergeben.</translation>
    </message>
    <message>
        <source>Turn sharing on/off.</source>
        <translation>Freigabe ein- oder ausschalten.</translation>
    </message>
    <message>
        <source>Email</source>
        <translation>E-Mail</translation>
    </message>
    <message>
        <source>Email the key.</source>
        <translation>Den Schlüssel per E-Mail senden.</translation>
    </message>
    <message>
        <source>Copy to Clipboard</source>
        <translation>In die Zwischenablage kopieren</translation>
    </message>
    <message>
        <source>Copy the key to the clipboard.</source>
        <translation>Den Schlüssel in die Zwischenablage kopieren.</translation>
    </message>
    <message>
        <source>Join %1 Session</source>
        <translation>An %1-Sitzung teilnehmen</translation>
    </message>
    <message>
        <source>To join the session enter the following key when prompted

%1</source>
        <translation>Um an der Sitzung teilzunehmen, geben Sie bei der Aufforderung den folgenden Schlüssel ein:

%1</translation>
    </message>
</context>
<context>
    <name>RdpSharingNotification</name>
    <message>
        <source>Hi!</source>
        <translation>Hallo!</translation>
    </message>
</context>
<context>
    <name>RdpToolbar</name>
    <message>
        <source>Disconnect the session.</source>
        <translation>Die Verbindung zur Sitzung trennen.</translation>
    </message>
    <message>
        <source>Toggle resize mode.</source>
        <translation>Größenanpassung ein- oder ausschalten.</translation>
    </message>
    <message>
        <source>Toggle fullscreen mode.</source>
        <translation>Vollbild ein- oder ausschalten.</translation>
    </message>
    <message>
        <source>Adjust session settings.</source>
        <translation>Die Einstellungen der Sitzung anpassen.</translation>
    </message>
    <message>
        <source>Show the sharing controls.</source>
        <translation>Die Steuerung der Freigabe anzeigen.</translation>
    </message>
</context>
<context>
    <name>RdpViewerModel</name>
    <message>
        <source>me</source>
        <translation>ich</translation>
    </message>
    <message>
        <source>owner</source>
        <translation>Besitzer</translation>
    </message>
    <message>
        <source>controller</source>
        <translation>steuert</translation>
    </message>
    <message>
        <source>Viewer</source>
        <translation>Zuschauer</translation>
    </message>
</context>
<context>
    <name>SessionListWidget</name>
    <message>
        <source>Manage bookmarks and history.</source>
        <translation>Lesezeichen und Verlauf verwalten.</translation>
    </message>
    <message>
        <source>Show the SSH log.</source>
        <translation>Das SSH-Protokoll anzeigen.</translation>
    </message>
    <message>
        <source>Start a new session.</source>
        <translation>Eine neue Sitzung starten.</translation>
    </message>
    <message>
        <source>There was a problem connecting to the session.</source>
        <translation>Beim Verbinden mit der Sitzung ist ein Problem aufgetreten.</translation>
    </message>
    <message>
        <source>Make sure it is still running and that SSH tunneling is enabled.</source>
        <translation>Stellen Sie sicher, dass sie noch läuft und SSH-Tunnel erlaubt sind.</translation>
    </message>
    <message>
        <source>Oops! We are not sure what happened here.</source>
        <translation>Hoppla! Wir wissen nicht genau, was hier passiert ist.</translation>
    </message>
    <message>
        <source>Please contact %1 support if this happens again.</source>
        <translation>Bitte wenden Sie sich an den Support von %1, wenn das noch einmal passiert.</translation>
    </message>
    <message>
        <source>Connection Log</source>
        <translation>Verbindungsprotokoll</translation>
    </message>
    <message>
        <source>Terminate &quot;%1&quot;?</source>
        <translation>„%1“ beenden?</translation>
    </message>
    <message>
        <source>Terminate</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Keep</source>
        <translation>Behalten</translation>
    </message>
    <message>
        <source>Failed to disconnect the session.</source>
        <translation>Die Verbindung zur Sitzung konnte nicht getrennt werden.</translation>
    </message>
    <message>
        <source>Failed to terminate the session.</source>
        <translation>Die Sitzung konnte nicht beendet werden.</translation>
    </message>
    <message>
        <source>Failed to start the session.</source>
        <translation>Die Sitzung konnte nicht gestartet werden.</translation>
    </message>
    <message>
        <source>Failed to connect to the session.</source>
        <translation>Die Verbindung zur Sitzung konnte nicht hergestellt werden.</translation>
    </message>
</context>
<context>
    <name>SessionModel</name>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Started</source>
        <translation>Gestartet</translation>
    </message>
    <message>
        <source>Last Connect</source>
        <translation>Zuletzt verbunden</translation>
    </message>
    <message>
        <source>Last Disconnect</source>
        <translation>Zuletzt getrennt</translation>
    </message>
</context>
<context>
    <name>SshDevice</name>
    <message>
        <source>%1 failed to start</source>
        <translation>%1 konnte nicht gestartet werden</translation>
    </message>
    <message>
        <source>%1 crashed</source>
        <translation>%1 ist abgestürzt</translation>
    </message>
    <message>
        <source>Failed to find an open port for tunneling</source>
        <translation>Kein freier Port für den Tunnel gefunden</translation>
    </message>
    <message>
        <source>%2 quit with error code %1</source>
        <translation>%2 wurde mit dem Fehlercode %1 beendet</translation>
    </message>
</context>
<context>
    <name>StartSessionDialog</name>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Command&lt;span style=&quot; color:#aa0000;&quot;&gt;*&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Befehl&lt;span style=&quot; color:#aa0000;&quot;&gt;*&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>xterm -ls</source>
        <translation>xterm -ls</translation>
    </message>
    <message>
        <source>   %1</source>
        <translation>   %1</translation>
    </message>
    <message>
        <source>Single Application</source>
        <translation>Einzelne Anwendung</translation>
    </message>
    <message>
        <source>   %1 (%2)</source>
        <translation>   %1 (%2)</translation>
    </message>
    <message>
        <source>Suggestions</source>
        <translation>Vorschläge</translation>
    </message>
    <message>
        <source>Bookmarks</source>
        <translation>Lesezeichen</translation>
    </message>
    <message>
        <source>History</source>
        <translation>Verlauf</translation>
    </message>
</context>
<context>
    <name>WindowModeWidget</name>
    <message>
        <source>Single Application</source>
        <translation>Einzelne Anwendung</translation>
    </message>
</context>
<context>
    <name>cookie</name>
    <message>
        <source>Opening crypto context failed</source>
        <translation>Der Kryptografie-Kontext konnte nicht geöffnet werden</translation>
    </message>
    <message>
        <source>Generating cookie failed</source>
        <translation>Das Cookie konnte nicht erzeugt werden</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Connections</source>
        <translation>Verbindungen</translation>
    </message>
</context>
</TS>
