#pragma once
// The characters that separate the folders of a path: Windows paths may separate with either
// slash; elsewhere a backslash belongs to a name. One file per platform.

extern const char* const PathSeparators;
