// What the emulated host remembers about the mexFunction call in progress.
#ifndef CORVEL_HOST_CALL_SCOPE_H
#define CORVEL_HOST_CALL_SCOPE_H

#include "sdk/mx_array.h"

namespace corvel::host {

// Arrays made during a call are the call's until it hands them back in plhs.
void note_array_created(mxArray* array);
void note_array_destroyed(mxArray* array);

}  // namespace corvel::host

#endif
