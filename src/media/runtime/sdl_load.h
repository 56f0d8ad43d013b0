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

// The SDL 2 library of this platform.
inline constexpr const char* SDLLibraryName = "libSDL2-2.0.so.0";

// Serialises SDL loading and initialisation process-wide.
std::recursive_mutex& SDLInitLock();

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
