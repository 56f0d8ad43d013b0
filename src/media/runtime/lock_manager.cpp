#include "media/runtime/lock_manager.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>

#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"

namespace lumivor {

namespace {

std::atomic<bool> ShuttingDown{false};

struct LockRecord {
  void** Slot = nullptr;
  std::unique_ptr<std::mutex> Mutex;
  int Id = 0;
  LockRecord* Next = nullptr;
};

// Never destroyed, so that a library calling back during exit finds them.
std::mutex& LockRecordsSection() {
  static auto* section = new std::mutex;
  return *section;
}
LockRecord* LockRecords = nullptr;
int NextMutexId = 1;

void LockLog(TLogLevel level, const std::string& message) { DefaultLogger().Log(nullptr, level, message); }

// The contract's assertions cannot throw here: the caller is C code. The
// failure is logged and reported to the library instead.
int LockAssertionFailed() {
  LockLog(llError, "[lock manager] Assertion failure");
  return -1;
}

bool Unlink(LockRecord* record) {
  for (LockRecord** link = &LockRecords; *link != nullptr; link = &(*link)->Next) {
    if (*link == record) {
      *link = record->Next;
      return true;
    }
  }
  return false;
}

bool Listed(const LockRecord* record) {
  for (const LockRecord* r = LockRecords; r != nullptr; r = r->Next) {
    if (r == record) return true;
  }
  return false;
}

}  // namespace

int LockManagerCallback(void** mutex, int op) {
  if (ShuttingDown) return 0;
  if (mutex == nullptr) return LockAssertionFailed();

  LockRecord* record = nullptr;
  {
    std::lock_guard<std::mutex> guard(LockRecordsSection());
    if (*mutex == nullptr) {
      record = new LockRecord;
      record->Slot = mutex;
      record->Next = LockRecords;
      LockRecords = record;
      *mutex = record;
    } else {
      record = static_cast<LockRecord*>(*mutex);
      // A pointer that is not one of ours is never dereferenced.
      if (!Listed(record)) return LockAssertionFailed();
    }
    if (record->Slot != mutex) return LockAssertionFailed();

    switch (op) {
      case lkCreate:
        if (record->Mutex) {
          LockLog(llError, FormatText("[lock manager] error, mutex [%d] already exist.", record->Id));
          return -1;
        }
        try {
          record->Mutex = std::make_unique<std::mutex>();
          record->Id = NextMutexId++;
        } catch (const std::exception& e) {
          LockLog(llError, FormatText("[lock manager] error, failed to create mutex: %s.", e.what()));
          return -1;
        }
        LockLog(llDebug, FormatText("[lock manager] mutex [%d] created.", record->Id));
        return 0;
      case lkDestroy: {
        int result = 0;
        if (record->Mutex) {
          LockLog(llDebug, FormatText("[lock manager] mutex [%d] destroyed.", record->Id));
        } else {
          LockLog(llError, "[lock manager] error, mutex not available.");
          result = -1;
        }
        if (!Unlink(record)) return LockAssertionFailed();
        *mutex = nullptr;
        delete record;
        return result;
      }
      case lkObtain:
      case lkRelease:
        break;
      default:
        LockLog(llError, FormatText("[lock manager] error, invalid mutex operation %d.", op));
        return -1;
    }
  }

  // Obtain and release run outside the records section: obtain may block,
  // and only threads sharing this very lock may be held up by it.
  std::mutex* lock = record->Mutex.get();
  if (lock == nullptr) {
    LockLog(llError, "[lock manager] error, mutex not available.");
    return -1;
  }
  if (op == lkObtain) {
    try {
      lock->lock();
    } catch (const std::system_error& e) {
      LockLog(llError, FormatText("[lock manager] error, could not wait on mutex [%d]: %s.", record->Id, e.what()));
      return -1;
    }
    LockLog(llDebug, FormatText("[lock manager] mutex [%d] obtained.", record->Id));
    return 0;
  }
  lock->unlock();
  LockLog(llDebug, FormatText("[lock manager] mutex [%d] release.", record->Id));
  return 0;
}

int LockRecordCount() {
  std::lock_guard<std::mutex> guard(LockRecordsSection());
  int count = 0;
  for (const LockRecord* r = LockRecords; r != nullptr; r = r->Next) ++count;
  return count;
}

void ShutDownLockManager() { ShuttingDown = true; }

void FreeLockRecords() {
  std::lock_guard<std::mutex> guard(LockRecordsSection());
  while (LockRecords != nullptr) {
    LockRecord* next = LockRecords->Next;
    delete LockRecords;
    LockRecords = next;
  }
}

}  // namespace lumivor
