/* The host's array API: the operations on mxArray handles that the block and
 * the gateway call. Our emulation (host/), the real host's libraries (through
 * generated import libraries) and GNU Octave each provide them. */
#ifndef CORVEL_SDK_MX_ARRAY_H
#define CORVEL_SDK_MX_ARRAY_H

#include <stddef.h>

#if defined(CORVEL_OCTAVE_MEX)
/* Octave's own declarations; it spells the 32-bit-index constructor without
 * the suffix. */
#include <mex.h>
#define mxCreateDoubleMatrix_700 mxCreateDoubleMatrix
#else

/* The array API lives in two host libraries, mx* in libmx and mex* in libmex:
 * exported where they are built, imported everywhere else. */
#if defined(_WIN32)
#if defined(CORVEL_BUILDING_LIBMX)
#define CORVEL_MX_API __declspec(dllexport)
#else
#define CORVEL_MX_API __declspec(dllimport)
#endif
#if defined(CORVEL_BUILDING_LIBMEX)
#define CORVEL_MEX_API __declspec(dllexport)
#else
#define CORVEL_MEX_API __declspec(dllimport)
#endif
#else
#define CORVEL_MX_API __attribute__((visibility("default")))
#define CORVEL_MEX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define CORVEL_NORETURN [[noreturn]]
#else
#include <stdbool.h>
#define CORVEL_NORETURN _Noreturn
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

/* Element 0 as a double, converted from the array's class; 0 for an empty array. */
CORVEL_MX_API double mxGetScalar(const mxArray* array);
/* The real data of any class; null for an empty array. */
CORVEL_MX_API void* mxGetData(const mxArray* array);
/* The real doubles of a double array; null for every other class. */
CORVEL_MX_API double* mxGetPr(const mxArray* array);
CORVEL_MX_API size_t mxGetNumberOfElements(const mxArray* array);
CORVEL_MX_API size_t mxGetM(const mxArray* array);
CORVEL_MX_API size_t mxGetN(const mxArray* array);

/* Class tests; true is nonzero. */
CORVEL_MX_API bool mxIsNumeric(const mxArray* array);
CORVEL_MX_API bool mxIsLogical(const mxArray* array);
CORVEL_MX_API bool mxIsEmpty(const mxArray* array);
CORVEL_MX_API bool mxIsSparse(const mxArray* array);
CORVEL_MX_API bool mxIsComplex(const mxArray* array);
CORVEL_MX_API bool mxIsDouble(const mxArray* array);

/* count * size zero-filled bytes, reclaimed by the host when the call that
 * asked for them returns. */
CORVEL_MX_API void* mxCalloc(size_t count, size_t size);
/* A rows x columns real double matrix of zeros, handed to the caller. */
CORVEL_MX_API mxArray* mxCreateDoubleMatrix_700(int rows, int columns, mxComplexity complexity);

/* Raises an error carrying text in the host; does not return. */
CORVEL_NORETURN CORVEL_MEX_API void mexErrMsgTxt(const char* text);

#ifdef __cplusplus
}
#endif

#endif /* CORVEL_OCTAVE_MEX */

#endif
