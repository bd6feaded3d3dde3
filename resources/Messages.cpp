#include "resources/Messages.h"

namespace Messages {

// Umlauts are written as escapes so the bytes stay CP1252 whatever the
// editor's encoding. A hex escape swallows following hex digits, hence the
// split literals where a letter a-f follows one.
const char InvalidDataType[] = "Ung\xFCltiger Datentyp f\xFCr '%s'";
const char ErrorGettingData[] = "Fehler beim Holen der Daten f\xFCr '%s'";
const char ErrorSettingData[] = "Fehler beim Setzen der Daten f\xFCr '%s'";
const char RegistryWriteFailed[] = "Fehler beim Erstellen eines Eintrages in der Systemregistrierung";
const char CannotCreateFile[] = "Datei \"%s\" kann nicht erstellt werden. %s";
const char StreamWriteError[] = "Stream-Schreibfehler";
const char OutOfMemory[] = "Zu wenig Arbeitsspeicher";
const char ResourceNotFound[] = "Ressource %s nicht gefunden";
const char CaptionObjectError[] = "DAX-Fehler";
const char CaptionApplicationError[] = "Anwendungsfehler";

static std::string Substitute(const char* pattern, const std::string* args, size_t count) {
    std::string out;
    size_t next = 0;
    for (const char* p = pattern; *p; ++p) {
        if (p[0] == '%' && p[1] == 's' && next < count) {
            out += args[next++];
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

std::string Format(const char* pattern, const std::string& first) {
    return Substitute(pattern, &first, 1);
}

std::string Format(const char* pattern, const std::string& first, const std::string& second) {
    const std::string args[2] = {first, second};
    return Substitute(pattern, args, 2);
}

}  // namespace Messages
