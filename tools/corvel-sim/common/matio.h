// MAT-files go through libmatio where the build has it (the Linux x86-64
// one); what the reader and the writer share of it.
#ifndef CORVEL_SIM_MATIO_H
#define CORVEL_SIM_MATIO_H

#include <memory>
#include <string>

#if defined(CORVEL_HAVE_MATIO)
#include <matio.h>
#endif

namespace corvel::sim {

// False where this build was made without libmatio.
bool mat_files_supported();
// What a build without libmatio says of `path`.
std::string mat_files_unsupported(const std::string& path);

#if defined(CORVEL_HAVE_MATIO)
struct MatCloser {
  void operator()(mat_t* mat) const { Mat_Close(mat); }
};
struct VarFreer {
  void operator()(matvar_t* var) const { Mat_VarFree(var); }
};
using MatHandle = std::unique_ptr<mat_t, MatCloser>;
using VarHandle = std::unique_ptr<matvar_t, VarFreer>;

// libmatio speaks of its troubles on standard error; ours are said in one
// line. Call before its first use.
void silence_matio();
#endif

}  // namespace corvel::sim

#endif
