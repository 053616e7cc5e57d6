<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>CDlgSettings</name>
    <message>
        <source>&amp;Telnet Application</source>
        <translation>&amp;Telnet-Programm</translation>
    </message>
    <message>
        <source>Telnet Program &amp;Arguments</source>
        <translation>Telnet-&amp;Argumente</translation>
    </message>
    <message>
        <source>%1 is replaced with IP Address</source>
        <translation>%1 steht für die IP-Adresse</translation>
    </message>
    <message>
        <source>Double &amp;Click Action</source>
        <translation>Aktion bei &amp;Doppelklick</translation>
    </message>
    <message>
        <source>Open Browser</source>
        <translation>Webbrowser</translation>
    </message>
    <message>
        <source>Open Telnet</source>
        <translation>Telnet</translation>
    </message>
    <message>
        <source>Copy IP Address to Clipboard</source>
        <translation>IP-Adresse kopieren</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Automatic Refresh</source>
        <translation>Aktualisierung</translation>
    </message>
    <message>
        <source>&amp;Refresh list automatically</source>
        <translation>Automatisch neu &amp;laden</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Re&amp;member devices between runs</source>
        <translation>Geräte dauerhaft &amp;merken</translation>
    </message>
    <message>
        <source>Choose the telnet program</source>
        <translation>Telnet-Programm auswählen</translation>
    </message>
</context>
<context>
    <name>CHyperLink</name>
    <message>
        <source>The operating system is out
of memory or resources.</source>
        <translation>Dem Betriebssystem fehlt es
an Speicher oder Ressourcen.</translation>
    </message>
    <message>
        <source>The specified file was not found.</source>
        <translation>Die angegebene Datei wurde nicht gefunden.</translation>
    </message>
    <message>
        <source>The specified path was not found.</source>
        <translation>Der angegebene Pfad wurde nicht gefunden.</translation>
    </message>
    <message>
        <source>The operating system denied
access to the specified file.</source>
        <translation>Das Betriebssystem hat den Zugriff
auf die angegebene Datei verweigert.</translation>
    </message>
    <message>
        <source>There was not enough memory to complete the operation.</source>
        <translation>Für diesen Vorgang ist nicht genügend Speicher vorhanden.</translation>
    </message>
    <message>
        <source>The .EXE file is invalid
(non-Win32 .EXE or error in .EXE image).</source>
        <translation>Die ausführbare Datei ist ungültig
(kein Win32-Programm oder fehlerhaftes Programmabbild).</translation>
    </message>
    <message>
        <source>A sharing violation occurred. </source>
        <translation>Eine Freigabeverletzung ist aufgetreten. </translation>
    </message>
    <message>
        <source>The filename association is
incomplete or invalid.</source>
        <translation>Die Zuordnung zum Dateityp ist
unvollständig oder ungültig.</translation>
    </message>
    <message>
        <source>The DDE transaction could not
be completed because the request timed out.</source>
        <translation>Die DDE-Transaktion konnte nicht
abgeschlossen werden, weil die Anfrage abgelaufen ist.</translation>
    </message>
    <message>
        <source>The DDE transaction failed.</source>
        <translation>Die DDE-Transaktion ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>The DDE transaction could not
be completed because other DDE transactions
were being processed.</source>
        <translation>Die DDE-Transaktion konnte nicht
abgeschlossen werden, weil andere DDE-Transaktionen
gerade bearbeitet wurden.</translation>
    </message>
    <message>
        <source>There is no application associated
with the given filename extension.</source>
        <translation>Dieser Dateiendung ist
kein Programm zugeordnet.</translation>
    </message>
    <message>
        <source>The specified dynamic-link library was not found.</source>
        <translation>Die angegebene Programmbibliothek wurde nicht gefunden.</translation>
    </message>
    <message>
        <source>Unable to open hyperlink:

</source>
        <translation>Der Link kann nicht geöffnet werden:

</translation>
    </message>
    <message>
        <source>Unknown Error (%1) occurred.</source>
        <translation>Ein unbekannter Fehler (%1) ist aufgetreten.</translation>
    </message>
</context>
<context>
    <name>COLDiscoveryDlg</name>
    <message>
        <source>&lt;Available Orvalinks&gt;</source>
        <translation>&lt;Verfügbare Orvalinks&gt;</translation>
    </message>
    <message>
        <source>&amp;Refresh</source>
        <translation>&amp;Aktualisieren</translation>
    </message>
    <message>
        <source>Double click an entry to get to the Web interface.
Right click on an entry to see additional connection options.</source>
        <translation>Doppelklick auf einen Eintrag öffnet die Weboberfläche.
Rechtsklick auf einen Eintrag zeigt weitere Verbindungsarten.</translation>
    </message>
    <message>
        <source>&amp;Settings...</source>
        <translation>&amp;Einstellungen …</translation>
    </message>
    <message>
        <source>Clear filter</source>
        <translation>Filter leeren</translation>
    </message>
    <message>
        <source>Devices</source>
        <translation>Geräte</translation>
    </message>
    <message>
        <source>Last scan</source>
        <translation>Letzte Suche</translation>
    </message>
    <message>
        <source>Scan in progress</source>
        <translation>Suche läuft</translation>
    </message>
    <message>
        <source>Scan</source>
        <translation>Suche</translation>
    </message>
    <message>
        <source>Last action</source>
        <translation>Letzte Aktion</translation>
    </message>
</context>
<context>
    <name>CVeltoAboutDlg</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>About %1</source>
        <translation>Über %1</translation>
    </message>
    <message>
        <source>Version V%1 (Build %2)</source>
        <translation>Version V%1 (Build %2)</translation>
    </message>
    <message>
        <source>Program icon</source>
        <translation>Programmsymbol</translation>
    </message>
</context>
<context>
    <name>FailureText</name>
    <message>
        <source>it is a symbolic link</source>
        <translation>ein symbolischer Link</translation>
    </message>
    <message>
        <source>it is not a regular file</source>
        <translation>keine normale Datei</translation>
    </message>
    <message>
        <source>it belongs to another user</source>
        <translation>gehört einem anderen Benutzer</translation>
    </message>
    <message>
        <source>its folder belongs to another user</source>
        <translation>Ordner gehört einem anderen Benutzer</translation>
    </message>
    <message>
        <source>its folder can be written by every user</source>
        <translation>Ordner ist für alle Benutzer beschreibbar</translation>
    </message>
    <message>
        <source>{} is a symbolic link of another user</source>
        <translation>{} ist ein symbolischer Link eines anderen Benutzers</translation>
    </message>
    <message>
        <source>it is a folder</source>
        <translation>ein Ordner</translation>
    </message>
    <message>
        <source>{} is no IPv4 address</source>
        <translation>{} ist keine IPv4-Adresse</translation>
    </message>
    <message>
        <source>{} is a broadcast address</source>
        <translation>{} ist eine Broadcast-Adresse</translation>
    </message>
    <message>
        <source>{} is a network address</source>
        <translation>{} ist eine Netzadresse</translation>
    </message>
    <message>
        <source>{} is a multicast address</source>
        <translation>{} ist eine Multicast-Adresse</translation>
    </message>
    <message>
        <source>{} is an unspecified address</source>
        <translation>{} ist die unspezifizierte Adresse</translation>
    </message>
    <message>
        <source>{} is a loopback address</source>
        <translation>{} ist eine Loopback-Adresse</translation>
    </message>
    <message>
        <source>empty command line</source>
        <translation>leere Befehlszeile</translation>
    </message>
    <message>
        <source>not a known-devices file of oldiscovery-scan</source>
        <translation>keine Datei bekannter Geräte von oldiscovery-scan</translation>
    </message>
    <message>
        <source>written by a newer oldiscovery-scan (format version {})</source>
        <translation>von einem neueren oldiscovery-scan geschrieben (Formatversion {})</translation>
    </message>
    <message>
        <source>damaged: {}</source>
        <translation>beschädigt: {}</translation>
    </message>
    <message>
        <source>not found</source>
        <translation>nicht gefunden</translation>
    </message>
    <message>
        <source>not executable</source>
        <translation>nicht ausführbar</translation>
    </message>
    <message>
        <source>no terminal</source>
        <translation>kein Terminal</translation>
    </message>
    <message>
        <source>no Exec key</source>
        <translation>kein Exec-Schlüssel</translation>
    </message>
</context>
<context>
    <name>Menu</name>
    <message>
        <source>Webbrowser</source>
        <translation>Im Webbrowser öffnen</translation>
    </message>
    <message>
        <source>Telnet</source>
        <translation>Mit Telnet verbinden</translation>
    </message>
    <message>
        <source>Copy IP to clipboard</source>
        <translation>IP-Adresse kopieren</translation>
    </message>
    <message>
        <source>Locate</source>
        <translation>Lokalisieren</translation>
    </message>
</context>
<context>
    <name>StringTable</name>
    <message>
        <source>&amp;About OLDiscovery...</source>
        <translation>&amp;Über OLDiscovery …</translation>
    </message>
    <message>
        <source>To find devices this program needs the raw network right (cap_net_raw).
Run it as root, or grant the right once: sudo setcap cap_net_raw+p %1</source>
        <translation>Um Geräte zu finden, braucht dieses Programm das Recht auf Raw-Sockets (cap_net_raw).
Starten Sie es als root oder vergeben Sie das Recht einmalig: sudo setcap cap_net_raw+p %1</translation>
    </message>
    <message>
        <source>This application is not compatible with your operating system. Please use Windows 2000 or newer.</source>
        <translation>Dieses Programm ist mit Ihrem Betriebssystem nicht kompatibel. Bitte verwenden Sie Windows 2000 oder neuer.</translation>
    </message>
    <message>
        <source>Can&apos;t start background scanning thread. Application is aborted.</source>
        <translation>Der Suchvorgang im Hintergrund kann nicht gestartet werden. Das Programm wird beendet.</translation>
    </message>
    <message>
        <source>IP Address</source>
        <translation>IP-Adresse</translation>
    </message>
    <message>
        <source>MAC Address</source>
        <translation>MAC-Adresse</translation>
    </message>
    <message>
        <source>Device Type</source>
        <translation>Gerätetyp</translation>
    </message>
    <message>
        <source>Build</source>
        <translation>Build</translation>
    </message>
    <message>
        <source>Double click an entry to get to the web interface.
Right click on an entry to see additional connection options.</source>
        <translation>Doppelklick auf einen Eintrag öffnet die Weboberfläche.
Rechtsklick auf einen Eintrag zeigt weitere Verbindungsarten.</translation>
    </message>
    <message>
        <source>Double click an entry to open a Telnet session.
Right click on an entry to see additional connection options.</source>
        <translation>Doppelklick auf einen Eintrag öffnet eine Telnet-Sitzung.
Rechtsklick auf einen Eintrag zeigt weitere Verbindungsarten.</translation>
    </message>
    <message>
        <source>Double click an entry to copy the IP address to the clipboard.
Right click on an entry to see additional connection options.</source>
        <translation>Doppelklick auf einen Eintrag kopiert die IP-Adresse in die Zwischenablage.
Rechtsklick auf einen Eintrag zeigt weitere Verbindungsarten.</translation>
    </message>
    <message>
        <source>www.quarrin-velto.example</source>
        <translation>www.quarrin-velto.example</translation>
    </message>
    <message>
        <source>Quarrin-Velto Networks
Harbour Street 12
24103 Kiel, Germany</source>
        <translation>Quarrin-Velto Networks
Harbour Street 12
24103 Kiel
Deutschland</translation>
    </message>
    <message>
        <source>Development :</source>
        <translation>Entwicklung:</translation>
    </message>
    <message>
        <source>Orvalink Discovery Tool</source>
        <translation>Orvalink Discovery Tool</translation>
    </message>
    <message>
        <source>Available Orvalinks</source>
        <translation>Verfügbare Orvalinks</translation>
    </message>
    <message>
        <source>Copyright : </source>
        <translation>Urheberrecht: </translation>
    </message>
    <message>
        <source>This application is not compatible with your operating system. Please use Linux 3.10 or newer.</source>
        <translation>Dieses Programm ist mit Ihrem Betriebssystem nicht kompatibel. Bitte verwenden Sie Linux 3.10 oder neuer.</translation>
    </message>
    <message>
        <source>Mi&amp;nimize</source>
        <translation>&amp;Minimieren</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Schließen</translation>
    </message>
    <message>
        <source>System menu</source>
        <translation>Fenstermenü</translation>
    </message>
    <message>
        <source>Select Telnet Application</source>
        <translation>Telnet-Programm auswählen</translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation>Alle Dateien (*)</translation>
    </message>
    <message>
        <source>Save list...</source>
        <translation>Liste speichern …</translation>
    </message>
    <message>
        <source>Save List</source>
        <translation>Liste speichern</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSV-Dateien (*.csv)</translation>
    </message>
    <message>
        <source>JSON files (*.json)</source>
        <translation>JSON-Dateien (*.json)</translation>
    </message>
    <message>
        <source>The list could not be saved to %1:
%2</source>
        <translation>Die Liste konnte nicht in %1 gespeichert werden:
%2</translation>
    </message>
    <message>
        <source>No locate request was sent: %1.
Locate asks one device to make itself known.</source>
        <translation>Es wurde keine Lokalisierungsanfrage gesendet: %1.
Lokalisieren bittet ein einzelnes Gerät, sich bemerkbar zu machen.</translation>
    </message>
    <message>
        <source>%1 devices</source>
        <translation>%1 Geräte</translation>
    </message>
    <message>
        <source>1 device</source>
        <translation>1 Gerät</translation>
    </message>
    <message>
        <source>%1 of %2 devices</source>
        <translation>%1 von %2 Geräten</translation>
    </message>
    <message>
        <source>Last scan %1</source>
        <translation>Letzte Suche %1</translation>
    </message>
    <message>
        <source>Last scan %1 stopped at its time limit: the list may be incomplete</source>
        <translation>Letzte Suche %1 am Zeitlimit beendet: Die Liste ist womöglich unvollständig</translation>
    </message>
    <message>
        <source>Last scan %1 lost answers to a full receive queue: the list may be incomplete</source>
        <translation>Letzte Suche %1 verlor Antworten an eine volle Empfangswarteschlange: Die Liste ist womöglich unvollständig</translation>
    </message>
    <message>
        <source>Scanning…</source>
        <translation>Suche läuft …</translation>
    </message>
    <message>
        <source>Could not start %1: %2</source>
        <translation>%1 konnte nicht gestartet werden: %2</translation>
    </message>
    <message>
        <source>%1 failed: %2</source>
        <translation>%1 ist fehlgeschlagen: %2</translation>
    </message>
    <message>
        <source>exit status %1</source>
        <translation>Exit-Status %1</translation>
    </message>
    <message>
        <source>ended by signal %1</source>
        <translation>durch Signal %1 beendet</translation>
    </message>
    <message>
        <source>&amp;Find...</source>
        <translation>&amp;Suchen …</translation>
    </message>
    <message>
        <source>Filter</source>
        <translation>Filter</translation>
    </message>
    <message>
        <source>Filter by IP, MAC, type or build</source>
        <translation>Nach IP, MAC, Typ oder Build filtern</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Statuszeile</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Interface</source>
        <translation>Schnittstelle</translation>
    </message>
    <message>
        <source>Last seen</source>
        <translation>Zuletzt gesehen</translation>
    </message>
    <message>
        <source>Approved build</source>
        <translation>Freigegebener Build</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>last seen %1</source>
        <translation>zuletzt gesehen %1</translation>
    </message>
    <message>
        <source>new</source>
        <translation>neu</translation>
    </message>
    <message>
        <source>yes</source>
        <translation>ja</translation>
    </message>
    <message>
        <source>no</source>
        <translation>nein</translation>
    </message>
    <message>
        <source>Forget device</source>
        <translation>Gerät vergessen</translation>
    </message>
    <message>
        <source>The known devices cannot be kept in %1: %2</source>
        <translation>Die bekannten Geräte können nicht in %1 gespeichert werden: %2</translation>
    </message>
    <message>
        <source>The fleet file %1 was not taken, the last good one stays: %2</source>
        <translation>Die Flottendatei %1 wurde nicht übernommen, die letzte gültige gilt weiter: %2</translation>
    </message>
    <message>
        <source>New device: %1</source>
        <translation>Neues Gerät: %1</translation>
    </message>
    <message>
        <source>%1 new devices</source>
        <translation>%1 neue Geräte</translation>
    </message>
    <message>
        <source>Device gone: %1</source>
        <translation>Gerät verschwunden: %1</translation>
    </message>
    <message>
        <source>%1 devices gone</source>
        <translation>%1 Geräte verschwunden</translation>
    </message>
    <message>
        <source>Build not approved: %1</source>
        <translation>Build nicht freigegeben: %1</translation>
    </message>
    <message>
        <source>%1 devices with a build not approved</source>
        <translation>%1 Geräte mit nicht freigegebenem Build</translation>
    </message>
    <message>
        <source>Last scan %1 ran while an interface went away or down: the list may be wrong</source>
        <translation>Letzte Suche %1 lief, während eine Schnittstelle verschwand oder ausfiel: Die Liste ist womöglich falsch</translation>
    </message>
</context>
</TS>
