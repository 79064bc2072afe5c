#pragma once

// Message numbers of the engine protocol and the error codes they carry.
// The numbers are fixed: the window, the console and the workers all speak
// them. "Part" in a parameter is a CPartWorker pointer.

#include <cstdint>

namespace vespar {

// Thread messages handled by the manager thread.
enum ManagerMessage : uint32_t {
  MGRM_INIT = 2025,
  MGRM_QUIT = 2026,
  MGRM_WORKER_EXITED = 2028,
  MGRM_CANCEL_ALL = 2029,
  MGRM_PART_CANCELLED = 2030,  // lParam part
  MGRM_RESUME = 2031,
  MGRM_ADD_ITEM = 2035,  // lParam heap std::u16string (the item URL)
  MGRM_START = 2036,
  MGRM_NEXT_ITEM = 2037,
  MGRM_PART_DONE = 2039,  // wParam part
  MGRM_ADVANCE_ITEM = 2040,
  MGRM_ITEM_DONE = 2041,
  MGRM_WRITE_DATA = 2043,  // lParam WriteRequest
  MGRM_DISCARD_SAVED = 2047,
  MGRM_RESTORE_SAVED = 2048,
  // The front end's folder choice: lParam heap FolderChangeRecord. The folder
  // reaches the engine by message, never by a write from another thread.
  MGRM_SET_FOLDER = 2049,
  MGRM_PART_TIMEOUT = 3025,       // lParam part
  MGRM_PART_FAILED = 4025,        // wParam part, lParam code
  MGRM_PART_SOCKET_ERROR = 4026,  // wParam part, lParam error number
};

// Thread messages handled by a range worker.
enum WorkerMessage : uint32_t {
  WKRM_STOP = 2029,
  // Wakes a worker so it looks at stopRequested (sent on MGRM_QUIT).
  WKRM_WAKE = 2032,
};

// Window messages posted to the front end.
enum WindowNotification : uint32_t {
  DLGN_CANCELLED = 2029,
  DLGN_ITEM_ADDED = 2035,      // lParam ItemInfoRecord
  DLGN_STARTED = 2036,
  DLGN_ITEM_COMPLETE = 2040,   // lParam heap std::u16string (file name)
  DLGN_ITEM_DUPLICATE = 2044,  // lParam heap std::u16string (the URL)
  DLGN_ALL_COMPLETE = 2045,
  DLGN_ITEM_PROBED = 2046,     // lParam probeFailed (0 or 1)
  DLGN_PART_TIMEOUT = 3025,    // lParam part
  DLGN_ITEM_BEGIN = 3026,      // lParam ItemPlanRecord
  DLGN_PART_STARTED = 3027,    // lParam PartRowRecord
  DLGN_PROGRESS = 3028,        // wParam &totalWritten (std::atomic<int64_t>), lParam part
  DLGN_PART_COMPLETE = 3029,   // lParam part
  DLGN_IDLE = 3030,
  DLGN_ERROR = 4025,           // wParam part or 0, lParam code
  DLGN_SOCKET_ERROR = 4026,    // wParam part or the manager, lParam error number
};

// Codes of MGRM_PART_FAILED and DLGN_ERROR. An HTTP status (for example 404)
// travels as itself.
enum EngineError : int {
  kErrorOpenSocket = 2,
  kErrorConnectTimeout = 3,
  kErrorConnect = 4,
  kErrorServerClosed = 7,
  kErrorResolve = 8,
  kErrorOpenPartFile = 9,
  kErrorDuplicate = 10,
  kErrorNoItems = 11,
  kErrorProbeNoLength = 21,   // the size probe got no status line or no usable length
  kErrorWriteFailed = 22,     // a write to a part file failed; the part's writeError says why
  kErrorFinalName = 23,       // a final name could not be given
  kErrorLaunchOutside = 24,   // the launch file lies outside the download folder
  kErrorRangeRefused = 25,    // the server did not honour the range
  kErrorUnsafePath = 26,      // a name or folder from the server would leave the download folder
  kErrorThreadStart = 27,     // a worker thread could not be created
  kErrorNoMemory = 901,
};

}  // namespace vespar
