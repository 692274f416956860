#pragma once
// File checks made before a board is touched; one implementation per platform.

// Whether the programming log can be written under name in the working folder: name is absent
// and the folder takes a new file, or name is a plain file (not a link) that can be written.
bool CanWriteLogFile(const char* name);
