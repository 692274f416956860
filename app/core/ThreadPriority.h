#pragma once
// Thread priorities of the desktop program; one implementation per platform.

// Lowers the calling thread's priority, so that the lamp animation yields to the job and the
// dialog.
void LowerOwnPriority();
