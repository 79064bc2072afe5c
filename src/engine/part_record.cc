#include "src/engine/part_record.h"

#include "src/engine/resume_stamp.h"
#include "src/platform/code_page.h"
#include "src/platform/file_system.h"

namespace vespar {

CPartRecord& CPartRecord::operator=(const CPartRecord& other) {
  if (this == &other) return *this;
  position = other.position.load();
  downType = other.downType;
  state = other.state.load();
  partIndex = other.partIndex;
  startOffset = other.startOffset;
  endOffset = other.endOffset;
  currentOffset = other.currentOffset.load();
  sourceUrl = other.sourceUrl;
  connectUrl = other.connectUrl;
  fileName = other.fileName;
  fileSize = other.fileSize;
  localPath = other.localPath;
  return *this;
}

CPartRecord::~CPartRecord() { ClosePartFile(); }

int CPartRecord::OpenPartFile() {
  ClosePartFile();
  int fd = -1;
  int error = CurrentFileSystem().OpenForWrite(ToUtf8(localPath + u".tmp"),
                                               OpenMode::kCreateOrKeep, &fd);
  if (error != 0) return error;
  fileHandle = fd;
  // A file system without birth times gets the stand-in stamp that lets
  // the resume file recognise this very file later.
  EnsureCreationStamp(fd);
  return 0;
}

void CPartRecord::ClosePartFile() {
  if (fileHandle >= 0) CurrentFileSystem().Close(fileHandle);
  fileHandle = -1;
}

CPartWorker::~CPartWorker() {
  // The thread has reported its end before a record is destroyed; joining
  // only waits for it to return.
  if (workerThread.joinable()) workerThread.join();
}

}  // namespace vespar
