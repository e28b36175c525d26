// The MEX file loads as a host loads it, privately (RTLD_LOCAL), into a
// process that has not put the array API in its global scope: its needed
// libmx.so and libmex.so come in with it. This program links neither.
#include <dlfcn.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: corvel_load_local MEXFILE\n");
    return 2;
  }
  if (dlsym(RTLD_DEFAULT, "mxGetScalar") != nullptr) {
    std::fprintf(stderr, "FAIL: the array API is already in the global scope\n");
    return 1;
  }
  void* mex = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (mex == nullptr) {
    std::fprintf(stderr, "FAIL: %s\n", dlerror());
    return 1;
  }
  if (dlsym(mex, "mexFunction") == nullptr) {
    std::fprintf(stderr, "FAIL: no mexFunction in %s\n", argv[1]);
    return 1;
  }
  if (dlsym(RTLD_DEFAULT, "mxGetScalar") != nullptr) {
    std::fprintf(stderr, "FAIL: loading the MEX file put the array API in the global scope\n");
    return 1;
  }
  std::printf("%s loaded with RTLD_LOCAL, its array API with it\n", argv[1]);
  dlclose(mex);
  return 0;
}
