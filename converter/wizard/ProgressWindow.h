// The small window that shows a run at work: a bar, "n von N", the current
// file and a cancel button. It appears only when a run takes longer than
// about half a second, and it only observes: the workers never wait for it.
// Where no window can be made (no desktop), the run goes on the same way.
#pragma once

#include <windows.h>

#include <functional>

#include "converter/pipeline/Pipeline.h"

namespace ProgressWindow {

// Runs `work` on a thread of its own and shows the progress until it
// returns. The cancel button, closing the window, or the event named
// CancelEventName() set by another program all set progress.cancel.
void Run(const std::function<void()>& work, Pipeline::Progress& progress, const wchar_t* caption);

// "Local\QuennelTransformCancel-<process id>": lets a caller (the wizard, a
// test, a script) cancel a run the way the button does.
std::wstring CancelEventName(DWORD processId);

}  // namespace ProgressWindow
