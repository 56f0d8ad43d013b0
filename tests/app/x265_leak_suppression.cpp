// x265, the HEVC encoder libheif writes the tests' HEIC photos with, keeps a small block from every
// encoder it opens and never frees it, whatever the caller releases. The leak checker is told to
// pass over blocks allocated inside that library, and inside fontconfig, which keeps the captions'
// font configuration for the life of the process (app/show/caption_art.cpp), and nothing else.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\nleak:libfontconfig.so\n"; }
