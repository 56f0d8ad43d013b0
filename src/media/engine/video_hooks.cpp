#include "media/engine/video_hooks.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstdarg>
#include <filesystem>
#include <mutex>
#include <new>
#include <utility>

#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"

namespace lumivor {
namespace {

// Each module is loaded once per process and stays loaded: a picture or a context it handed out
// may outlive the engine that added it.
struct LoadedModules {
  std::mutex Lock;
  std::vector<std::pair<std::string, void*>> Entries;
};

LoadedModules& Loaded() {
  static LoadedModules* modules = new LoadedModules();  // never destroyed, like the handles
  return *modules;
}

void* LoadModule(const std::string& path, const std::string& fullPath) {
  LoadedModules& modules = Loaded();
  std::lock_guard<std::mutex> lock(modules.Lock);
  for (const auto& entry : modules.Entries) {
    if (entry.first == path) return entry.second;
  }
  dlerror();
  void* handle = dlopen(fullPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* message = dlerror();
    LibraryLog(AV_LOG_ERROR, "%s\n", message != nullptr ? message : "cannot load the module");
    return nullptr;
  }
  modules.Entries.emplace_back(path, handle);
  return handle;
}

// The module's folder is the current directory while it is loaded and configured, so that
// relative names in its arguments and its own start-up code resolve beside it.
class FolderScope {
 public:
  explicit FolderScope(const std::filesystem::path& folder) {
    if (folder.empty()) return;
    std::error_code error;
    previous_ = std::filesystem::current_path(error);
    if (error) return;
    std::filesystem::current_path(folder, error);
    switched_ = !error;
  }
  ~FolderScope() {
    if (!switched_) return;
    std::error_code error;
    std::filesystem::current_path(previous_, error);
  }
  FolderScope(const FolderScope&) = delete;
  FolderScope& operator=(const FolderScope&) = delete;

 private:
  std::filesystem::path previous_;
  bool switched_ = false;
};

template <typename T>
T LookUp(void* handle, const char* name) {
  return reinterpret_cast<T>(dlsym(handle, name));
}

}  // namespace

THookList::~THookList() { ReleaseHookModules(*this); }

int THookList::Count() const {
  int count = 0;
  for (const THookModule* module = First.get(); module != nullptr; module = module->Next.get()) ++count;
  return count;
}

int AddHookModule(THookList& list, const std::vector<std::string>& words) {
  if (words.empty()) return -2;
  const std::string& path = words[0];
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  const std::string fullPath = error ? path : absolute.string();
  const FolderScope folder(std::filesystem::path(path).has_parent_path() ? absolute.parent_path()
                                                                         : std::filesystem::path());

  void* handle = LoadModule(path, fullPath);
  if (handle == nullptr) return -1;

  std::unique_ptr<THookModule> module(new (std::nothrow) THookModule());
  if (!module) return AVERROR(ENOMEM);
  module->Configure = LookUp<THookConfigureProc>(handle, "Configure");
  module->Process = LookUp<THookProcessProc>(handle, "Process");
  module->Release = LookUp<THookReleaseProc>(handle, "Release");
  if (module->Process == nullptr) {
    LibraryLog(AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n", path.c_str());
    return -2;
  }
  if (module->Configure == nullptr && words.size() > 1) {
    LibraryLog(AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n", path.c_str());
    return -2;
  }
  if (words.size() > 1 || module->Configure != nullptr) {
    // Configure gets writable copies, as a program's argv would be.
    std::vector<std::string> copies(words);
    std::vector<char*> argv;
    for (std::string& word : copies) argv.push_back(word.data());
    argv.push_back(nullptr);
    if (module->Configure(&module->HookContext, static_cast<int>(words.size()), argv.data()) != 0) {
      LibraryLog(AV_LOG_ERROR, "Failed to Configure %s\n", path.c_str());
      return -22;
    }
  }

  std::unique_ptr<THookModule>* tail = &list.First;
  while (*tail) tail = &(*tail)->Next;
  *tail = std::move(module);
  return 0;
}

void ProcessHookModules(THookList& list, THookPicture* picture, int pixelFormat, int width, int height,
                        std::int64_t pts) {
  for (THookModule* module = list.First.get(); module != nullptr; module = module->Next.get()) {
    module->Process(module->HookContext, picture, pixelFormat, width, height, pts);
  }
}

void ReleaseHookModules(THookList& list) {
  std::unique_ptr<THookModule> module = std::move(list.First);
  while (module) {
    if (module->Release != nullptr) module->Release(module->HookContext);
    module = std::move(module->Next);  // frees the record just released, without recursion
  }
}

std::vector<std::string> SplitHookArgument(const std::string& argument) {
  const char separator = argument.find('|') != std::string::npos ? '|' : ' ';
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start <= argument.size()) {
    std::size_t end = argument.find(separator, start);
    if (end == std::string::npos) end = argument.size();
    if (end > start) words.push_back(argument.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

int AddVideoHookText(THookList& list, const std::string& argument) {
  const std::vector<std::string> words = SplitHookArgument(argument);
  if (words.size() > static_cast<std::size_t>(kMaxHookWords)) {
    LibraryLog(AV_LOG_ERROR, "Too many arguments for video hook %s\n", words[0].c_str());
    return -22;
  }
  return AddHookModule(list, words);
}

std::vector<std::string> LoadedHookPaths() {
  LoadedModules& modules = Loaded();
  std::lock_guard<std::mutex> lock(modules.Lock);
  std::vector<std::string> paths;
  for (const auto& entry : modules.Entries) paths.push_back(entry.first);
  return paths;
}

}  // namespace lumivor
