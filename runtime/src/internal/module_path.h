// Paths of the running executable and of loaded modules (/proc/self/exe and dladdr).
#pragma once

#include <string>

namespace yar::internal {

bool ExecutablePath(std::string *path);
// Absolute path of the executable or shared library that holds the address; a null address
// stands for the module that holds the runtime itself.
bool ModulePathOf(const void *addr, std::string *path);
// Directory part of a path including its last '/'; empty when there is none.
std::string DirectoryOf(const std::string &path);
// Copies the text with its terminator into the caller's buffer; false (nothing written) when it
// does not fit.
bool CopyOut(const std::string &text, char *buf, int len);

}  // namespace yar::internal
