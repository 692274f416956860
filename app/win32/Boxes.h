#pragma once
// The program's questions as the system's own windows: message boxes for texts and for the port
// question, the common open-file dialog for the HEX file.

#include "app/core/Prompts.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// Shows the prompt and returns the user's answer. With an owner the box is modal to it; without
// one it stands on its own and the dialog stays usable.
PromptAnswer AskWithBox(const Prompt& prompt, HWND owner);
