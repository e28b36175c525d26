#include "host/mex_module.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <vector>

namespace corvel::host {

namespace {
// A host offers a MEX file the whole array API. Referencing mexErrMsgTxt keeps
// libmex among the process's libraries even where the host itself never
// raises an error (the linker drops libraries nothing refers to).
[[gnu::used]] void (*const keep_libmex)(const char*) = &mexErrMsgTxt;
}  // namespace

#if defined(_WIN32)

MexModule::MexModule(const std::string& path) : path_(path) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    throw EngineError("cannot load MEX file " + path + " (Windows error " + std::to_string(GetLastError()) + ")");
  }
  handle_ = module;
  FARPROC address = GetProcAddress(module, "mexFunction");
  if (address == nullptr) {
    FreeLibrary(module);
    throw EngineError("MEX file " + path + " has no mexFunction export");
  }
  entry_ = reinterpret_cast<MexFunction>(reinterpret_cast<void*>(address));
}

MexModule::~MexModule() { FreeLibrary(static_cast<HMODULE>(handle_)); }

std::string executable_directory() {
  std::vector<char> buffer(32768);
  const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  std::string path(buffer.data(), length);
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

#else

MexModule::MexModule(const std::string& path) : path_(path) {
  // A path without a slash would make dlopen search the library path.
  const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
  handle_ = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    throw EngineError("cannot load MEX file " + path + ": " + (why != nullptr ? why : "unknown reason"));
  }
  void* entry = dlsym(handle_, "mexFunction");
  if (entry == nullptr) {
    dlclose(handle_);
    throw EngineError("MEX file " + path + " has no mexFunction export");
  }
  entry_ = reinterpret_cast<MexFunction>(entry);
}

MexModule::~MexModule() { dlclose(handle_); }

std::string executable_directory() {
  std::vector<char> buffer(4096);
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return ".";
  std::string path(buffer.data(), static_cast<size_t>(length));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

#endif

}  // namespace corvel::host
