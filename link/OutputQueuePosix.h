#pragma once
// How the POSIX port layer learns whether bytes of the previous packet still wait to leave a
// device, which it asks once at the start of every packet. Replaceable, so that a held line can
// be shown on devices that cannot hold one (pseudo-terminals have no CTS).

// Stores the number of bytes still queued for output on the open device fd; false when the
// device cannot tell.
using OutputQueueQuery = bool (*)(int fd, int* queued);

// Installs query; null restores the device's own count (TIOCOUTQ).
void SetOutputQueueQuery(OutputQueueQuery query);
