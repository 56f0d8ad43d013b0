#pragma once

// Run-time binding of SDL 2 for the player.
//
// Like the media libraries, SDL is opened with dlopen and never linked. Each
// TSDLLoader holds one copy of the library and a table of the functions the
// player calls, named like the exported functions; the player copies the
// table after a successful load, so a test may hand the player a table with
// some entries replaced.
//
// SDL keeps process-wide state, so only one loader at a time may hold a given
// library path: a second loader asking for a path that another one holds is
// refused. SDLInitLock() serialises loading and SDL initialisation across the
// process.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include <SDL.h>

// The functions the player calls.
#define LUMIVOR_SDL_FUNCTIONS(REQUIRED) \
  REQUIRED(SDL_GetVersion)              \
  REQUIRED(SDL_Init)                    \
  REQUIRED(SDL_Quit)                    \
  REQUIRED(SDL_WasInit)                 \
  REQUIRED(SDL_GetError)                \
  REQUIRED(SDL_ClearError)              \
  REQUIRED(SDL_SetHintWithPriority)     \
  REQUIRED(SDL_ResetHint)               \
  REQUIRED(SDL_OpenAudioDevice)         \
  REQUIRED(SDL_PauseAudioDevice)        \
  REQUIRED(SDL_CloseAudioDevice)        \
  REQUIRED(SDL_LockAudioDevice)         \
  REQUIRED(SDL_UnlockAudioDevice)       \
  REQUIRED(SDL_MixAudioFormat)          \
  REQUIRED(SDL_GetCurrentAudioDriver)   \
  REQUIRED(SDL_GetCurrentVideoDriver)   \
  REQUIRED(SDL_PumpEvents)              \
  REQUIRED(SDL_PeepEvents)              \
  REQUIRED(SDL_PushEvent)               \
  REQUIRED(SDL_FlushEvents)             \
  REQUIRED(SDL_EventState)              \
  REQUIRED(SDL_RegisterEvents)          \
  REQUIRED(SDL_GetDesktopDisplayMode)   \
  REQUIRED(SDL_CreateWindow)            \
  REQUIRED(SDL_CreateWindowFrom)        \
  REQUIRED(SDL_DestroyWindow)           \
  REQUIRED(SDL_GetWindowSize)           \
  REQUIRED(SDL_SetWindowSize)           \
  REQUIRED(SDL_SetWindowTitle)          \
  REQUIRED(SDL_CreateRenderer)          \
  REQUIRED(SDL_DestroyRenderer)         \
  REQUIRED(SDL_GetRendererOutputSize)   \
  REQUIRED(SDL_CreateTexture)           \
  REQUIRED(SDL_DestroyTexture)          \
  REQUIRED(SDL_UpdateYUVTexture)        \
  REQUIRED(SDL_SetRenderDrawColor)      \
  REQUIRED(SDL_RenderClear)             \
  REQUIRED(SDL_RenderCopy)              \
  REQUIRED(SDL_RenderPresent)           \
  REQUIRED(SDL_TLSCleanup)

namespace lumivor {

struct SDLFunctions {
#define LUMIVOR_SDL_MEMBER(name) decltype(&::name) name = nullptr;
  LUMIVOR_SDL_FUNCTIONS(LUMIVOR_SDL_MEMBER)
#undef LUMIVOR_SDL_MEMBER
};

// Ownership of SDL objects, one alias per SDL type, as library_objects.h does for the media
// libraries: every exit path and every exception releases what is held. The deleter carries the
// function from the table the object was made through (a test may have replaced entries), and
// SDL stays mapped for the process (see TSDLLoader::Load), so an owner may outlive its loader.
struct SDLWindowDestroy {
  decltype(&::SDL_DestroyWindow) Destroy = nullptr;
  void operator()(SDL_Window* window) const {
    if (Destroy != nullptr) Destroy(window);
  }
};
using SDLWindowPtr = std::unique_ptr<SDL_Window, SDLWindowDestroy>;

struct SDLRendererDestroy {
  decltype(&::SDL_DestroyRenderer) Destroy = nullptr;
  void operator()(SDL_Renderer* renderer) const {
    if (Destroy != nullptr) Destroy(renderer);
  }
};
using SDLRendererPtr = std::unique_ptr<SDL_Renderer, SDLRendererDestroy>;

struct SDLTextureDestroy {
  decltype(&::SDL_DestroyTexture) Destroy = nullptr;
  void operator()(SDL_Texture* texture) const {
    if (Destroy != nullptr) Destroy(texture);
  }
};
using SDLTexturePtr = std::unique_ptr<SDL_Texture, SDLTextureDestroy>;

// An audio device is a number, 0 for none; this wrapper lets unique_ptr hold it like a pointer.
struct SDLAudioDeviceId {
  SDL_AudioDeviceID Id = 0;
  SDLAudioDeviceId() = default;
  SDLAudioDeviceId(std::nullptr_t) {}  // implicit: unique_ptr resets and compares with nullptr
  explicit SDLAudioDeviceId(SDL_AudioDeviceID id) : Id(id) {}
  explicit operator bool() const { return Id != 0; }
  friend bool operator==(const SDLAudioDeviceId&, const SDLAudioDeviceId&) = default;
};
struct SDLAudioDeviceClose {
  using pointer = SDLAudioDeviceId;
  decltype(&::SDL_CloseAudioDevice) Close = nullptr;
  void operator()(SDLAudioDeviceId device) const {
    if (Close != nullptr && device.Id != 0) Close(device.Id);
  }
};
using SDLAudioDevicePtr = std::unique_ptr<SDLAudioDeviceId, SDLAudioDeviceClose>;

// The SDL 2 library of this platform.
inline constexpr const char* SDLLibraryName = "libSDL2-2.0.so.0";

// Serialises SDL loading and initialisation process-wide.
std::recursive_mutex& SDLInitLock();

inline SDLWindowPtr OwnSDLWindow(const SDLFunctions& sdl, SDL_Window* window) {
  return SDLWindowPtr(window, SDLWindowDestroy{sdl.SDL_DestroyWindow});
}
inline SDLRendererPtr OwnSDLRenderer(const SDLFunctions& sdl, SDL_Renderer* renderer) {
  return SDLRendererPtr(renderer, SDLRendererDestroy{sdl.SDL_DestroyRenderer});
}
inline SDLTexturePtr OwnSDLTexture(const SDLFunctions& sdl, SDL_Texture* texture) {
  return SDLTexturePtr(texture, SDLTextureDestroy{sdl.SDL_DestroyTexture});
}
inline SDLAudioDevicePtr OwnSDLAudioDevice(const SDLFunctions& sdl, SDL_AudioDeviceID device) {
  return SDLAudioDevicePtr(SDLAudioDeviceId(device), SDLAudioDeviceClose{sdl.SDL_CloseAudioDevice});
}

class TSDLLoader {
 public:
  TSDLLoader() = default;
  ~TSDLLoader();
  TSDLLoader(const TSDLLoader&) = delete;
  TSDLLoader& operator=(const TSDLLoader&) = delete;

  // Loads folder + "/" + libraryName, or libraryName through the system
  // search when the folder has no such file (or is empty). The composed path
  // is the library's identity for the process-wide list either way.
  bool Load(const std::string& folder, const std::string& libraryName = SDLLibraryName);
  bool Loaded() const;
  void Unload();

  const std::string& Path() const { return path_; }
  const std::string& LastError() const { return lastError_; }
  const SDLFunctions& Functions() const { return functions_; }
  // From SDL_GetVersion, valid while loaded.
  int VersionMajor() const { return version_.major; }
  int VersionMinor() const { return version_.minor; }
  int VersionPatch() const { return version_.patch; }

 private:
  void UnloadLocked();

  std::string path_;
  void* handle_ = nullptr;
  bool bound_ = false;
  SDL_version version_{};
  std::string lastError_;
  SDLFunctions functions_;
};

}  // namespace lumivor
