#pragma once
// Thread priorities of the desktop program; one implementation per platform.

// Lowers the calling thread's priority, so that the lamp animation yields to the job and the
// dialog.
void LowerOwnPriority();

// Raises the calling thread's priority as far as the platform lets a program without special
// rights, so that the job's exchanges with the board are not held up by the displays.
void RaiseOwnPriority();
