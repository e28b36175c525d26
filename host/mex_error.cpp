// libmex: the mex* half of the array API.
#include "host/array_api.h"

extern "C" void mexErrMsgTxt(const char* text) { corvel::host::raise_mex_error(text); }
