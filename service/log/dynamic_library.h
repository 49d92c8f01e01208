// One library loaded at run time by full path, with its exports resolved
// lazily into caller-numbered slots.
//
// Each slot caches one export's entry address and whether it has been looked
// up; a slot is looked up by name at most once per load, so a missing export
// costs one look-up per load. The library's own dependencies are looked for
// only in its folder and in System32, never in the current or the program's
// folder or along PATH, where someone could have planted a DLL. The object owns the module handle;
// unloading (or destroying) it frees the library and empties the slot table. Not thread-safe: one
// thread uses an object at a time.
#ifndef HALV_SERVICE_LOG_DYNAMIC_LIBRARY_H_
#define HALV_SERVICE_LOG_DYNAMIC_LIBRARY_H_

#include <cstddef>
#include <string>
#include <vector>

namespace halv {

class DynamicLibrary {
 public:
  // Generic entry address; the caller casts it to the export's real type.
  using Address = void (*)();

  struct cache_info {
    Address address = nullptr;  // null when missing or not yet looked up
    bool looked_up = false;
  };

  // Loads the library at `path` when it is non-empty; a failure (or an empty
  // path) leaves no library loaded. A full path loads that file, its
  // dependencies taken from its folder and System32; a bare name is taken
  // from System32 only.
  explicit DynamicLibrary(const std::string& path);
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  // Unloads the library.
  virtual ~DynamicLibrary();

  bool IsLoaded() const { return module_ != nullptr; }

  // The address of export `name`, cached in slot `slot`: null when no library
  // is loaded. Otherwise a slot not yet looked up is marked looked up and
  // filled by one look-up by name; a slot looked up before returns what it
  // holds (null for a missing export) without a new look-up. The table grows
  // to cover `slot`, new slots empty.
  Address Resolve(const char* name, std::size_t slot);

  // Frees the library if one is loaded and empties the slot table.
  void Unload();

  // The slot table, for inspection.
  const std::vector<cache_info>& slots() const { return slots_; }

 private:
  void* module_ = nullptr;  // HMODULE
  std::vector<cache_info> slots_;
};

}  // namespace halv

#endif  // HALV_SERVICE_LOG_DYNAMIC_LIBRARY_H_
