#include "media/runtime/ff_load.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>

#include "media/runtime/ff_log.h"
#include "media/runtime/floating_point.h"
#include "media/runtime/format_text.h"
#include "media/runtime/lock_manager.h"
#include "media/runtime/runtime_errors.h"

namespace lumivor {

// ------------------------------------------------------------------- slots

namespace lib {
#define LUMIVOR_DEFINE_SLOT(name) decltype(&::name) name = nullptr;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
LUMIVOR_AVCODEC_FUNCTIONS(LUMIVOR_DEFINE_SLOT)
LUMIVOR_AVDEVICE_FUNCTIONS(LUMIVOR_DEFINE_SLOT)
LUMIVOR_AVFILTER_FUNCTIONS(LUMIVOR_DEFINE_SLOT)
LUMIVOR_AVFORMAT_FUNCTIONS(LUMIVOR_DEFINE_SLOT)
LUMIVOR_AVUTIL_FUNCTIONS(LUMIVOR_DEFINE_SLOT)
LUMIVOR_SWRESAMPLE_FUNCTIONS(LUMIVOR_DEFINE_SLOT)
LUMIVOR_SWSCALE_FUNCTIONS(LUMIVOR_DEFINE_SLOT)
LUMIVOR_LIBC_FUNCTIONS(LUMIVOR_DEFINE_SLOT)
#pragma GCC diagnostic pop
#undef LUMIVOR_DEFINE_SLOT

int (*av_lockmgr_register)(LockManagerFunction callback) = nullptr;
}  // namespace lib

namespace {

// A missing mandatory function; caught inside the loader and turned into
// LastError, never seen by callers.
class ELoadFunction : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

template <typename Slot>
void BindSlot(void* handle, const char* name, const std::string& fileName, Slot& slot) {
  dlerror();
  void* address = dlsym(handle, name);
  if (address == nullptr) {
    const char* reason = dlerror();
    throw ELoadFunction(FormatText("Load function %s@%s error: %s", name, fileName.c_str(),
                                   reason != nullptr ? reason : "symbol is null"));
  }
  slot = reinterpret_cast<Slot>(address);
}

template <typename Slot>
void BindOptionalSlot(void* handle, const char* name, Slot& slot) {
  slot = reinterpret_cast<Slot>(dlsym(handle, name));
}

#define LUMIVOR_BIND_SLOT(name) BindSlot(handle, #name, fileName, lib::name);
#define LUMIVOR_CLEAR_SLOT(name) lib::name = nullptr;

// Each library's procedures: bind every slot and run its registration calls;
// clear every slot. A bind that fails part-way clears what it had set, so
// no slot ever points into a module that is about to be freed.

void BindAVCodec(const std::string& fileName, void* handle) {
  LUMIVOR_AVCODEC_FUNCTIONS(LUMIVOR_BIND_SLOT)
  BindOptionalSlot(handle, "av_lockmgr_register", lib::av_lockmgr_register);
}
void UnbindAVCodec() {
  LUMIVOR_AVCODEC_FUNCTIONS(LUMIVOR_CLEAR_SLOT)
  lib::av_lockmgr_register = nullptr;
}

void BindAVDevice(const std::string& fileName, void* handle) {
  LUMIVOR_AVDEVICE_FUNCTIONS(LUMIVOR_BIND_SLOT)
  lib::avdevice_register_all();
}
void UnbindAVDevice() { LUMIVOR_AVDEVICE_FUNCTIONS(LUMIVOR_CLEAR_SLOT) }

void BindAVFilter(const std::string& fileName, void* handle) {
  LUMIVOR_AVFILTER_FUNCTIONS(LUMIVOR_BIND_SLOT)
}
void UnbindAVFilter() { LUMIVOR_AVFILTER_FUNCTIONS(LUMIVOR_CLEAR_SLOT) }

void BindAVFormat(const std::string& fileName, void* handle) {
  LUMIVOR_AVFORMAT_FUNCTIONS(LUMIVOR_BIND_SLOT)
  lib::avformat_network_init();
}
void UnbindAVFormat() { LUMIVOR_AVFORMAT_FUNCTIONS(LUMIVOR_CLEAR_SLOT) }

void BindAVUtil(const std::string& fileName, void* handle) {
  LUMIVOR_AVUTIL_FUNCTIONS(LUMIVOR_BIND_SLOT)
}
void UnbindAVUtil() { LUMIVOR_AVUTIL_FUNCTIONS(LUMIVOR_CLEAR_SLOT) }

void BindSWResample(const std::string& fileName, void* handle) {
  LUMIVOR_SWRESAMPLE_FUNCTIONS(LUMIVOR_BIND_SLOT)
}
void UnbindSWResample() { LUMIVOR_SWRESAMPLE_FUNCTIONS(LUMIVOR_CLEAR_SLOT) }

void BindSWScale(const std::string& fileName, void* handle) {
  LUMIVOR_SWSCALE_FUNCTIONS(LUMIVOR_BIND_SLOT)
}
void UnbindSWScale() { LUMIVOR_SWSCALE_FUNCTIONS(LUMIVOR_CLEAR_SLOT) }

void BindLibC(const std::string& fileName, void* handle) {
  (void)fileName;
  (void)handle;
  LUMIVOR_LIBC_FUNCTIONS(LUMIVOR_BIND_SLOT)
}
void UnbindLibC() { LUMIVOR_LIBC_FUNCTIONS(LUMIVOR_CLEAR_SLOT) }

#undef LUMIVOR_BIND_SLOT
#undef LUMIVOR_CLEAR_SLOT

struct LibraryProcs {
  void (*Bind)(const std::string& fileName, void* handle);
  void (*Unbind)();
};

// One row per library, in index order.
const TLibraryItem LibraryTable[LibraryCount] = {
    {lbAVCodec, "avcodec", false, 59},
    {lbAVDevice, "avdevice", false, 59},
    {lbAVFilter, "avfilter", false, 8},
    {lbAVFormat, "avformat", false, 59},
    {lbAVUtil, "avutil", false, 57},
    {lbSWResample, "swresample", false, 4},
    {lbSWScale, "swscale", false, 6},
    {lbLibC, "c", true, 6},
};
const LibraryProcs LibraryProcTable[LibraryCount] = {
    {BindAVCodec, UnbindAVCodec},       {BindAVDevice, UnbindAVDevice},
    {BindAVFilter, UnbindAVFilter},     {BindAVFormat, UnbindAVFormat},
    {BindAVUtil, UnbindAVUtil},         {BindSWResample, UnbindSWResample},
    {BindSWScale, UnbindSWScale},       {BindLibC, UnbindLibC},
};

// Each library after the ones it depends on, so that copies in the library
// folder, loaded by full path, satisfy their siblings' dependencies before
// the system search is asked for them.
const LibraryIndex LoadOrder[LibraryCount] = {lbAVUtil,  lbSWResample, lbSWScale,  lbAVCodec,
                                          lbAVFormat, lbAVFilter,  lbAVDevice, lbLibC};

// ------------------------------------------------------ process life cycle

// Process set-up and finalisation live here, beside the loader, so that they
// are linked into every program that calls a library.
struct ProcessRuntime {
  ProcessRuntime() { ApplyLibraryFloatingPoint(); }
  ~ProcessRuntime() {
    ShutDownLockManager();
    RestoreFloatingPointEnvironment();
    TFFLoader::Instance().Unload(AllLibraries);
    FreeLockRecords();
  }
};
ProcessRuntime TheProcessRuntime;

}  // namespace

// --------------------------------------------------------------- TFFLoader

TFFLoader& TFFLoader::Instance() {
  // Never destroyed: the process finalisation above unloads the libraries,
  // and must still find the loader whatever the order of static destruction.
  static TFFLoader* loader = new TFFLoader;
  return *loader;
}

TFFLoader::TFFLoader() : libraryPath_(DefaultLibraryPath()) {}
TFFLoader::~TFFLoader() = default;

const TLibraryItem& TFFLoader::Item(LibraryIndex library) { return LibraryTable[library]; }

std::string TFFLoader::LibraryFileName(LibraryIndex library) {
  const TLibraryItem& item = LibraryTable[library];
  std::string name = std::string("lib") + item.Name + ".so";
  if (item.Version >= 0) name += "." + std::to_string(item.Version);
  return name;
}

std::string TFFLoader::DefaultLibraryPath() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::string();
  return (exe.parent_path() / "LibAV").string();
}

void TFFLoader::SetLibraryPath(const std::string& folder) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  libraryPath_ = folder;
}

std::string TFFLoader::LibraryPath() const {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return libraryPath_;
}

std::string TFFLoader::LastError() const {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return lastError_;
}

bool TFFLoader::LoadLibraryItem(LibraryIndex library) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return LoadLocked(library);
}

bool TFFLoader::LoadLocked(LibraryIndex library) {
  const TLibraryItem& item = LibraryTable[library];
  Status& status = status_[library];
  const std::string fileName = LibraryFileName(library);

  if (status.Handle == nullptr) {
    // A folder's libraries find each other because Load opens them in
    // dependency order: the dynamic linker matches a dependency against the
    // libraries already open. Neither the search path nor the current
    // directory is touched (the latter would race with every other thread).
    std::string loadName = fileName;
    // What a failure names: the folder's copy, or that the folder had none and the system search
    // was asked instead, so the user sees where the library was looked for.
    std::string triedName = fileName, triedWhere = "system search: ";
    if (!libraryPath_.empty() && !item.NoFolder) {
      std::string folder = libraryPath_;
      if (folder.back() != '/') folder += '/';
      std::error_code error;
      triedName = folder + fileName;
      if (std::filesystem::is_regular_file(folder + fileName, error)) {
        loadName = folder + fileName;
        triedWhere.clear();
      } else {
        triedWhere = "not in " + folder + ", system search: ";
      }
    }
    dlerror();
    // RTLD_NODELETE: unloading drops our handle and every slot, but the code
    // stays mapped. These libraries and the ones they pull in keep process
    // state (exit handlers, thread-local destructors, allocations referenced
    // from their globals) that does not survive being unmapped.
    status.Handle = dlopen(loadName.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (status.Handle == nullptr) {
      const char* reason = dlerror();
      lastError_ = FormatText("Load library %s error: %s", triedName.c_str(),
                              (triedWhere + (reason != nullptr ? reason : "unknown error")).c_str());
      return false;
    }
  }

  if (!status.Bound) {
    try {
      LibraryProcTable[library].Bind(fileName, status.Handle);
      status.Bound = true;
      ++status.BindCount;
    } catch (const std::exception& e) {
      LibraryProcTable[library].Unbind();
      lastError_ = e.what();
    }
  }
  if (!status.Bound) {
    UnloadLocked(library);
    return false;
  }

  if (library == lbAVCodec && lib::av_lockmgr_register != nullptr) {
    lib::av_lockmgr_register(LockManagerCallback);
  } else if (library == lbAVUtil) {
    DefaultLogger().InstallLogCallback();
  }
  return true;
}

void TFFLoader::UnloadLibraryItem(LibraryIndex library) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  UnloadLocked(library);
}

void TFFLoader::UnloadLocked(LibraryIndex library) {
  Status& status = status_[library];
  if (status.Bound) {
    if (library == lbAVCodec && lib::av_lockmgr_register != nullptr) {
      lib::av_lockmgr_register(nullptr);
    }
    if (library == lbAVFormat && lib::avformat_network_deinit != nullptr) {
      lib::avformat_network_deinit();
    }
    if (library == lbAVUtil && lib::av_log_set_callback != nullptr &&
        lib::av_log_default_callback != nullptr) {
      // The module may outlive this unload (a sibling still needs it); its
      // lines must not reach a logger that no longer has its slots.
      lib::av_log_set_callback(lib::av_log_default_callback);
    }
    LibraryProcTable[library].Unbind();
    status.Bound = false;
  }
  if (status.Handle != nullptr) {
    dlclose(status.Handle);
    status.Handle = nullptr;
  }
}

bool TFFLoader::Load(LibrarySet libraries) {
  if (libraries.Empty()) throw EAssertionFailed();
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  // Libraries of the set that were loaded already belong to whoever loaded
  // them, and may be in use right now: a failure takes back only what this
  // call loaded.
  LibrarySet loadedHere;
  for (LibraryIndex library : LoadOrder) {
    if (!libraries.Contains(library)) continue;
    const bool wasLoaded = status_[library].Handle != nullptr && status_[library].Bound;
    if (!LoadLocked(library)) {
      for (int i = 0; i < LibraryCount; ++i) {
        if (loadedHere.Contains(static_cast<LibraryIndex>(i))) UnloadLocked(static_cast<LibraryIndex>(i));
      }
      return false;
    }
    if (!wasLoaded) loadedHere.Add(library);
  }
  return true;
}

bool TFFLoader::IsLoaded(LibraryIndex library) const {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return status_[library].Handle != nullptr && status_[library].Bound;
}

bool TFFLoader::AllLoaded(LibrarySet libraries) const {
  if (libraries.Empty()) throw EAssertionFailed();
  for (int i = 0; i < LibraryCount; ++i) {
    const auto library = static_cast<LibraryIndex>(i);
    if (libraries.Contains(library) && !IsLoaded(library)) return false;
  }
  return true;
}

void TFFLoader::CheckLoaded(LibrarySet libraries) const {
  for (int i = 0; i < LibraryCount; ++i) {
    const auto library = static_cast<LibraryIndex>(i);
    if (libraries.Contains(library) && !IsLoaded(library)) {
      throw ELibraryNotLoaded(FormatText("Library %s not loaded.", LibraryTable[i].Name));
    }
  }
}

void TFFLoader::Unload(LibrarySet libraries) {
  if (libraries.Empty()) throw EAssertionFailed();
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  for (int i = 0; i < LibraryCount; ++i) {
    const auto library = static_cast<LibraryIndex>(i);
    if (libraries.Contains(library)) UnloadLocked(library);
  }
}

int TFFLoader::BindCount(LibraryIndex library) const {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return status_[library].BindCount;
}

}  // namespace lumivor
