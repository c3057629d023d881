#include "platform/latelibrary.h"

#include <dlfcn.h>

namespace TavSys {

namespace {

std::string LastLoaderError(const char* otherwise) {
  const char* text = ::dlerror();
  return text != nullptr ? std::string(text) : std::string(otherwise);
}

}  // namespace

void* LoadLibraryLate(const std::string& soname, std::string& why) {
  void* library = ::dlopen(soname.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (library == nullptr) why = LastLoaderError((soname + " cannot be loaded").c_str());
  return library;
}

void* FindLibrarySymbol(void* library, const char* name, std::string& why) {
  ::dlerror();  // a symbol's address may be null without an error
  void* address = ::dlsym(library, name);
  if (address == nullptr) why = LastLoaderError((std::string("no symbol ") + name).c_str());
  return address;
}

}  // namespace TavSys
