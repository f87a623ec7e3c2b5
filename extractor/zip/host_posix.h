// Native helpers behind the file layer (host_posix.cpp), for the two
// native file layers only; the extractor code calls file_io.h.
#ifndef OSTREL_ZIP_HOST_POSIX_H
#define OSTREL_ZIP_HOST_POSIX_H

#include <stdint.h>
#include <time.h>

// out <- the DOS date and time as local broken-down time, the zone rules
// left to mktime. Returns 1, or 0 when a field is out of the range
// DosDateTimeToFileTime accepts (out is then undefined).
int DosToTm(uint16_t dosDate, uint16_t dosTime, struct tm *out);

// mktime with the local zone read once per process (see host_posix.cpp):
// the same result as mktime, without a look at the zone file per call.
time_t LocalToTime(struct tm *local);

#endif
