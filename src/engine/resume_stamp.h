#pragma once

// The creation stamp of a part file: the value the resume file keeps beside a
// part so that a part is resumed only into the very file it was written to.
// It stays the same while the file is written and changes when the file is
// deleted and created anew.
//
// The stamp is the file's birth time (statx STATX_BTIME, through the file
// seam) in 100-nanosecond units since 1601-01-01 UTC, its low 16 bits mixed
// with the inode number and generation: birth times tick coarsely, and a file
// created anew within the same tick must still get another stamp. Where the file system
// keeps no birth time (or reports 0), the stamp is a value of the same units
// taken when the engine first opened the file for writing and kept in the
// extended attribute "user.vespar.stamp" (decimal text). A file system with
// neither has no stamp: its parts are written to the resume file without the
// time lines and are never resumed.

#include <cstdint>

namespace vespar {

// Name of the extended attribute that holds the stand-in stamp.
inline constexpr char kStampAttribute[] = "user.vespar.stamp";

// The stamp of the open file `fd`; 0 when it has none. Reads only.
uint64_t ReadCreationStamp(int fd);

// For a part file the engine has opened for writing: gives a file without a
// birth time its stand-in stamp when it has none yet (a file created anew
// never has one). Returns the stamp, 0 when the file system keeps neither.
uint64_t EnsureCreationStamp(int fd);

// 100-nanosecond units since 1601 for nanoseconds since 1970.
uint64_t StampFromUnixNanos(int64_t nanos);

}  // namespace vespar
