#pragma once
// Libraries that only some jobs need (the renderer of placed PDF pages, the
// barcode encoder) are loaded when a job first calls them, not when the
// process starts: the dynamic linker then binds their symbols, and those of
// every library they pull in, only in the processes that use them.
#include <deque>
#include <mutex>
#include <string>
#include <utility>

namespace TavSys {

// A library loaded by its SONAME, its symbols kept local and bound as they
// are called; it stays loaded until the process ends. Null, with the reason
// in `why`, when it cannot be loaded.
void* LoadLibraryLate(const std::string& soname, std::string& why);

// The address of `name` in a library LoadLibraryLate gave (or in one that it
// pulls in); null, with the reason in `why`, when there is none.
void* FindLibrarySymbol(void* library, const char* name, std::string& why);

// Stores the function `name` of `library` in `function`; false, with the
// reason in `why`, when the library has no such symbol.
template <typename F>
bool FindLibraryFunction(void* library, const char* name, F*& function, std::string& why) {
  void* address = FindLibrarySymbol(library, name, why);
  function = reinterpret_cast<F*>(address);
  return address != nullptr;
}

// The functions of one late library: `Table` is a struct of typed function
// pointers, filled by `fill` (with FindLibraryFunction) when a caller first
// asks for it. Callers may ask from any thread.
template <typename Table>
class LateLibrary {
 public:
  // Fills every pointer of the table from the library; false, with the
  // reason in `why`, when one is missing.
  using Fill = bool (*)(void* library, Table& table, std::string& why);

  LateLibrary(std::string soname, Fill fill) : mSoname(std::move(soname)), mFill(fill) {}
  LateLibrary(const LateLibrary&) = delete;
  LateLibrary& operator=(const LateLibrary&) = delete;

  // The library's functions, loaded on the first call. Null, with the reason
  // in `why`, when the library or one of its functions is missing; the next
  // call tries again.
  const Table* Get(std::string& why) {
    std::lock_guard<std::mutex> lock(mMutex);
    if (mTable == nullptr) {
      void* library = LoadLibraryLate(mSoname, why);
      Table table{};
      if (library == nullptr || !mFill(library, table, why)) return nullptr;
      mTable = &mTables.emplace_back(table);
    }
    return mTable;
  }

  // The SONAME it is loaded by.
  std::string Name() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mSoname;
  }

  // Another library in its place from the next call on (tests name a missing
  // one, or one without the functions). Tables given out before stay valid,
  // as a library is never unloaded.
  void SetName(std::string soname) {
    std::lock_guard<std::mutex> lock(mMutex);
    mSoname = std::move(soname);
    mTable = nullptr;
  }

 private:
  std::mutex mMutex;
  std::string mSoname;
  Fill mFill;
  const Table* mTable = nullptr;  // into mTables
  std::deque<Table> mTables;      // every table given out, kept in place
};

}  // namespace TavSys
