// The module's German message texts, as code page 1252 bytes.
#pragma once

#include <string>

namespace Messages {

extern const char InvalidDataType[];        // "Ungültiger Datentyp für '%s'"
extern const char ErrorGettingData[];       // "Fehler beim Holen der Daten für '%s'"
extern const char ErrorSettingData[];       // "Fehler beim Setzen der Daten für '%s'"
extern const char RegistryWriteFailed[];    // "Fehler beim Erstellen eines Eintrages in der Systemregistrierung"
extern const char CannotCreateFile[];       // "Datei "%s" kann nicht erstellt werden. %s"
extern const char StreamWriteError[];       // "Stream-Schreibfehler"
extern const char OutOfMemory[];            // "Zu wenig Arbeitsspeicher"
extern const char ResourceNotFound[];       // "Ressource %s nicht gefunden"
extern const char CaptionObjectError[];     // "DAX-Fehler"
extern const char CaptionApplicationError[];// "Anwendungsfehler"

// Replaces each "%s" of the pattern, in order, by the next argument.
std::string Format(const char* pattern, const std::string& first);
std::string Format(const char* pattern, const std::string& first, const std::string& second);

}  // namespace Messages
