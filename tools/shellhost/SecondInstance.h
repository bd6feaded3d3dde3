// Explorer's way with a selection too large for the menu: the menu came from a
// handler that saw only the first items; the chosen entry is carried out by a
// second instance of the handler, made on a background thread in its own
// apartment and initialised with the whole selection.
#pragma once

#include <windows.h>

#include <string>

#include "Handlers.h"
#include "MenuModel.h"
#include "Selection.h"

struct SecondInstanceRequest {
    const Selection* selection = nullptr;
    RegisteredHandler handler;
    HWND owner = nullptr;
    POINT at = {0, 0};
    // The chosen entry in the first menu: its canonical verb when the handler
    // gives one, else its path of positions and captions.
    std::wstring verbW;
    MenuPath path;
    UINT insertedAt = 0;   // where the first instance's entries began in the top menu
    unsigned timeoutMs = 120000;
};

struct SecondInstanceResult {
    HRESULT hr = E_FAIL;
    std::string message;   // what happened on the way, UTF-8
};

// Runs the second instance and waits for it, pumping this thread's messages.
SecondInstanceResult RunSecondInstance(const SecondInstanceRequest& request);
