// The registration vector the host passes with flag 0 to register a block.
#ifndef CORVEL_HOST_REGISTRATION_H
#define CORVEL_HOST_REGISTRATION_H

#include "host/array_api.h"
#include "sdk/simstruct.h"

namespace corvel::host {

// A column of doubles: the SimStruct's address as signed 32-bit words (64-bit
// layout: low half, high half; 32-bit layout: the one word), then the version
// word. The caller destroys it.
mxArray* make_registration_vector(const SimStruct* S);

}  // namespace corvel::host

#endif
