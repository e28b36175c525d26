// The block's messages to its user, as the host shows them.
#ifndef CORVEL_BLOCK_MESSAGES_H
#define CORVEL_BLOCK_MESSAGES_H

#include "sdk/method_flags.h"

namespace corvel::messages {

inline constexpr const char* kOrderTooLarge =
    "Order of the differantiator must be an integer greater than zero and less or equal than 10.";
inline constexpr const char* kOrderNotPositiveInteger = "Order of the differantiator must be a positive integer.";
inline constexpr const char* kBadStepSize =
    "The step size either has to be -1 to specify an inherited setting or a positive real value.";
// printf format; %d is the parameter's position, counted from 1.
inline constexpr const char* kParameterClassFormat =
    "The data type and or complexity of parameter  %d does not match the information specified in the S-function "
    "Builder dialog. For non-double parameters you will need to cast them using int8, int16, int32, uint8, uint16, "
    "uint32 or boolean.";
inline constexpr const char* kContinuousSampleTime =
    "This block cannot be assigned a continuous sample time. Enter a sample time or choose a fixed-step solver.";
// The answers of the two methods the block has not, which the flag dispatch
// gives too: one text each, kept with the flags.
inline constexpr const char* kZeroCrossings = method_flags::kZeroCrossingsMessage;
inline constexpr const char* kTimeOfNextVarHit = method_flags::kTimeOfNextVarHitMessage;

}  // namespace corvel::messages

#endif
