#!/bin/bash
# The installer packages under Wine, as a Windows user and an administrator
# meet them:
#   64-bit Windows (a 64-bit prefix), the x64 package: msiexec /i /qn installs;
#     the registry holds what regsvr32 writes for both modules, key for key;
#     a second user logged on (a hive below HKEY_USERS) gets INSTDIR_P1 at
#     once, a service account nothing; 64-bit and 32-bit programs right-click
#     a picture with the installed modules and the converter writes its
#     result; the per-user step, run as the shell runs Active Setup at a
#     logon, gives a user without settings INSTDIR_P1 and leaves a user's own
#     value alone; msiexec /x /qn leaves no file and no registry entry of the
#     package behind (both views), only the user's resize presets, and takes
#     the second user's INSTDIR_P1; an older version is upgraded in place;
#     REMOVESETTINGS=1 after the wizard was used leaves no key of ours; the
#     x86 package refuses to install. Windows 11's menu: the module and the
#     signed sparse package are installed, and the step that registers the
#     package does nothing, as Wine reports a build before 22000; the module
#     is registered as a class and as the static verb on HEIC, AVIF, JPEG XL
#     and camera raw (installer/StaticVerbExtensions.txt), and both go with
#     the package, as do every user's Active Setup records of both steps.
#   The same prefix, the per-user x64 package: it installs without writing
#     anything of its own below HKEY_LOCAL_MACHINE (only Windows Installer's
#     records of the product), registers in the user's classes what regsvr32
#     registers in the machine's, sets INSTDIR_P1, upgrades an older version,
#     a 64-bit program converts a picture through it, and its removal leaves
#     nothing, also with Windows 11 pretended (CurrentBuildNumber 22631):
#     the package registration is tried, with a sparse package of the
#     per-user identity, and installation and removal still leave no trace;
#     the static verb is written into the user's classes.
#   The package step as PowerShell sees it (a recording stand-in replaces
#     Wine's, tests/package/RecordingPowerShell.cpp): the per-machine
#     package installed into a folder named with ' ‚ ‛ ` and $, as Windows 11;
#     each call carries the folder exactly and runs fixed text only
#     (tests/package/check-package-step.py), and each kind of installation
#     removes its own identity alone.
#   32-bit Windows (a 32-bit prefix), the x86 package: install, registration
#     against regsvr32, a conversion, removal without a trace.
#
#   scripts/installer-tests.sh [--build-dir DIR] [--no-build]
#
#   --build-dir  the build tree with i686/ and x86_64/ (default: build)
#   --no-build   package the programs as they are built already
#
# The packages are built first (scripts/package.sh). Each run starts from
# fresh prefixes below DIR/installer-tests/; no Wine process is left running.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"

BUILD_DIR=build
PACKAGE_ARGS=()
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) BUILD_DIR="${2:?--build-dir needs a folder}"; shift 2 ;;
        --no-build) PACKAGE_ARGS+=(--no-build); shift ;;
        -h|--help) sed -n '2,36p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "installer-tests: unknown argument $1" >&2; exit 2 ;;
    esac
done
BUILD_DIR="$(realpath -m "$BUILD_DIR")"
WORK="$BUILD_DIR/installer-tests"

scripts/setup.sh msitools wixl imagemagick
# The 64-bit loader runs Wine's 64-bit msiexec, reg and regsvr32; "wine"
# starts the 32-bit ones.
WINE64="$(command -v wine64 || echo /usr/lib/wine/wine64)"
[ -x "$WINE64" ] || { echo "installer-tests: no 64-bit Wine loader ($WINE64)" >&2; exit 1; }

rm -rf "$WORK"
mkdir -p "$WORK/older"
scripts/package.sh --build-dir "$BUILD_DIR" "${PACKAGE_ARGS[@]}" >"$WORK/packages.txt"
mapfile -t PACKAGES <"$WORK/packages.txt"
if [ ${#PACKAGE_ARGS[@]} -eq 0 ]; then
    # The shell host right-clicks with the installed modules.
    for arch in i686 x86_64; do
        cmake --build "$BUILD_DIR/$arch" -j"$(nproc)" --target shellhost >/dev/null
    done
fi
PKG64="${PACKAGES[0]}"
PKG32="${PACKAGES[1]}"
PKGUSER="${PACKAGES[2]}"
VERSION="$(basename "$PKG64" | sed 's/^VardelQuennel-\(.*\)-x64\.msi$/\1/')"
IFS=. read -r v1 v2 v3 _ <<<"$VERSION"
if [ "$v1" -gt 0 ]; then OLDER="$((v1 - 1)).9.0.0"
elif [ "$v2" -gt 0 ]; then OLDER="0.$((v2 - 1)).0.0"
else OLDER="0.0.$((v3 - 1)).0"; fi
scripts/package.sh --build-dir "$BUILD_DIR" --version "$OLDER" --out "$WORK/older" --no-build >"$WORK/older/packages.txt"
mapfile -t OLDER_PACKAGES <"$WORK/older/packages.txt"
PKG64_OLD="${OLDER_PACKAGES[0]}"
PKGUSER_OLD="${OLDER_PACKAGES[2]}"

source scripts/wine-prefix.sh
# A step that fails outside a check ends the run: never silently.
finished=
trap 'exit_code=$?; [ $exit_code -eq 0 ] || [ -n "$finished" ] ||
      echo "installer-tests: ended early (exit $exit_code) in the step after the last line above" >&2
      wine_prefix_stop' EXIT

CLSID='{5B1C9E47-2D83-4A6F-9E10-7C4D2B8A63F1}'
ACTIVE_SETUP='{8E3D5A21-6C4B-4F7E-B2A9-1D0C7E5F9A36}'
SETUP_KEY='HKCU\Software\Vardel Software\Brindlework\SETUP'
INSTALL_DIR='C:\Program Files\Vardel Software\Brindlework'
INSTALL_PATH='Program Files/Vardel Software'   # below drive_c

CURRENT_VERSION='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion'
WINDOWS11_FILES="QuennelMenu.dll VardelQuennel.msix QuennelPackageSetup.exe"
MENU_CLSID='{B1DF1B31-F10C-4575-BE9E-643EB1BA1475}'
AS_PACKAGE_STEP='{4A3979EC-4484-4FE4-A327-1F12DC22EFE5}'
# The recording stand-in for PowerShell, built for the test.
x86_64-w64-mingw32-g++-posix -municode -static -Os -s -o "$WORK/powershell.exe" tests/package/RecordingPowerShell.cpp

failures=0
pass() { echo "  ok    $*"; }
fail() { echo "  FAIL  $*"; failures=$((failures + 1)); }
check() {  # description, command...
    local what="$1"; shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
section() { printf '\n== %s\n' "$*"; }
elapsed() { echo "  ($((SECONDS - $1)) s)"; }

# --- registry and file snapshots ------------------------------------------

# The registry as "[key]" and "[key]<TAB>value" lines, sorted. The 64-bit
# export of HKLM holds the 32-bit view as well (below its Wow6432Node keys).
# Left out: Wine's display probing, which changes with every start without a
# display, the counter its service manager raises at each of its starts, and the empty container keys that Windows Installer's product
# database and the shell's Active Setup records live in (present on every
# Windows; Wine makes them on first use). What is inside them is kept.
PLATFORM_CONTAINERS=(
    'HKEY_LOCAL_MACHINE\Software\Classes\Installer'
    'HKEY_LOCAL_MACHINE\Software\Classes\Installer\Features'
    'HKEY_LOCAL_MACHINE\Software\Classes\Installer\Products'
    'HKEY_LOCAL_MACHINE\Software\Classes\Installer\UpgradeCodes'
    'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer\UpgradeCodes'
    'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer\UserData'
    'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18'
    'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Components'
    'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Products'
    'HKEY_CURRENT_USER\Software\Microsoft\Active Setup'
    'HKEY_CURRENT_USER\Software\Microsoft\Active Setup\Installed Components'
    # The same for a per-user product, of Wine's one user.
    'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-21-0-0-0-1000'
    'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-21-0-0-0-1000\Components'
    'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-21-0-0-0-1000\Products'
    'HKEY_CURRENT_USER\Software\Microsoft\Installer'
    'HKEY_CURRENT_USER\Software\Microsoft\Installer\Features'
    'HKEY_CURRENT_USER\Software\Microsoft\Installer\Products'
    'HKEY_CURRENT_USER\Software\Microsoft\Installer\UpgradeCodes'
)
snapshot() {  # file
    local raw="$WORK/export.reg" hive
    : >"$1.unsorted"
    for hive in HKLM HKCU; do
        # Right after msiexec, Wine's reg has been seen to fail once in a
        # while; a second try reads the same registry.
        local try
        for try in 1 2 3; do
            "$WINE64" reg export "$hive" "$(winepath -w "$raw")" /y >/dev/null 2>"$WORK/export.err" && break
            echo "  (reg export $hive failed, try $try: $(head -c 300 "$WORK/export.err" | tr '\n' ' '))"
            [ "$try" -lt 3 ] || return 1
            sleep 2
        done
        iconv -f UTF-16LE -t UTF-8 "$raw" | tr -d '\r' | awk '
            /^\[/ { key = $0; print key; next }
            /^$/ || /^\xef\xbb\xbfWindows Registry/ || /^Windows Registry/ { next }
            { line = $0
              while (line ~ /\\$/ && (getline next_line) > 0) { sub(/\\$/, "", line); sub(/^ +/, "", next_line); line = line next_line }
              print key "\t" line }' >>"$1.unsorted"
    done
    printf '[%s]\n' "${PLATFORM_CONTAINERS[@]}" >"$WORK/containers.txt"
    grep -v -i -e '^\[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Video' \
               -e '^\[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent\]' "$1.unsorted" \
        | grep -v -i -x -F -f "$WORK/containers.txt" | LC_ALL=C sort >"$1"
    rm -f "$1.unsorted" "$raw"
}

# Every file and folder of drive_c but the system's own and the temp
# folders; of Windows only the installer's package cache (not the folder
# itself, which every Windows has).
files_snapshot() {  # file
    (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -path './users/*/Temp' -prune -o -print) \
        | LC_ALL=C sort >"$1"
    if [ -d "$WINEPREFIX/drive_c/windows/Installer" ]; then
        (cd "$WINEPREFIX/drive_c" && find ./windows/Installer -mindepth 1 -print) | LC_ALL=C sort >>"$1"
    fi
}

# What changed from one snapshot to the next: "+ line" and "- line".
changes() {  # before after
    LC_ALL=C comm -13 "$1" "$2" | sed 's/^/+ /'
    LC_ALL=C comm -23 "$1" "$2" | sed 's/^/- /'
}

# The registration's keys and values in both views: the class, the handler
# keys below "*" and "Folder" (with whatever else is registered there) and the
# approved list.
registration() {  # snapshot
    grep -i -e "\\\\Classes\\\\\\(Wow6432Node\\\\\\)\\{0,1\\}CLSID\\\\$CLSID" \
            -e '\\Classes\\\(Wow6432Node\\\)\{0,1\}\(\*\|Folder\)\\shellex' \
            -e '\\Shell Extensions\\Approved\]' "$1" | grep -v -i -F "$MENU_CLSID" || true
}

# What the packages write for the Windows 11 module beside its files: its
# class, and the static verb on every extension of the list, as reg export
# shows them.
static_verb_expected() {  # classes key as exported, the module's Windows path
    local module="${2//\\/\\\\}" extension key
    grep -v -e '^#' -e '^[[:space:]]*$' installer/StaticVerbExtensions.txt | while read -r extension; do
        key="[$1\\SystemFileAssociations\\$extension\\shell\\VardelQuennel]"
        printf '%s\t"%s"="%s"\n' "$key" MUIVerb 'Grafikformat ändern' "$key" ExplorerCommandHandler "$MENU_CLSID" \
            "$key" SubCommands '' "$key" MultiSelectModel Player "$key" Icon "$module,-101"
    done
    key="[$1\\CLSID\\$MENU_CLSID\\InprocServer32]"
    printf '%s\t@="%s"\n%s\t"ThreadingModel"="Apartment"\n' "$key" "$module" "$key"
}
static_verb_written() {  # snapshot, classes key as exported, the module's Windows path
    local missing
    # Keys compared without regard to ASCII case, as the registry does.
    missing="$(LC_ALL=C comm -23 <(static_verb_expected "$2" "$3" | LC_ALL=C tr 'A-Z' 'a-z' | LC_ALL=C sort) \
                                 <(LC_ALL=C tr 'A-Z' 'a-z' <"$1" | LC_ALL=C sort))"
    [ -z "$missing" ] || { echo "    missing:"; echo "$missing" | head -12 | sed 's/^/    | /'; return 1; }
}

# The recorded calls of the stand-in for PowerShell, emptied.
POWERSHELL_DIR='drive_c/windows/system32/WindowsPowerShell/v1.0'
powershell_calls() { echo "$WINEPREFIX/$POWERSHELL_DIR/calls.txt"; }
recording_powershell() {
    mkdir -p "$WINEPREFIX/$POWERSHELL_DIR"
    cp "$WORK/powershell.exe" "$WINEPREFIX/$POWERSHELL_DIR/powershell.exe"
    : >"$(powershell_calls)"
}

# The registration's values in the 64-bit view below one root, without the
# root's name, other programs' entries and the module's path: what the
# machine's and a user's registration must have alike.
registration_values() {  # snapshot, root (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER)
    registration "$1" | grep -F "[$2\\" | grep $'\t' \
        | grep -v -i -e 'Wow6432Node' -e 'Anderes Werkzeug' -e '{0F1E2D3C-' -e $'InprocServer32]\t@=' \
        | sed "s/^\[$2\\\\/[/" | LC_ALL=C sort -f
}

reg_value() {  # key, value name: the data, or nothing
    # reg.exe writes to a pipe in the OEM code page.
    "$WINE64" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | iconv -f CP437 -t UTF-8 \
        | sed -n "s/^    $2    REG_[A-Z_]*    //p"
}

package_setup() {  # install folder (Unix path), arguments...: the exit code of QuennelPackageSetup.exe
    local folder="$1" status=0; shift
    "$WINE64" "$(winepath -w "$folder/QuennelPackageSetup.exe")" "$@" || status=$?
    echo "$status"
}

key_missing() {  # key
    ! "$WINE64" reg query "$1" >/dev/null 2>&1
}

# Other programs' entries where ours go, as on any real Windows machine: the
# removal must leave them, and the keys holding them, alone.
add_foreign_entries() {  # reg command
    local reg=("$@") root
    for root in '*' Folder; do
        "${reg[@]}" add "HKCR\\$root\\shellex\\ContextMenuHandlers\\Anderes Werkzeug" /ve /d '{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}' /f >/dev/null
    done
    "${reg[@]}" add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved' \
        /v '{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}' /d 'Anderes Werkzeug' /f >/dev/null
}

product_code() {  # package
    msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'
}

msiexec_status() {  # loader, arguments...: msiexec's exit code
    local loader="$1"; shift
    local status=0
    "$loader" msiexec "$@" || status=$?
    echo "$status"
}

# --- using the installed modules ------------------------------------------

# Right-clicks a copy of a sample picture with the shell host of one
# architecture, chooses the PNG conversion and waits (bounded) for the
# converter's result, which ImageMagick must read as a PNG of the same size.
convert_with_host() {  # host architecture, folder below C:\, sample
    local arch="$1" folder="$2" sample="$3"
    local dir="$WINEPREFIX/drive_c/$folder" stem="${sample%.*}" status=0
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "samples/$sample" "$dir/"
    local loader=wine
    [ "$arch" = x86_64 ] && loader="$WINE64"
    "$loader" "$BUILD_DIR/$arch/bin/shellhost.exe" "C:\\$folder\\$sample" \
        --choose "in das PNG Format konvertieren" --wait-for-exit transform.exe --timeout 120 \
        >"$WORK/shellhost-$arch.log" 2>&1 || status=$?
    if [ $status -ne 0 ] || ! grep -q "InvokeCommand: 0x00000000" "$WORK/shellhost-$arch.log"; then
        echo "    shellhost.exe ($arch) exit code $status:"
        sed 's/^/    | /' "$WORK/shellhost-$arch.log"
        return 1
    fi
    local waited=0
    until [ -s "$dir/$stem.png" ] && identify "$dir/$stem.png" >/dev/null 2>&1; do
        [ $waited -lt 600 ] || { echo "    no $folder/$stem.png after 60 s"; ls -la "$dir"; return 1; }
        sleep 0.1
        waited=$((waited + 1))
    done
    local expected actual
    expected="$(identify -format '%w x %h' "samples/$sample")"
    actual="$(identify -format '%m %w x %h' "$dir/$stem.png")"
    echo "    $folder\\$stem.png: $actual"
    [ "$actual" = "PNG $expected" ]
}

# --- the per-user step, as the shell runs Active Setup at a logon -----------

# At a logon the shell compares each component's Version with the user's own
# record of it, runs StubPath where the record is missing or older, and then
# records the version for the user.
active_setup_logon() {
    local machine="HKLM\\SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\$ACTIVE_SETUP"
    local user="HKCU\\Software\\Microsoft\\Active Setup\\Installed Components\\$ACTIVE_SETUP"
    local version stub done_version
    version="$(reg_value "$machine" Version)"
    stub="$(reg_value "$machine" StubPath)"
    [ -n "$version" ] && [ -n "$stub" ] || { echo "    no Active Setup component $ACTIVE_SETUP"; return 1; }
    done_version="$(reg_value "$user" Version)"
    if [ "$done_version" != "$version" ]; then
        local program="${stub#\"}"
        program="${program%%\"*}"
        "$WINE64" "$program" || { echo "    $stub failed"; return 1; }
        "$WINE64" reg add "$user" /v Version /d "$version" /f >/dev/null
    fi
}

# A user who used the wizard: it keeps its last choices below the suite's
# key, as the converter writes them (converter/wizard/WizardChoices.cpp).
use_wizard() {
    local key='HKCU\Software\Vardel Software\Brindlework\Wizard' name value
    for name in Format=TOPNG Size=RS_2 Quality=85 IntoFolder=1 'Folder=C:\Bilder\Ergebnisse'; do
        value="${name#*=}"
        "$WINE64" reg add "$key" /v "${name%%=*}" /d "$value" /f >/dev/null
    done
}

# --- 64-bit Windows, the x64 package -----------------------------------------

section "64-bit Windows: $(basename "$PKG64")"
start=$SECONDS
wine_prefix_start "$WORK/win64"
elapsed $start
add_foreign_entries "$WINE64" reg
add_foreign_entries wine reg
recording_powershell
# A second user logged on, and a service account: Wine's reg cannot load a
# hive file, but a key made below HKEY_USERS is what a loaded hive looks
# like to a program that lists HKEY_USERS.
SECOND_USER='HKU\S-1-5-21-1000000001-1000000002-1000000003-1001'
SECOND_SETUP_KEY="$SECOND_USER\\Software\\Vardel Software\\Brindlework\\SETUP"
"$WINE64" reg add "$SECOND_USER\\Software\\Microsoft" /f >/dev/null
"$WINE64" reg add 'HKU\S-1-5-19\Software\Microsoft' /f >/dev/null
snapshot "$WORK/win64-before.txt"
files_snapshot "$WORK/win64-files-before.txt"

start=$SECONDS
status="$(msiexec_status "$WINE64" /i "$(winepath -w "$PKG64")" /qn)"
# The static verb, the Windows 11 module and the converter's readers must
# name the same newer kinds: a kind one of them leaves out would show an
# entry that converts nothing, or hide one that would.
same_kinds() {
    local verb menu readers
    verb=$(grep -v -e '^#' -e '^[[:space:]]*$' installer/StaticVerbExtensions.txt | sort)
    menu=$(sed -n '/NewerKinds\[\] = {/,/^};/p' menu11/ItemSelection.cpp | grep -o '"\.[a-z0-9]*"' | tr -d '"' | sort)
    readers=$( (sed -n '/const wchar_t\* const Extensions =/,/;/p' converter/readers/Raw.cpp;
                grep -h 'L"HEIF"\|L"JPEG XL"' converter/readers/Readers.cpp) |
              grep -o '\.[a-z0-9]\+' | grep -v '^\.[0-9]*$' | sort -u)
    [ -n "$verb" ] && [ "$verb" = "$menu" ] && [ "$verb" = "$readers" ]
}
check "the static verb, the Windows 11 module and the readers name the same newer kinds" same_kinds
check "msiexec /i /qn installs (exit code $status)" test "$status" = 0
elapsed $start
snapshot "$WORK/win64-installed.txt"
for f in QuennelExt.dll transform.exe QuennelUserSetup.exe x86/QuennelExt.dll $WINDOWS11_FILES; do
    check "installed $INSTALL_PATH/Brindlework/$f" test -f "$WINEPREFIX/drive_c/$INSTALL_PATH/Brindlework/$f"
done
check "QuennelExt.dll is the x86_64 build" \
    cmp -s "$WINEPREFIX/drive_c/$INSTALL_PATH/Brindlework/QuennelExt.dll" "$BUILD_DIR/x86_64/bin/QuennelExt.dll"
check "x86\\QuennelExt.dll is the i686 build" \
    cmp -s "$WINEPREFIX/drive_c/$INSTALL_PATH/Brindlework/x86/QuennelExt.dll" "$BUILD_DIR/i686/bin/QuennelExt.dll"
PRODUCT="$(product_code "$PKG64")"
UNINSTALL_KEY="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$PRODUCT"
check "\"Apps & features\" lists it: $(reg_value "$UNINSTALL_KEY" DisplayName) $(reg_value "$UNINSTALL_KEY" DisplayVersion), $(reg_value "$UNINSTALL_KEY" Publisher)" \
    test "$(reg_value "$UNINSTALL_KEY" DisplayName)" = "Vardel Quennel Grafikformat ändern" -a \
         "$(reg_value "$UNINSTALL_KEY" DisplayVersion)" = "$VERSION" -a "$(reg_value "$UNINSTALL_KEY" Publisher)" = "Vardel Software"
check "the installing user has INSTDIR_P1 = $INSTALL_DIR" test "$(reg_value "$SETUP_KEY" INSTDIR_P1)" = "$INSTALL_DIR"
check "the Windows 11 module is a class and the static verb on $(grep -c '^\.' installer/StaticVerbExtensions.txt) extensions (HKCR)" \
    static_verb_written "$WORK/win64-installed.txt" 'HKEY_LOCAL_MACHINE\Software\Classes' "$INSTALL_DIR\QuennelMenu.dll"
check "so has the second user logged on, at once" test "$(reg_value "$SECOND_SETUP_KEY" INSTDIR_P1)" = "$INSTALL_DIR"
check "the service account's hive gets nothing" key_missing 'HKU\S-1-5-19\Software\Vardel Software'

section "Using it: 64-bit and 32-bit programs right-click a picture"
start=$SECONDS
check "a 64-bit program's menu converts Skizze.bmp to PNG (64-bit module)" convert_with_host x86_64 Bilder64 Skizze.bmp
check "a 32-bit program's menu converts Skizze.bmp to PNG (32-bit module)" convert_with_host i686 Bilder32 Skizze.bmp
elapsed $start

section "Windows 11's menu, on a Windows before 11"
INSTALLED="$WINEPREFIX/drive_c/$INSTALL_PATH/Brindlework"
check "QuennelMenu.dll is the x86_64 build" cmp -s "$INSTALLED/QuennelMenu.dll" "$BUILD_DIR/x86_64/bin/QuennelMenu.dll"
check "the installed sparse package verifies against the test root" \
    bash -c "osslsigncode verify -CAfile '$BUILD_DIR/x86_64/package/test-cert/root.pem' -in '$INSTALLED/VardelQuennel.msix' | grep -qx 'Signature verification: ok'"
WINDOWS_BUILD="$(reg_value "$CURRENT_VERSION" CurrentBuildNumber)"
setup_status="$(package_setup "$INSTALLED" /register)"
check "Wine says build $WINDOWS_BUILD: the registration step skips it (exit code $setup_status)" \
    test "$WINDOWS_BUILD" -lt 22000 -a "$setup_status" = 10
setup_status="$(package_setup "$INSTALLED" /unregister /allusers)"
check "and so does the removal step (exit code $setup_status)" test "$setup_status" = 10
AS_WINDOWS11="HKLM\\SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\{4A3979EC-4484-4FE4-A327-1F12DC22EFE5}"
check "other users get the registration step at their logon (Active Setup: $(reg_value "$AS_WINDOWS11" StubPath))" \
    test "$(reg_value "$AS_WINDOWS11" StubPath)" = "\"$INSTALL_DIR\\QuennelPackageSetup.exe\" /register"

section "The per-user step at a logon"
"$WINE64" reg delete "HKCU\\Software\\Microsoft\\Active Setup\\Installed Components\\$ACTIVE_SETUP" /f >/dev/null 2>&1 || true
"$WINE64" reg add "$SETUP_KEY" /v INSTDIR_P1 /d 'D:\Eigene Programme\Brindlework' /f >/dev/null
"$WINE64" reg add "$SETUP_KEY" /v SIZEX6 /d 640 /f >/dev/null
"$WINE64" reg add "$SETUP_KEY" /v SIZEY6 /d 480 /f >/dev/null
AS_MACHINE="HKLM\\SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\$ACTIVE_SETUP"
check "Active Setup component: version $(reg_value "$AS_MACHINE" Version), StubPath $(reg_value "$AS_MACHINE" StubPath)" \
    test "$(reg_value "$AS_MACHINE" Version)" = "${VERSION//./,}" -a \
         "$(reg_value "$AS_MACHINE" StubPath)" = "\"$INSTALL_DIR\\QuennelUserSetup.exe\""
check "a user with an INSTDIR_P1 of their own logs on: Active Setup runs the step" active_setup_logon
check "their value stays: $(reg_value "$SETUP_KEY" INSTDIR_P1)" test "$(reg_value "$SETUP_KEY" INSTDIR_P1)" = 'D:\Eigene Programme\Brindlework'
"$WINE64" reg delete "HKCU\\Software\\Microsoft\\Active Setup\\Installed Components\\$ACTIVE_SETUP" /f >/dev/null
"$WINE64" reg delete "$SETUP_KEY" /v INSTDIR_P1 /f >/dev/null
check "a user without INSTDIR_P1 logs on: Active Setup runs the step" active_setup_logon
check "they have INSTDIR_P1 = $(reg_value "$SETUP_KEY" INSTDIR_P1), their presets stay" \
    test "$(reg_value "$SETUP_KEY" INSTDIR_P1)" = "$INSTALL_DIR" -a "$(reg_value "$SETUP_KEY" SIZEX6)" = 640

section "Removal: msiexec /x /qn"
# The second user ran both steps at a logon, the installing user the package
# step too: the shell's records of them.
SECOND_ACTIVE_SETUP="$SECOND_USER\\Software\\Microsoft\\Active Setup\\Installed Components\\$ACTIVE_SETUP"
SECOND_PACKAGE_STEP="$SECOND_USER\\Software\\Microsoft\\Active Setup\\Installed Components\\$AS_PACKAGE_STEP"
OWN_PACKAGE_STEP="HKCU\\Software\\Microsoft\\Active Setup\\Installed Components\\$AS_PACKAGE_STEP"
for record in "$SECOND_ACTIVE_SETUP" "$SECOND_PACKAGE_STEP" "$OWN_PACKAGE_STEP"; do
    "$WINE64" reg add "$record" /v Version /d "${VERSION//./,}" /f >/dev/null
done
start=$SECONDS
status="$(msiexec_status "$WINE64" /x "$PRODUCT" /qn)"
check "msiexec /x /qn removes it (exit code $status)" test "$status" = 0
elapsed $start
snapshot "$WORK/win64-removed.txt"
files_snapshot "$WORK/win64-files-removed.txt"
changes "$WORK/win64-before.txt" "$WORK/win64-removed.txt" >"$WORK/win64-removed.diff"
# Left by design: the user's own presets, in the keys that hold them.
cat >"$WORK/win64-kept.diff" <<'EOF'
+ [HKEY_CURRENT_USER\Software\Vardel Software\Brindlework\SETUP]	"SIZEX6"="640"
+ [HKEY_CURRENT_USER\Software\Vardel Software\Brindlework\SETUP]	"SIZEY6"="480"
+ [HKEY_CURRENT_USER\Software\Vardel Software\Brindlework\SETUP]
+ [HKEY_CURRENT_USER\Software\Vardel Software\Brindlework]
+ [HKEY_CURRENT_USER\Software\Vardel Software]
EOF
check "the registry is as before, both views, but for the user's presets" \
    diff <(LC_ALL=C sort "$WORK/win64-kept.diff") <(LC_ALL=C sort "$WORK/win64-removed.diff")
check "no file or folder of the package is left (Program Files, Windows\\Installer)" \
    diff "$WORK/win64-files-before.txt" <(grep -v -e '^./Bilder' "$WORK/win64-files-removed.txt")
check "the second user's INSTDIR_P1 is gone, with the keys it was in" key_missing "$SECOND_USER\\Software\\Vardel Software"
check "and so are their Active Setup records of both steps (a new installation runs them for them again)" \
    bash -c "! '$WINE64' reg query '$SECOND_ACTIVE_SETUP' >/dev/null 2>&1 && ! '$WINE64' reg query '$SECOND_PACKAGE_STEP' >/dev/null 2>&1"
check "the installing user's record of the package step is gone too" key_missing "$OWN_PACKAGE_STEP"

section "Upgrade: $(basename "$PKG64_OLD"), then $(basename "$PKG64")"
start=$SECONDS
status="$(msiexec_status "$WINE64" /i "$(winepath -w "$PKG64_OLD")" /qn)"
check "the older version installs (exit code $status)" test "$status" = 0
OLD_PRODUCT="$(product_code "$PKG64_OLD")"
check "it gives the installing user INSTDIR_P1 again, next to the kept presets" \
    test "$(reg_value "$SETUP_KEY" INSTDIR_P1)" = "$INSTALL_DIR" -a "$(reg_value "$SETUP_KEY" SIZEY6)" = 480
status="$(msiexec_status "$WINE64" /i "$(winepath -w "$PKG64")" /qn)"
check "the current version installs over it (exit code $status)" test "$status" = 0
elapsed $start
snapshot "$WORK/win64-upgraded.txt"
check "only the current version is listed in \"Apps & features\"" \
    test "$(reg_value "$UNINSTALL_KEY" DisplayVersion)" = "$VERSION" -a \
         -z "$(reg_value "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$OLD_PRODUCT" DisplayVersion)"
check "the registration is complete, as after a fresh installation" \
    diff <(registration "$WORK/win64-installed.txt") <(registration "$WORK/win64-upgraded.txt")
check "the installing user's INSTDIR_P1 still names the install folder" test "$(reg_value "$SETUP_KEY" INSTDIR_P1)" = "$INSTALL_DIR"
check "a 64-bit program's menu still converts" convert_with_host x86_64 Bilder64 Skizze.bmp
use_wizard
status="$(msiexec_status "$WINE64" /x "$PRODUCT" /qn REMOVESETTINGS=1)"
check "msiexec /x /qn REMOVESETTINGS=1 removes it with the presets and the wizard's choices (exit code $status)" \
    test "$status" = 0
snapshot "$WORK/win64-removed-all.txt"
changes "$WORK/win64-before.txt" "$WORK/win64-removed-all.txt" >"$WORK/win64-removed-all.diff"
check "the registry is exactly as before, both views" test ! -s "$WORK/win64-removed-all.diff"
[ -s "$WORK/win64-removed-all.diff" ] && cat "$WORK/win64-removed-all.diff"

section "The x86 package on 64-bit Windows"
status="$(msiexec_status "$WINE64" /i "$(winepath -w "$PKG32")" /qn)"
# 1603, ERROR_INSTALL_FAILURE; a Unix exit status keeps its low 8 bits (67).
check "refuses to install (exit code $status)" test $((status % 256)) = $((1603 % 256))
check "and installs nothing" test ! -e "$WINEPREFIX/drive_c/Program Files (x86)/Vardel Software"

section "For one user: $(basename "$PKGUSER_OLD"), then $(basename "$PKGUSER")"
start=$SECONDS
# No ALLUSERS, and bit 8 of the summary's word count: no elevation needed.
words="$(msiinfo suminfo "$PKGUSER" | sed -n 's/^Source: \([0-9]*\).*/\1/p')"
check "a per-user package that asks for no elevation (no ALLUSERS, word count $words)" \
    test -z "$(msiinfo export "$PKGUSER" Property | tr -d '\r' | grep '^ALLUSERS')" -a $((words & 8)) = 8
# Windows 11 pretended for this package's whole life: its registration step
# runs (Wine has no package registration; its PowerShell is a stub), and
# installation and removal must still succeed and leave nothing behind.
"$WINE64" reg add "$CURRENT_VERSION" /v CurrentBuildNumber /d 22631 /f >/dev/null
snapshot "$WORK/user-before.txt"
files_snapshot "$WORK/user-files-before.txt"
status="$(msiexec_status "$WINE64" /i "$(winepath -w "$PKGUSER_OLD")" /qn)"
check "the older version installs (exit code $status)" test "$status" = 0
status="$(msiexec_status "$WINE64" /i "$(winepath -w "$PKGUSER")" /qn)"
check "the current version installs over it (exit code $status)" test "$status" = 0
elapsed $start
snapshot "$WORK/user-installed.txt"
files_snapshot "$WORK/user-files-installed.txt"
changes "$WORK/user-before.txt" "$WORK/user-installed.txt" >"$WORK/user-installed.diff"
USER_PRODUCT="$(product_code "$PKGUSER")"
# Windows Installer's own records of a per-user product: where its package
# and components are (UserData\<the user's SID>) and, under Wine, also the
# upgrade code and the "Apps & features" entry. Nothing else may appear.
grep -i '^[+-] \[HKEY_LOCAL_MACHINE' "$WORK/user-installed.diff" \
    | grep -v -i -e '\\Installer\\UserData\\S-1-5-21-0-0-0-1000\\' -e '\\Installer\\UpgradeCodes\\' \
                 -e "\\\\Uninstall\\\\$USER_PRODUCT]" >"$WORK/user-machine.diff" || true
check "nothing of the package below HKEY_LOCAL_MACHINE, both views" test ! -s "$WORK/user-machine.diff"
[ -s "$WORK/user-machine.diff" ] && cat "$WORK/user-machine.diff"
check "the user's classes hold what regsvr32 writes into the machine's, the module's path aside" \
    diff -i <(registration_values "$WORK/win64-installed.txt" HKEY_LOCAL_MACHINE) \
            <(registration_values "$WORK/user-installed.txt" HKEY_CURRENT_USER)
USER_DIR="$("$WINE64" cmd /c echo %LOCALAPPDATA% | tr -d '\r')\\Programs\\Vardel Software\\Brindlework"
USER_PATH="$(winepath -u "$USER_DIR")"
for f in QuennelExt.dll transform.exe QuennelUserSetup.exe $WINDOWS11_FILES; do
    check "installed %LOCALAPPDATA%\\Programs\\Vardel Software\\Brindlework\\$f" test -f "$USER_PATH/$f"
done
# Only what follows is judged: Wine's msiexec runs the older version's
# removal steps on an upgrade, as if UPGRADINGPRODUCTCODE were not set.
: >"$(powershell_calls)"
setup_status="$(package_setup "$USER_PATH" /register)"
check "as Windows 11 the registration step is tried (exit code $setup_status, not 10: skipped)" \
    test "$setup_status" != 10 -a "$setup_status" != 1
check "its sparse package has the per-user identity" \
    bash -c "unzip -p '$USER_PATH/VardelQuennel.msix' AppxManifest.xml | grep -q '<Identity Name=\"VardelSoftware.QuennelUser\"'"
check "the Windows 11 module is a class and the static verb in the user's classes" \
    static_verb_written "$WORK/user-installed.txt" 'HKEY_CURRENT_USER\Software\Classes' "$USER_DIR\QuennelMenu.dll"
check "QuennelExt.dll is the x86_64 build" cmp -s "$USER_PATH/QuennelExt.dll" "$BUILD_DIR/x86_64/bin/QuennelExt.dll"
check "nothing in Program Files" test -z "$(changes "$WORK/user-files-before.txt" "$WORK/user-files-installed.txt" | grep '^. ./Program Files')"
check "the user has INSTDIR_P1 = $USER_DIR" test "$(reg_value "$SETUP_KEY" INSTDIR_P1)" = "$USER_DIR"
check "a 64-bit program's menu converts Skizze.bmp to PNG, with the user's own class" \
    convert_with_host x86_64 BilderU Skizze.bmp
check "the shell host took the handler from the user's classes" grep -q '(HKCU)' "$WORK/shellhost-x86_64.log"
use_wizard
start=$SECONDS
status="$(msiexec_status "$WINE64" /x "$USER_PRODUCT" /qn REMOVESETTINGS=1)"
check "msiexec /x /qn REMOVESETTINGS=1 removes it (exit code $status)" test "$status" = 0
elapsed $start
snapshot "$WORK/user-removed.txt"
files_snapshot "$WORK/user-files-removed.txt"
changes "$WORK/user-before.txt" "$WORK/user-removed.txt" >"$WORK/user-removed.diff"
check "the registry is exactly as before, both views" test ! -s "$WORK/user-removed.diff"
[ -s "$WORK/user-removed.diff" ] && cat "$WORK/user-removed.diff"
check "no file or folder of the package is left (the user's programs, Windows\\Installer)" \
    diff <(grep -v -e '^./Bilder' "$WORK/user-files-before.txt") <(grep -v -e '^./Bilder' "$WORK/user-files-removed.txt")
# The step run by hand, then the removal of the per-user identity alone.
check "PowerShell got the folder exactly and removed the per-user identity alone" \
    python3 tests/package/check-package-step.py "$(powershell_calls)" "$USER_DIR" VardelSoftware.QuennelUser \
        register unregister
"$WINE64" reg add "$CURRENT_VERSION" /v CurrentBuildNumber /d "$WINDOWS_BUILD" /f >/dev/null

section "Both packages for one user: either removal leaves the other working"
# The per-user module is the one the shell loads (the user's classes come
# first) and starts the converter INSTDIR_P1 names.
status="$(msiexec_status "$WINE64" /i "$(winepath -w "$PKG64")" /qn)"
check "the per-machine package installs (exit code $status)" test "$status" = 0
status="$(msiexec_status "$WINE64" /i "$(winepath -w "$PKGUSER")" /qn)"
check "then the per-user one (exit code $status)" test "$status" = 0
check "INSTDIR_P1 names the per-user installation, whose module the shell loads" \
    test "$(reg_value "$SETUP_KEY" INSTDIR_P1)" = "$USER_DIR"
status="$(msiexec_status "$WINE64" /x "$PRODUCT" /qn)"
check "the per-machine package goes (exit code $status)" test "$status" = 0
check "INSTDIR_P1 still names the per-user installation" test "$(reg_value "$SETUP_KEY" INSTDIR_P1)" = "$USER_DIR"
check "a click still converts, through the per-user module" convert_with_host x86_64 BilderU Skizze.bmp
status="$(msiexec_status "$WINE64" /i "$(winepath -w "$PKG64")" /qn)"
check "the per-machine package installs beside it again (exit code $status)" test "$status" = 0
check "INSTDIR_P1 stays with the per-user installation" test "$(reg_value "$SETUP_KEY" INSTDIR_P1)" = "$USER_DIR"
status="$(msiexec_status "$WINE64" /x "$USER_PRODUCT" /qn)"
check "the per-user package goes (exit code $status)" test "$status" = 0
check "INSTDIR_P1 now names the per-machine installation" test "$(reg_value "$SETUP_KEY" INSTDIR_P1)" = "$INSTALL_DIR"
check "a click still converts, through the per-machine module" convert_with_host x86_64 Bilder64 Skizze.bmp
status="$(msiexec_status "$WINE64" /x "$PRODUCT" /qn REMOVESETTINGS=1)"
check "the per-machine package goes too (exit code $status)" test "$status" = 0
snapshot "$WORK/both-removed.txt"
changes "$WORK/win64-before.txt" "$WORK/both-removed.txt" >"$WORK/both-removed.diff"
check "the registry is exactly as before, both views" test ! -s "$WORK/both-removed.diff"
[ -s "$WORK/both-removed.diff" ] && cat "$WORK/both-removed.diff"

section "Windows 11's package step, an install folder named with ' ‚ ‛ \` and \$"
# No blank: Wine's msiexec passes a property's value from its command line
# as it stands.
ODD_DIR='C:\Q'"'"'‚‛`$(Remove-Item)$env:TEMP;‘x’'
"$WINE64" reg add "$CURRENT_VERSION" /v CurrentBuildNumber /d 22631 /f >/dev/null
: >"$(powershell_calls)"
status="$(msiexec_status "$WINE64" /i "$(winepath -w "$PKG64")" /qn "INSTALLDIR=$ODD_DIR\\")"
check "the per-machine package installs there (exit code $status)" \
    test "$status" = 0 -a -f "$(winepath -u "$ODD_DIR")/QuennelPackageSetup.exe"
# Read from the export (UTF-16): reg query prints in the OEM code page,
# which has no ‚ or ‛.
snapshot "$WORK/odd-installed.txt"
odd_escaped="${ODD_DIR//\\/\\\\}"
check "other users' logon step names it" grep -q -i -F -x \
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Active Setup\\Installed Components\\$AS_PACKAGE_STEP]	\"StubPath\"=\"\\\"$odd_escaped\\\\QuennelPackageSetup.exe\\\" /register\"" \
    "$WORK/odd-installed.txt"
# INSTALLDIR again: Wine's msiexec resolves the folder from the package's
# default on removal, where Windows takes the installed one.
status="$(msiexec_status "$WINE64" /x "$PRODUCT" /qn "INSTALLDIR=$ODD_DIR\\")"
check "and goes (exit code $status)" test "$status" = 0 -a ! -e "$(winepath -u "$ODD_DIR")"
check "PowerShell got the folder exactly, as a value, and ran fixed text only; the removal named the per-machine identity" \
    python3 tests/package/check-package-step.py "$(powershell_calls)" "$ODD_DIR" VardelSoftware.Quennel \
        register unregister unregister-all
"$WINE64" reg add "$CURRENT_VERSION" /v CurrentBuildNumber /d "$WINDOWS_BUILD" /f >/dev/null
snapshot "$WORK/odd-removed.txt"
changes "$WORK/win64-before.txt" "$WORK/odd-removed.txt" >"$WORK/odd-removed.diff"
check "the registry is exactly as before, both views" test ! -s "$WORK/odd-removed.diff"
[ -s "$WORK/odd-removed.diff" ] && cat "$WORK/odd-removed.diff"

section "The registration against regsvr32's, both modules in the same places"
mkdir -p "$WINEPREFIX/drive_c/$INSTALL_PATH/Brindlework/x86"
cp "$BUILD_DIR/x86_64/bin/QuennelExt.dll" "$WINEPREFIX/drive_c/$INSTALL_PATH/Brindlework/"
cp "$BUILD_DIR/i686/bin/QuennelExt.dll" "$WINEPREFIX/drive_c/$INSTALL_PATH/Brindlework/x86/"
"$WINE64" regsvr32 /s "$INSTALL_DIR\\QuennelExt.dll"
wine regsvr32 /s "$INSTALL_DIR\\x86\\QuennelExt.dll"
snapshot "$WORK/win64-regsvr32.txt"
if diff <(registration "$WORK/win64-regsvr32.txt") <(registration "$WORK/win64-installed.txt") >"$WORK/win64-registration.diff"; then
    pass "the package's entries equal regsvr32's, key for key ($(registration "$WORK/win64-installed.txt" | grep -c -i "$CLSID") lines name the class)"
else
    fail "the package's entries differ from regsvr32's (< regsvr32, > package):"
    cat "$WORK/win64-registration.diff"
fi
wine_prefix_stop

# --- 32-bit Windows, the x86 package -----------------------------------------

section "32-bit Windows: $(basename "$PKG32")"
start=$SECONDS
export WINEARCH=win32
wine_prefix_start "$WORK/win32"
WINE64=wine   # the only loader of a 32-bit prefix
elapsed $start
add_foreign_entries wine reg
snapshot "$WORK/win32-before.txt"
files_snapshot "$WORK/win32-files-before.txt"
status="$(msiexec_status wine /i "$(winepath -w "$PKG32")" /qn)"
check "msiexec /i /qn installs (exit code $status)" test "$status" = 0
snapshot "$WORK/win32-installed.txt"
check "the installing user has INSTDIR_P1 = $INSTALL_DIR" test "$(reg_value "$SETUP_KEY" INSTDIR_P1)" = "$INSTALL_DIR"
check "a program's menu converts Skizze.bmp to PNG" convert_with_host i686 Bilder Skizze.bmp
status="$(msiexec_status wine /x "$(product_code "$PKG32")" /qn)"
check "msiexec /x /qn removes it (exit code $status)" test "$status" = 0
snapshot "$WORK/win32-removed.txt"
files_snapshot "$WORK/win32-files-removed.txt"
changes "$WORK/win32-before.txt" "$WORK/win32-removed.txt" >"$WORK/win32-removed.diff"
check "the registry is exactly as before" test ! -s "$WORK/win32-removed.diff"
[ -s "$WORK/win32-removed.diff" ] && cat "$WORK/win32-removed.diff"
check "no file or folder of the package is left" \
    diff "$WORK/win32-files-before.txt" <(grep -v -e '^./Bilder' "$WORK/win32-files-removed.txt")
mkdir -p "$WINEPREFIX/drive_c/$INSTALL_PATH/Brindlework"
cp "$BUILD_DIR/i686/bin/QuennelExt.dll" "$WINEPREFIX/drive_c/$INSTALL_PATH/Brindlework/"
wine regsvr32 /s "$INSTALL_DIR\\QuennelExt.dll"
snapshot "$WORK/win32-regsvr32.txt"
if diff <(registration "$WORK/win32-regsvr32.txt") <(registration "$WORK/win32-installed.txt") >"$WORK/win32-registration.diff"; then
    pass "the package's entries equal regsvr32's, key for key"
else
    fail "the package's entries differ from regsvr32's (< regsvr32, > package):"
    cat "$WORK/win32-registration.diff"
fi
wine_prefix_stop
unset WINEARCH

finished=yes
echo
if [ $failures -eq 0 ]; then
    echo "installer tests: all passed"
else
    echo "installer tests: $failures failed (files in $WORK)"
fi
[ $failures -eq 0 ]
