// The wizard's last choices, kept for the next time in a key of the
// converter's own below the user's settings key:
//   HKEY_CURRENT_USER\Software\Vardel Software\Brindlework\Wizard
// The extension's values (section SETUP) are only ever read. Every value is
// text, as in the rest of the suite's settings; the folder is kept as UTF-16,
// so that a name outside the ANSI code page comes back whole.
#pragma once

#include <string>

namespace WizardChoices {

struct Choices {
    std::string format = "TOJPG";  // a converter token; empty keeps each source's format
    std::string size;              // empty: keep; "RS_<n>": preset n; "CUSTOM": width x height
    std::wstring width, height;    // the last custom size, as accepted
    bool noEnlarge = true;
    int quality = 90;              // 1 .. 100
    bool intoFolder = false;       // false: next to each source
    std::wstring folder;
};

constexpr char CustomSize[] = "CUSTOM";

// "Software\Vardel Software\Brindlework\Wizard", below HKEY_CURRENT_USER.
std::wstring KeyPath();

// The remembered choices; the defaults for anything missing or unreadable.
Choices Load();
// Keeps the choices; false when the key cannot be written (the run goes on).
bool Save(const Choices& choices);

}  // namespace WizardChoices
