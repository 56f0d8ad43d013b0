#include "media/runtime/sdl_load.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "media/runtime/format_text.h"

namespace lumivor {
namespace {

// Paths held by some loader in this process.
std::vector<std::string>& LoadedPaths() {
  static auto* paths = new std::vector<std::string>;
  return *paths;
}

template <typename Slot>
void BindSlot(void* handle, const char* name, const std::string& path, Slot& slot) {
  dlerror();
  void* address = dlsym(handle, name);
  if (address == nullptr) {
    const char* reason = dlerror();
    throw std::runtime_error(
        FormatText("Load function %s@%s error: %s", name, path.c_str(), reason != nullptr ? reason : "symbol is null"));
  }
  slot = reinterpret_cast<Slot>(address);
}

}  // namespace

std::recursive_mutex& SDLInitLock() {
  // Never destroyed: a player being torn down during exit may still take it.
  static auto* lock = new std::recursive_mutex;
  return *lock;
}

TSDLLoader::~TSDLLoader() { Unload(); }

bool TSDLLoader::Load(const std::string& folder, const std::string& libraryName) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += libraryName;
  if (bound_ && path == path_) return true;

  std::lock_guard<std::recursive_mutex> guard(SDLInitLock());
  auto& paths = LoadedPaths();
  if (std::find(paths.begin(), paths.end(), path) != paths.end()) {
    lastError_ = FormatText("%s alreay loaded in another instance.", path.c_str());
    return false;
  }
  UnloadLocked();

  std::string loadName = libraryName;
  std::error_code error;
  if (!folder.empty() && std::filesystem::is_regular_file(path, error)) loadName = path;
  dlerror();
  // RTLD_NODELETE: SDL leaves thread-local destructors and exit handlers
  // behind that must not point into an unmapped library.
  handle_ = dlopen(loadName.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    lastError_ = FormatText("Load library %s error: %s", path.c_str(), reason != nullptr ? reason : "unknown error");
    return false;
  }
  try {
#define LUMIVOR_BIND_SDL(name) BindSlot(handle_, #name, path, functions_.name);
    LUMIVOR_SDL_FUNCTIONS(LUMIVOR_BIND_SDL)
#undef LUMIVOR_BIND_SDL
    functions_.SDL_GetVersion(&version_);
  } catch (const std::exception& e) {
    lastError_ = e.what();
    functions_ = SDLFunctions{};
    dlclose(handle_);
    handle_ = nullptr;
    return false;
  }
  bound_ = true;
  path_ = path;
  paths.push_back(path);
  return true;
}

bool TSDLLoader::Loaded() const { return bound_; }

void TSDLLoader::Unload() {
  std::lock_guard<std::recursive_mutex> guard(SDLInitLock());
  UnloadLocked();
}

void TSDLLoader::UnloadLocked() {
  if (bound_) {
    auto& paths = LoadedPaths();
    paths.erase(std::remove(paths.begin(), paths.end(), path_), paths.end());
    bound_ = false;
  }
  functions_ = SDLFunctions{};
  version_ = SDL_version{};
  path_.clear();
  if (handle_ != nullptr) {
    dlclose(handle_);
    handle_ = nullptr;
  }
}

}  // namespace lumivor
