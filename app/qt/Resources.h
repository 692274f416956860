#pragma once
// The icon and the string table are compiled into the program's static library, whose
// registration the linker would drop unless something calls it.

void EnsureResources();
