#pragma once

// The lock manager the older library generation called for its locks. This
// generation locks internally and has no way to install it, so it is built
// and tested but never installed; the loader still hands it to the
// registration slot when a library offers one.

namespace lumivor {

// The operations, numbered as the libraries' lock manager interface numbers
// them (create, obtain, release, destroy).
enum LockOp : int { lkCreate = 0, lkObtain = 1, lkRelease = 2, lkDestroy = 3 };
using LockManagerFunction = int (*)(void** mutex, int op);

// 0 on success, -1 on failure; messages go to the logger.
int LockManagerCallback(void** mutex, int op);
// Number of lock records alive (created by the callback and not destroyed).
int LockRecordCount();

// Process finalisation: first the callback becomes a no-op (a library may
// still call it while it is being unloaded), then the records left over are
// freed.
void ShutDownLockManager();
void FreeLockRecords();

}  // namespace lumivor
