// The selection as Windows 11 hands it over: an IShellItemArray. Unlike the
// classic menu, which must hand the converter 8-bit text of the ANSI code
// page, this module writes the converter's UTF-8 list: every item's
// file-system path goes on whole, whatever its characters and its length, and
// needs no 8.3 short name (data drives formatted by Windows 8 and later have
// none).
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <string>
#include <string_view>

namespace ItemSelection {

// True when `path`'s extension is one the menu is shown for: the classic
// menu's kinds and, on Windows 11 and as Windows 10's static verb, today's
// phone, web and camera pictures (HEIF/HEIC, AVIF, JPEG XL, camera raw).
bool IsMenuPicture(std::wstring_view path);

// True when `path` lies on a local fixed drive, told from its root alone
// (GetDriveTypeW; a UNC path is never one). No other drive may be touched
// while Explorer waits: a network folder can take seconds to answer.
bool OnLocalFixedDrive(std::wstring_view path);

enum class Verdict {
    Accepted,     // an item is a picture by its extension, or a folder
    NoneAccepted,
    Pending,      // deciding needs the file system of a drive that may be slow
};

// Looks no further than the first accepted item, and builds no list. With
// `mayBeSlow` false no file-system call is made for an item that is not on a
// local fixed drive: the answer is then Pending (GetState's E_PENDING).
Verdict FirstAccepted(IShellItemArray* items, bool mayBeSlow);

// The list file's text for the accepted items: UTF-8's byte-order mark, then
// each path in UTF-8 and CR LF. Empty when no item is accepted. Items without
// a file-system path (virtual folders' items) are passed over, as the classic
// menu's drop list leaves them out; so is a name that UTF-8 cannot carry (an
// unpaired surrogate, which no other program can write either).
std::string ListText(IShellItemArray* items);

}  // namespace ItemSelection
